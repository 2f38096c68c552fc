#include "softplc/plc/module_image.h"

#include <algorithm>
#include <optional>
#include <vector>

namespace softplc {

namespace {

// Little-endian reads that never leave the bytes: a read past the end gives 0. The checks below
// test every range before they read it; this is the second line.
class ByteView {
 public:
  explicit ByteView(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  uint64_t size() const { return bytes_.size(); }
  bool holds(uint64_t offset, uint64_t length) const { return offset <= size() && length <= size() - offset; }
  uint8_t u8(uint64_t offset) const { return holds(offset, 1) ? bytes_[offset] : 0; }
  uint16_t u16(uint64_t offset) const { return static_cast<uint16_t>(u8(offset) | u8(offset + 1) << 8); }
  uint32_t u32(uint64_t offset) const { return u16(offset) | static_cast<uint32_t>(u16(offset + 2)) << 16; }
  // The NUL-terminated text at `offset`, at most `limit` characters, or nothing if it does not end
  // within [offset, end).
  std::optional<std::string> text(uint64_t offset, uint64_t end, std::size_t limit) const {
    std::string result;
    for (uint64_t at = offset; at < end && at < size() && result.size() <= limit; ++at) {
      if (bytes_[at] == 0) return result;
      result += static_cast<char>(bytes_[at]);
    }
    return std::nullopt;
  }

 private:
  std::span<const uint8_t> bytes_;
};

std::string hex(uint64_t value) {
  static const char digits[] = "0123456789ABCDEF";
  std::string text;
  do {
    text.insert(text.begin(), digits[value & 0xF]);
    value >>= 4;
  } while (value != 0);
  return "0x" + text;
}

std::string num(uint64_t value) { return std::to_string(value); }

bool power_of_two(uint64_t value) { return value != 0 && (value & (value - 1)) == 0; }

// The image may span at most this much memory: more is a damaged size field, and more than a
// 32-bit process could map anyway.
constexpr uint64_t kMaxImageBytes = uint64_t{1} << 30;
constexpr uint64_t kPage = 4096;

Error damaged(const std::string& reason) { return runtime_error("it is damaged: " + reason); }

Error past_end(const std::string& what, uint64_t offset, uint64_t length, uint64_t size) {
  return runtime_error("it is cut short or damaged: " + what + " (file bytes " + num(offset) + " to " +
                       num(offset + length) + ") runs past the end of the file (" + num(size) + " bytes)");
}

// ---------------------------------------------------------------------------------------------
// ELF32 (the System V ABI, Intel386 supplement)

namespace elf {
constexpr uint8_t kClass32 = 1, kClass64 = 2, kData2Lsb = 1, kVersionCurrent = 1;
constexpr uint16_t kTypeExec = 2, kTypeDyn = 3, kMachine386 = 3, kMachineX8664 = 62;
constexpr uint32_t kHeaderSize = 52, kProgramHeaderSize = 32, kSectionHeaderSize = 40, kDynamicEntrySize = 8;
constexpr uint32_t kPtLoad = 1, kPtDynamic = 2, kPtTls = 7, kPtGnuStack = 0x6474E551;
constexpr uint32_t kShtStrtab = 3, kShtDynamic = 6, kShtNobits = 8;
constexpr uint32_t kShfWrite = 0x1, kShfAlloc = 0x2, kShfExecinstr = 0x4, kShfTls = 0x400;
constexpr uint32_t kPfX = 0x1, kPfW = 0x2;
constexpr uint16_t kShnXindex = 0xFFFF;
}  // namespace elf

struct Segment {
  uint32_t index, type, offset, vaddr, filesz, memsz, flags, align;
  uint64_t file_end() const { return uint64_t{offset} + filesz; }
  uint64_t memory_end() const { return uint64_t{vaddr} + memsz; }
};

std::string segment_name(const Segment& s) {
  return (s.type == elf::kPtLoad ? "load segment " : s.type == elf::kPtDynamic ? "dynamic segment " : "segment ") +
         num(s.index);
}

Result<std::vector<Segment>> elf_segments(const ByteView& b) {
  const uint32_t phoff = b.u32(28);
  const uint16_t phentsize = b.u16(42), phnum = b.u16(44);
  if (phentsize != elf::kProgramHeaderSize)
    return damaged("its program header size is " + num(phentsize) + ", not " + num(elf::kProgramHeaderSize));
  if (phnum == 0) return damaged("it has no program headers");
  if (!b.holds(phoff, uint64_t{phnum} * phentsize))
    return past_end("its program header table", phoff, uint64_t{phnum} * phentsize, b.size());

  std::vector<Segment> segments;
  const Segment* previousLoad = nullptr;
  std::vector<Segment> loads;
  for (uint32_t i = 0; i < phnum; ++i) {
    const uint64_t at = phoff + uint64_t{i} * phentsize;
    segments.push_back({i, b.u32(at), b.u32(at + 4), b.u32(at + 8), b.u32(at + 16), b.u32(at + 20), b.u32(at + 24),
                        b.u32(at + 28)});
  }
  for (const Segment& s : segments) {
    if (s.filesz != 0 && !b.holds(s.offset, s.filesz)) return past_end(segment_name(s), s.offset, s.filesz, b.size());
    if (s.align > 1 && !power_of_two(s.align))
      return damaged(segment_name(s) + " has alignment " + hex(s.align) + ", not a power of two");
    if (s.type != elf::kPtLoad) continue;
    if (s.filesz > s.memsz)
      return damaged(segment_name(s) + " has more bytes in the file (" + num(s.filesz) + ") than in memory (" +
                     num(s.memsz) + ")");
    if (s.align < kPage || !power_of_two(s.align))
      return damaged(segment_name(s) + " has alignment " + hex(s.align) + ", not a power of two of at least " +
                     hex(kPage));
    if ((s.vaddr - s.offset) % s.align != 0)
      return damaged(segment_name(s) + " is misaligned: its address " + hex(s.vaddr) + " and file offset " +
                     hex(s.offset) + " differ modulo its alignment " + hex(s.align));
    if (s.memory_end() > (uint64_t{1} << 32))
      return damaged(segment_name(s) + " ends past the 32-bit address space");
    if (previousLoad != nullptr && s.vaddr < previousLoad->memory_end())
      return damaged(segment_name(s) + " at " + hex(s.vaddr) + " overlaps or precedes " + segment_name(*previousLoad));
    previousLoad = &s;
  }
  std::vector<const Segment*> dynamics;
  for (const Segment& s : segments) {
    if (s.type == elf::kPtLoad) loads.push_back(s);
    if (s.type == elf::kPtDynamic) dynamics.push_back(&s);
  }
  if (loads.empty()) return damaged("it has no load segment");
  const uint64_t span = loads.back().memory_end() - (loads.front().vaddr & ~(kPage - 1));
  if (span > kMaxImageBytes) return damaged("its load segments span " + num(span) + " bytes, more than 1 GiB");
  if (dynamics.empty()) return damaged("it has no dynamic segment, which every shared library has");
  if (dynamics.size() > 1) return damaged("it has " + num(dynamics.size()) + " dynamic segments");

  // The loader reads the other segments (the dynamic table, notes, the unwind table) from the
  // mapped load segments, and write-protects the RELRO one there: each must lie in one load
  // segment, at the place that segment maps its bytes to. A TLS segment's memory part is a template
  // size, not a place.
  for (const Segment& s : segments) {
    if (s.type == elf::kPtLoad || s.type == elf::kPtGnuStack || (s.filesz == 0 && s.memsz == 0)) continue;
    const uint64_t memoryEnd = s.type == elf::kPtTls ? uint64_t{s.vaddr} + s.filesz : s.memory_end();
    const bool mapped = std::any_of(loads.begin(), loads.end(), [&](const Segment& load) {
      return s.vaddr >= load.vaddr && memoryEnd <= load.memory_end() && s.offset >= load.offset &&
             s.file_end() <= load.file_end() && s.vaddr - load.vaddr == s.offset - load.offset;
    });
    if (!mapped)
      return damaged(segment_name(s) + " (file offset " + hex(s.offset) + ", address " + hex(s.vaddr) + ", " +
                     num(s.memsz) + " bytes) lies in no load segment");
  }
  const Segment& dynamic = *dynamics.front();
  if (dynamic.filesz == 0 || dynamic.filesz % elf::kDynamicEntrySize != 0)
    return damaged("its dynamic segment's size " + num(dynamic.filesz) + " is not a whole number of " +
                   num(elf::kDynamicEntrySize) + "-byte entries");
  bool terminated = false;
  for (uint64_t at = dynamic.offset; at < dynamic.file_end() && !terminated; at += elf::kDynamicEntrySize)
    terminated = b.u32(at) == 0;
  if (!terminated) return damaged("its dynamic table has no terminating entry");
  return segments;
}

// The section headers describe the same bytes as the program headers, for the linker and the
// debugger: where both are present they must agree, which catches a damaged address, offset, size
// or permission in either.
Status elf_sections(const ByteView& b, const std::vector<Segment>& segments) {
  const uint32_t shoff = b.u32(32);
  const uint16_t shentsize = b.u16(46), shnum = b.u16(48), shstrndx = b.u16(50);
  if (shoff == 0) {
    if (shnum != 0) return damaged("it has " + num(shnum) + " section headers at file offset 0");
    return ok_status();
  }
  if (shentsize != elf::kSectionHeaderSize)
    return damaged("its section header size is " + num(shentsize) + ", not " + num(elf::kSectionHeaderSize));
  // More than 0xFF00 sections: the count is in section 0's size field, the name table's index in its link.
  if (shnum == 0 && !b.holds(shoff, shentsize)) return past_end("its section header table", shoff, shentsize, b.size());
  const uint64_t count = shnum != 0 ? shnum : b.u32(shoff + 20);
  if (count == 0) return damaged("its section header table at " + hex(shoff) + " is empty");
  if (!b.holds(shoff, count * shentsize)) return past_end("its section header table", shoff, count * shentsize, b.size());
  const uint64_t names = shstrndx == elf::kShnXindex ? b.u32(shoff + 24) : shstrndx;
  if (names != 0 && (names >= count || b.u32(shoff + names * shentsize + 4) != elf::kShtStrtab))
    return damaged("its section name table index " + num(names) + " is not a string table");

  const Segment* dynamic = nullptr;
  for (const Segment& s : segments)
    if (s.type == elf::kPtDynamic) dynamic = &s;
  for (uint64_t i = 1; i < count; ++i) {
    const uint64_t at = shoff + i * shentsize;
    const uint32_t type = b.u32(at + 4), flags = b.u32(at + 8), addr = b.u32(at + 12), offset = b.u32(at + 16),
                   size = b.u32(at + 20);
    const std::string name = "section " + num(i);
    const bool nobits = type == elf::kShtNobits;
    if (!nobits && size != 0 && !b.holds(offset, size)) return past_end(name, offset, size, b.size());
    if (type == elf::kShtDynamic && dynamic != nullptr && (offset != dynamic->offset || addr != dynamic->vaddr))
      return damaged("the dynamic section and the dynamic segment disagree on its place (file offset " + hex(offset) +
                     " and " + hex(dynamic->offset) + ")");
    if ((flags & elf::kShfAlloc) == 0 || size == 0 || (nobits && (flags & elf::kShfTls) != 0)) continue;
    const uint64_t end = uint64_t{addr} + size;
    const auto holder = std::find_if(segments.begin(), segments.end(), [&](const Segment& s) {
      return s.type == elf::kPtLoad && addr >= s.vaddr && end <= s.memory_end();
    });
    if (holder == segments.end())
      return damaged(name + " (address " + hex(addr) + ", " + num(size) + " bytes) lies in no load segment");
    if (!nobits && (addr - holder->vaddr != offset - holder->offset || uint64_t{offset} + size > holder->file_end()))
      return damaged(name + " (file offset " + hex(offset) + ", address " + hex(addr) + ") is not where " +
                     segment_name(*holder) + " maps it");
    if (((flags & elf::kShfWrite) != 0 && (holder->flags & elf::kPfW) == 0) ||
        ((flags & elf::kShfExecinstr) != 0 && (holder->flags & elf::kPfX) == 0))
      return damaged(name + " is " + ((flags & elf::kShfWrite) != 0 ? "writable" : "executable") + " but " +
                     segment_name(*holder) + " is not");
  }
  return ok_status();
}

Status check_elf(const ByteView& b) {
  if (b.size() < elf::kHeaderSize)
    return runtime_error("it is cut short: " + num(b.size()) + " bytes, less than an ELF header (" +
                         num(elf::kHeaderSize) + " bytes)");
  const uint8_t cls = b.u8(4), data = b.u8(5), version = b.u8(6);
  if (cls == elf::kClass64) return runtime_error("it is a 64-bit ELF file; modules are 32-bit (ELF32, i386)");
  if (cls != elf::kClass32) return damaged("its ELF class is " + num(cls) + ", not ELF32");
  if (data != elf::kData2Lsb) return damaged("its ELF data encoding is " + num(data) + ", not little-endian");
  if (version != elf::kVersionCurrent) return damaged("its ELF version is " + num(version) + ", not 1");
  const uint16_t type = b.u16(16), machine = b.u16(18);
  if (type == elf::kTypeExec) return runtime_error("it is an executable program, not a shared library");
  if (type != elf::kTypeDyn) return damaged("its ELF type is " + num(type) + ", not a shared object (ET_DYN)");
  if (machine == elf::kMachineX8664) return runtime_error("it is built for x86-64; modules are 32-bit (i386)");
  if (machine != elf::kMachine386) return damaged("it is built for machine " + num(machine) + ", not i386");
  if (b.u32(20) != elf::kVersionCurrent) return damaged("its ELF header version is " + num(b.u32(20)) + ", not 1");
  if (b.u16(40) != elf::kHeaderSize)
    return damaged("its ELF header size is " + num(b.u16(40)) + ", not " + num(elf::kHeaderSize));
  auto segments = elf_segments(b);
  if (!segments) return segments.error();
  return elf_sections(b, *segments);
}

// ---------------------------------------------------------------------------------------------
// PE32 (as the PE/COFF format lays it out)

namespace pe {
constexpr uint16_t kDosMagic = 0x5A4D;   // "MZ"
constexpr uint32_t kSignature = 0x4550;   // "PE\0\0"
constexpr uint16_t kMachine386 = 0x14C, kMachineAmd64 = 0x8664;
constexpr uint16_t kFileExecutable = 0x0002, kFileDll = 0x2000;
constexpr uint16_t kMagicPe32 = 0x10B, kMagicPe32Plus = 0x20B;
constexpr uint32_t kDosHeaderSize = 64, kFileHeaderSize = 20, kOptionalFixedSize = 96, kSectionHeaderSize = 40;
constexpr uint32_t kMaxSections = 96, kMaxDirectories = 16, kSymbolSize = 18;
constexpr uint32_t kExportDirectorySize = 40, kImportDescriptorSize = 20, kRelocationBlockHeader = 8;
constexpr uint32_t kMaxExports = 0x10000;
}  // namespace pe

struct Section {
  uint32_t index;
  std::string name;
  uint32_t virtualSize, rva, rawSize, rawOffset;
  uint64_t virtual_extent() const { return virtualSize != 0 ? virtualSize : rawSize; }
  // The part of the section that the loader fills from the file.
  uint64_t file_extent() const { return std::min<uint64_t>(rawSize, virtual_extent()); }
};

std::string section_name(const Section& s) { return "section " + num(s.index) + " (" + s.name + ")"; }

// Where a range of the loaded image comes from in the file: a range inside one section's file
// data, or inside the headers (mapped at RVA 0).
class PeImage {
 public:
  PeImage(const ByteView& bytes, std::vector<Section> sections, uint32_t headersSize, uint32_t imageSize)
      : b_(bytes), sections_(std::move(sections)), headersSize_(headersSize), imageSize_(imageSize) {}

  std::optional<uint64_t> file_offset(uint64_t rva, uint64_t length) const {
    if (rva + length <= headersSize_) return rva;
    for (const Section& s : sections_)
      if (rva >= s.rva && rva + length <= s.rva + s.file_extent()) return s.rawOffset + (rva - s.rva);
    return std::nullopt;
  }
  // The end of the file data that holds `rva` (for text that must end before it).
  uint64_t file_end_at(uint64_t rva) const {
    if (rva < headersSize_) return headersSize_;
    for (const Section& s : sections_)
      if (rva >= s.rva && rva < s.rva + s.file_extent()) return s.rawOffset + s.file_extent();
    return 0;
  }
  std::optional<std::string> text(uint64_t rva, std::size_t limit) const {
    const auto offset = file_offset(rva, 1);
    if (!offset) return std::nullopt;
    return b_.text(*offset, file_end_at(rva), limit);
  }
  uint32_t image_size() const { return imageSize_; }
  const ByteView& bytes() const { return b_; }

 private:
  const ByteView& b_;
  std::vector<Section> sections_;
  uint32_t headersSize_;
  uint32_t imageSize_;
};

// A data directory that the loader reads: it must lie in the file data of one section.
Result<std::optional<uint64_t>> pe_directory(const PeImage& image, const ByteView& b, uint64_t directories,
                                             uint32_t count, uint32_t index, const char* what, uint32_t minimum) {
  if (index >= count) return std::optional<uint64_t>{};
  const uint32_t rva = b.u32(directories + index * 8), size = b.u32(directories + index * 8 + 4);
  if (rva == 0 && size == 0) return std::optional<uint64_t>{};
  const std::string name = std::string("its ") + what + " (RVA " + hex(rva) + ", " + num(size) + " bytes)";
  if (uint64_t{rva} + size > image.image_size())
    return damaged(name + " lies outside the image (" + num(image.image_size()) + " bytes)");
  if (size < minimum) return damaged(name + " is too small");
  const auto offset = image.file_offset(rva, size);
  if (!offset) return damaged(name + " lies in no section's data");
  return std::optional<uint64_t>{*offset};
}

// The export directory: the module's name and the tables GetProcAddress reads.
Result<std::string> pe_exports(const PeImage& image, uint64_t at) {
  const ByteView& b = image.bytes();
  const uint32_t nameRva = b.u32(at + 12), functions = b.u32(at + 20), names = b.u32(at + 24);
  const uint32_t functionTable = b.u32(at + 28), nameTable = b.u32(at + 32), ordinalTable = b.u32(at + 36);
  auto name = image.text(nameRva, 255);
  if (!name) return damaged("its export directory's name (RVA " + hex(nameRva) + ") lies in no section's data");
  if (functions > pe::kMaxExports || names > functions)
    return damaged("its export directory claims " + num(functions) + " functions and " + num(names) + " names");
  if ((functions != 0 && !image.file_offset(functionTable, uint64_t{functions} * 4)) ||
      (names != 0 && (!image.file_offset(nameTable, uint64_t{names} * 4) ||
                      !image.file_offset(ordinalTable, uint64_t{names} * 2))))
    return damaged("its export tables lie outside the sections' data");
  const uint64_t nameOffset = names != 0 ? *image.file_offset(nameTable, uint64_t{names} * 4) : 0;
  const uint64_t ordinalOffset = names != 0 ? *image.file_offset(ordinalTable, uint64_t{names} * 2) : 0;
  for (uint32_t i = 0; i < names; ++i) {
    if (!image.text(b.u32(nameOffset + i * 4), 4096))
      return damaged("the name of export " + num(i) + " lies in no section's data");
    if (b.u16(ordinalOffset + i * 2) >= functions) return damaged("export " + num(i) + " has no function");
  }
  return std::move(name).value();
}

Status pe_imports(const PeImage& image, uint64_t at, uint64_t end) {
  const ByteView& b = image.bytes();
  for (;; at += pe::kImportDescriptorSize) {
    if (at + pe::kImportDescriptorSize > end) return damaged("its import directory has no terminating entry");
    const uint32_t lookup = b.u32(at), nameRva = b.u32(at + 12), thunks = b.u32(at + 16);
    if (lookup == 0 && nameRva == 0 && thunks == 0) return ok_status();
    if (!image.text(nameRva, 4096)) return damaged("the name of an imported library lies in no section's data");
    if (thunks == 0 || thunks >= image.image_size() || lookup >= image.image_size())
      return damaged("the import of " + *image.text(nameRva, 4096) + " has its tables outside the image");
  }
}

Status pe_relocations(const PeImage& image, uint64_t at, uint64_t end) {
  const ByteView& b = image.bytes();
  while (at < end) {
    const uint32_t page = b.u32(at), size = b.u32(at + 4);
    if (size < pe::kRelocationBlockHeader || size % 2 != 0 || at + size > end || page >= image.image_size())
      return damaged("its relocation block at RVA page " + hex(page) + " (" + num(size) + " bytes) is malformed");
    at += size;
  }
  return ok_status();
}

Result<std::string> check_pe(const ByteView& b) {
  if (b.size() < pe::kDosHeaderSize)
    return runtime_error("it is cut short: " + num(b.size()) + " bytes, less than a DOS header (64 bytes)");
  const uint32_t nt = b.u32(0x3C);
  if (!b.holds(nt, 4 + pe::kFileHeaderSize)) return past_end("its PE header", nt, 4 + pe::kFileHeaderSize, b.size());
  if (b.u32(nt) != pe::kSignature) return damaged("there is no PE signature where its DOS header points (" + hex(nt) + ")");
  const uint64_t file = nt + 4;
  const uint16_t machine = b.u16(file), sectionCount = b.u16(file + 2), optionalSize = b.u16(file + 16),
                 characteristics = b.u16(file + 18);
  if (machine == pe::kMachineAmd64) return runtime_error("it is a 64-bit Windows module (x64); modules are 32-bit (i386)");
  if (machine != pe::kMachine386) return damaged("it is built for machine " + hex(machine) + ", not i386");
  if ((characteristics & pe::kFileExecutable) == 0) return damaged("it is not marked as an executable image");
  if ((characteristics & pe::kFileDll) == 0) return runtime_error("it is a program (EXE), not a DLL");
  if (sectionCount == 0 || sectionCount > pe::kMaxSections)
    return damaged("it claims " + num(sectionCount) + " sections (1 to " + num(pe::kMaxSections) + " are possible)");
  const uint64_t optional = file + pe::kFileHeaderSize;
  if (optionalSize < pe::kOptionalFixedSize)
    return damaged("its optional header is " + num(optionalSize) + " bytes, too small for PE32");
  if (!b.holds(optional, optionalSize)) return past_end("its optional header", optional, optionalSize, b.size());
  const uint16_t magic = b.u16(optional);
  if (magic == pe::kMagicPe32Plus) return runtime_error("it is a 64-bit (PE32+) image; modules are PE32");
  if (magic != pe::kMagicPe32) return damaged("its optional header's magic is " + hex(magic) + ", not PE32 (0x10B)");
  const uint32_t sectionAlignment = b.u32(optional + 32), fileAlignment = b.u32(optional + 36);
  const uint32_t imageSize = b.u32(optional + 56), headersSize = b.u32(optional + 60);
  const uint32_t directoryCount = b.u32(optional + 92);
  if (!power_of_two(sectionAlignment) || !power_of_two(fileAlignment) || fileAlignment > sectionAlignment ||
      (fileAlignment < 512 && fileAlignment != sectionAlignment) || fileAlignment > 0x10000)
    return damaged("its alignments (sections " + hex(sectionAlignment) + ", file " + hex(fileAlignment) +
                   ") are not powers of two with 512 <= file <= 64 KiB and file <= sections");
  if (directoryCount > pe::kMaxDirectories || pe::kOptionalFixedSize + uint64_t{directoryCount} * 8 > optionalSize)
    return damaged("it claims " + num(directoryCount) + " data directories in an optional header of " +
                   num(optionalSize) + " bytes");
  if (imageSize > kMaxImageBytes) return damaged("its image size " + num(imageSize) + " is more than 1 GiB");
  if (headersSize > imageSize) return damaged("its headers (" + num(headersSize) + " bytes) are larger than its image");
  if (headersSize > b.size()) return past_end("its headers", 0, headersSize, b.size());

  const uint64_t table = optional + optionalSize;
  const uint64_t tableSize = uint64_t{sectionCount} * pe::kSectionHeaderSize;
  if (!b.holds(table, tableSize)) return past_end("its section table", table, tableSize, b.size());
  if (table + tableSize > headersSize) return damaged("its section table runs past its headers (" + num(headersSize) + " bytes)");
  std::vector<Section> sections;
  uint64_t previousEnd = headersSize;
  for (uint32_t i = 0; i < sectionCount; ++i) {
    const uint64_t at = table + uint64_t{i} * pe::kSectionHeaderSize;
    Section s{i, "", b.u32(at + 8), b.u32(at + 12), b.u32(at + 16), b.u32(at + 20)};
    for (uint64_t c = 0; c < 8 && b.u8(at + c) != 0; ++c) s.name += static_cast<char>(b.u8(at + c));
    if (s.rawSize != 0 && !b.holds(s.rawOffset, s.rawSize))
      return past_end(section_name(s) + "'s data", s.rawOffset, s.rawSize, b.size());
    if (s.rva % sectionAlignment != 0 || s.rva < previousEnd)
      return damaged(section_name(s) + " at RVA " + hex(s.rva) + " is misaligned or overlaps what lies before it");
    if (s.rva + s.virtual_extent() > imageSize)
      return damaged(section_name(s) + " ends past the image (" + num(imageSize) + " bytes)");
    previousEnd = s.rva + s.virtual_extent();
    sections.push_back(std::move(s));
  }
  // The COFF symbol table and its string table follow the sections' data: a file cut there still
  // loads, but it is not the file that was built.
  const uint32_t symbols = b.u32(file + 8), symbolCount = b.u32(file + 12);
  if (symbols != 0) {
    const uint64_t strings = symbols + uint64_t{symbolCount} * pe::kSymbolSize;
    if (!b.holds(symbols, strings - symbols + 4)) return past_end("its symbol table", symbols, strings - symbols + 4, b.size());
    const uint32_t stringsSize = b.u32(strings);
    if (!b.holds(strings, stringsSize)) return past_end("its symbol names", strings, stringsSize, b.size());
  }

  const PeImage image(b, std::move(sections), headersSize, imageSize);
  const uint64_t directories = optional + pe::kOptionalFixedSize;
  std::string exportName;
  auto exports = pe_directory(image, b, directories, directoryCount, 0, "export directory", pe::kExportDirectorySize);
  if (!exports) return exports.error();
  if (*exports) {
    auto name = pe_exports(image, **exports);
    if (!name) return name.error();
    exportName = std::move(name).value();
  }
  auto imports = pe_directory(image, b, directories, directoryCount, 1, "import directory", pe::kImportDescriptorSize);
  if (!imports) return imports.error();
  if (*imports) {
    if (auto status = pe_imports(image, **imports, **imports + b.u32(directories + 12)); !status) return status.error();
  }
  auto relocations = pe_directory(image, b, directories, directoryCount, 5, "relocation directory", 0);
  if (!relocations) return relocations.error();
  if (*relocations) {
    if (auto status = pe_relocations(image, **relocations, **relocations + b.u32(directories + 5 * 8 + 4)); !status)
      return status.error();
  }
  return exportName;
}

std::optional<ModuleFormat> sniff(const ByteView& b) {
  if (b.size() >= 4 && b.u32(0) == 0x464C457F) return ModuleFormat::Elf;   // "\x7F" "ELF"
  if (b.size() >= 2 && b.u16(0) == pe::kDosMagic) return ModuleFormat::Pe;
  return std::nullopt;
}

const char* one_module(ModuleFormat format) {
  return format == ModuleFormat::Elf ? "a Linux module (ELF shared object)" : "a Windows module (PE DLL)";
}
const char* modules(ModuleFormat format) {
  return format == ModuleFormat::Elf ? "Linux modules (ELF shared objects)" : "Windows modules (PE DLLs)";
}

}  // namespace

Result<ModuleImage> check_module_image(std::span<const uint8_t> bytes) {
  const ByteView b(bytes);
  if (b.size() == 0) return runtime_error("the file is empty");
  const auto format = sniff(b);
  if (!format) return runtime_error("it is not a module: it starts with neither an ELF nor a PE (MZ) header");
  if (*format == ModuleFormat::Elf) {
    if (auto status = check_elf(b); !status) return status.error();
    return ModuleImage{ModuleFormat::Elf, ""};
  }
  auto name = check_pe(b);
  if (!name) return name.error();
  return ModuleImage{ModuleFormat::Pe, std::move(name).value()};
}

Result<ModuleImage> check_native_module_image(std::span<const uint8_t> bytes) {
  const auto format = sniff(ByteView(bytes));
  if (format && *format != native_module_format()) {
    return runtime_error(std::string("it is ") + one_module(*format) + "; this softplc loads " +
                         modules(native_module_format()));
  }
  return check_module_image(bytes);
}

}  // namespace softplc

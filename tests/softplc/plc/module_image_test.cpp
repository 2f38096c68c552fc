// The check of module files before they are loaded: the built modules pass, damaged ones are
// refused with the reason, every cut is refused, and no change to the headers makes the check read
// outside the bytes (the sanitizer build watches that). The Windows build's DLLs are checked when
// it has been built.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "softplc/plc/module_image.h"

namespace softplc {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

Bytes read_bytes(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  const std::string s = text.str();
  return Bytes(s.begin(), s.end());
}

uint32_t u32(const Bytes& b, std::size_t at) { return b.at(at) | b.at(at + 1) << 8 | b.at(at + 2) << 16 | b.at(at + 3) << 24; }
void put(Bytes& b, std::size_t at, uint32_t value, int size) {
  for (int i = 0; i < size; ++i) b.at(at + i) = static_cast<uint8_t>(value >> (8 * i));
}

std::string reason(const Bytes& bytes) {
  auto checked = check_module_image(bytes);
  return checked ? std::string("accepted") : checked.error().message;
}

// The Windows build's DLL, or a skip (a failure when KX_REQUIRE_WINDOWS asks for it).
Bytes windows_dll(const char* name) {
  const fs::path path = fs::path(KX_WINDOWS_BIN_DIR) / name;
  if (!fs::exists(path)) {
    if (std::getenv("KX_REQUIRE_WINDOWS") != nullptr) ADD_FAILURE() << "no Windows build: " << path;
    return {};
  }
  return read_bytes(path);
}

// Offsets into a PE file.
std::size_t pe_header(const Bytes& b) { return u32(b, 0x3C); }
std::size_t pe_optional(const Bytes& b) { return pe_header(b) + 24; }
std::size_t pe_sections(const Bytes& b) { return pe_optional(b) + (b.at(pe_header(b) + 20) | b.at(pe_header(b) + 21) << 8); }

TEST(ModuleImage, TheBuiltModulesPass) {
  for (const char* file : {KX_MODULE_FILE, KX_NEXT_MODULE_FILE}) {
    auto image = check_module_image(read_bytes(file));
    ASSERT_TRUE(image) << file << ": " << image.error().message;
    EXPECT_EQ(image->format, ModuleFormat::Elf);
    EXPECT_EQ(image->exportName, "");
  }
  const Bytes dll = windows_dll("CCodePublic_next.dll");
  if (dll.empty()) GTEST_SKIP() << "no Windows build";
  auto image = check_module_image(dll);
  ASSERT_TRUE(image) << image.error().message;
  EXPECT_EQ(image->format, ModuleFormat::Pe);
  EXPECT_EQ(image->exportName, "CCodePublic_next.dll");
  EXPECT_EQ(check_native_module_image(dll).error().message,
            "it is a Windows module (PE DLL); this softplc loads Linux modules (ELF shared objects)");
}

TEST(ModuleImage, DamagedDllsAreRefusedWithTheReason) {
  const Bytes dll = windows_dll("CCodePublic.dll");
  if (dll.empty()) GTEST_SKIP() << "no Windows build";
  const struct {
    const char* what;
    std::function<void(Bytes&)> apply;
    const char* reason;
  } cases[] = {
      {"cut in the DOS header", [](Bytes& b) { b.resize(60); },
       "it is cut short: 60 bytes, less than a DOS header (64 bytes)"},
      {"cut in the code", [](Bytes& b) { b.resize(20000); },
       "it is cut short or damaged: section 0 (.text)'s data (file bytes 1536 to "},
      {"cut in the symbol table", [](Bytes& b) { b.resize(b.size() - 1); }, "it is cut short or damaged: its symbol names"},
      {"PE header outside", [](Bytes& b) { put(b, 0x3C, 0x7FFFFFF0, 4); },
       "it is cut short or damaged: its PE header (file bytes 2147483632 to 2147483656)"},
      {"no PE signature", [](Bytes& b) { b.at(pe_header(b)) = 'X'; }, "there is no PE signature where its DOS header points"},
      {"x64", [](Bytes& b) { put(b, pe_header(b) + 4, 0x8664, 2); }, "it is a 64-bit Windows module (x64)"},
      {"a program", [](Bytes& b) { b.at(pe_header(b) + 23) &= ~0x20; }, "it is a program (EXE), not a DLL"},
      {"PE32+", [](Bytes& b) { put(b, pe_optional(b), 0x20B, 2); }, "it is a 64-bit (PE32+) image; modules are PE32"},
      {"no sections", [](Bytes& b) { put(b, pe_header(b) + 6, 0, 2); }, "it claims 0 sections"},
      {"file alignment", [](Bytes& b) { put(b, pe_optional(b) + 36, 0x300, 4); }, "its alignments (sections 0x1000, file 0x300)"},
      {"section data past the end", [](Bytes& b) { put(b, pe_sections(b) + 20, 0x7FFF0000, 4); },
       "section 0 (.text)'s data (file bytes 2147418112 to "},
      {"section past the image", [](Bytes& b) { put(b, pe_sections(b) + 8, 0x10000000, 4); },
       "section 0 (.text) ends past the image"},
      {"export directory outside the image", [](Bytes& b) { put(b, pe_optional(b) + 96, 0x7FFF0000, 4); },
       "its export directory (RVA 0x7FFF0000, "},
      {"import directory in no section", [](Bytes& b) { put(b, pe_optional(b) + 104, 0x1000 - 8, 4); },
       "its import directory (RVA 0xFF8, "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes bytes = dll;
    c.apply(bytes);
    EXPECT_NE(reason(bytes).find(c.reason), std::string::npos) << reason(bytes);
  }
}

// Every cut of a module is refused, and no change of a byte of its headers (the ELF header, the
// program and section header tables; the DOS and PE headers and the section table) makes the check
// read outside the bytes or stop with anything but an answer.
TEST(ModuleImage, EveryCutIsRefusedAndNoHeaderByteMisleadsTheCheck) {
  std::vector<std::pair<Bytes, std::vector<std::pair<std::size_t, std::size_t>>>> modules;
  const Bytes elf = read_bytes(KX_MODULE_FILE);
  const std::size_t phoff = u32(elf, 28), shoff = u32(elf, 32);
  modules.push_back({elf, {{0, 52}, {phoff, phoff + 32 * (elf.at(44) | elf.at(45) << 8)}, {shoff, elf.size()}}});
  if (const Bytes dll = windows_dll("CCodePublic.dll"); !dll.empty())
    modules.push_back({dll, {{0, pe_sections(dll) + 40 * (dll.at(pe_header(dll) + 6) | dll.at(pe_header(dll) + 7) << 8)}}});

  for (const auto& [bytes, headers] : modules) {
    for (std::size_t size = 0; size < bytes.size(); size += size < 4096 ? 1 : 509) {
      const Bytes cut(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(size));
      ASSERT_FALSE(check_module_image(cut)) << "accepted a cut at " << size << " of " << bytes.size() << " bytes";
    }
    for (const auto& [begin, end] : headers) {
      Bytes changed = bytes;
      for (std::size_t at = begin; at < end; ++at) {
        for (const uint8_t value : {uint8_t{0}, uint8_t{0xFF}, static_cast<uint8_t>(bytes[at] ^ 0x10)}) {
          changed[at] = value;
          (void)check_module_image(changed);
        }
        changed[at] = bytes[at];
      }
    }
  }
}

}  // namespace
}  // namespace softplc

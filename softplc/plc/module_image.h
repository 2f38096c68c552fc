// Checking a module file before the system's loader sees it. The loaders map a library's segments
// or sections as its headers describe them and trust those headers: a file cut short or a damaged
// header makes them read past the end of the mapping and end the process with a signal. This check
// reads the headers from the file's bytes, with every read bounds-checked, and refuses a file whose
// headers do not describe a library that lies within the file. It is plain byte parsing and checks
// both formats on every platform: an ELF32 i386 shared object (Linux) and a PE32 i386 DLL
// (Windows).
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "softplc/util/result.h"

namespace softplc {

enum class ModuleFormat {
  Elf,   // ELF32, little-endian, i386, a shared object
  Pe,    // PE32, i386, a DLL
};

// The format of the modules that this build of softplc loads (the loader's: library_posix.cpp,
// library_win32.cpp).
ModuleFormat native_module_format();

// What the check learnt of a file it accepts.
struct ModuleImage {
  ModuleFormat format = ModuleFormat::Elf;
  // A DLL's own name, from its export directory ("CCodePublic.dll"); empty for ELF and for a DLL
  // that exports nothing.
  std::string exportName;
};

// Checks a module file's bytes: the format from its first bytes, then every header and table the
// loader relies on. The error message is the reason alone ("it is cut short: ..."); the caller
// names the file.
Result<ModuleImage> check_module_image(std::span<const uint8_t> bytes);

// As check_module_image, and refuses the other platform's modules ("it is a Windows module (PE
// DLL); this softplc loads Linux modules (ELF shared objects)").
Result<ModuleImage> check_native_module_image(std::span<const uint8_t> bytes);

}  // namespace softplc

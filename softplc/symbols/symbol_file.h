// Reading a module's symbol file: JSON beside the module ("CCodePublic.symbols.json" for
// "CCodePublic.so" or "CCodePublic.dll"), written by the module's build. The format is described
// in the guide (docs/reference/symbol-file.md).
#pragma once

#include <filesystem>
#include <string_view>

#include "softplc/symbols/symbol_table.h"
#include "softplc/util/result.h"

namespace softplc {

inline constexpr std::string_view kSymbolFileFormat = "softplc-symbols";
inline constexpr int kSymbolFileVersion = 1;

// Where the symbol file of the module at `module` lies by default: beside it, under the module's
// file name with ".symbols.json" in place of the extension.
std::filesystem::path default_symbol_path(const std::filesystem::path& module);

// Parses a symbol file's text; `source` names it in messages. Every variable and record must lie
// inside its entry point's data area, with a known type and a name of its own.
Result<SymbolFile> parse_symbol_file(std::string_view text, const std::string& source);

// Reads and parses the file at `path`.
Result<SymbolFile> load_symbol_file(const std::filesystem::path& path);

}  // namespace softplc

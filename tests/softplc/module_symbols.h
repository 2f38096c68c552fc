// The built module's symbol file, read once for the unit tests that work on its names.
#pragma once

#include <stdexcept>

#include "softplc/symbols/symbol_file.h"

namespace softplc {

inline const Symbols& module_symbols() {
  static const SymbolFile file = [] {
    auto loaded = load_symbol_file(KX_SYMBOLS_FILE);
    if (!loaded) throw std::runtime_error(loaded.error().message);
    return *loaded;
  }();
  return *file.entryPoints.at(0);
}

}  // namespace softplc

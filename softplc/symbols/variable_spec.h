// A variable as a person names it: a name of the symbol file ("IntRamp.Rate", any case), or an
// offset and a type ("@16:INT"; the '@' may be left out, "284:BOOL"), which needs no symbol file.
#pragma once

#include <string>
#include <string_view>

#include "softplc/symbols/symbol_table.h"
#include "softplc/util/result.h"

namespace softplc {

// Whether `text` names a variable by offset (it starts with '@' or a digit).
bool is_offset_spec(std::string_view text);

// The variable `text` names. Without symbols (null) only offsets can be named; a name then gets a
// usage error that starts with `whyNoNames` ("module X has no symbol file ...").
Result<Variable> find_variable(std::string_view text, const Symbols* symbols, const std::string& whyNoNames);

}  // namespace softplc

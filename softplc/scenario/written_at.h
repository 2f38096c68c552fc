// Where in the program's listing a variable gets its value: the statement that writes it last in a
// cycle, so that a failed expectation points at the code to look at. Found from the listing's map
// (the step whose result or ENO is the variable, the call of the record that holds it) and, where
// the listing's text is there, from the assignments (a program output's copy "IntRampOut :=
// IntRamp.Out;", "IF NumeratorENO THEN Y := Quotient; END_IF;").
#pragma once

#include <string>

#include "softplc/symbols/symbol_table.h"

namespace softplc {

// "CCodePublic.st:51: IntRampOut := IntRamp.Out;" ("CCodePublic.st:51" without the listing's
// text); "" when the listing says nothing of the variable (an input only the outside writes).
std::string written_at(const Symbols& symbols, const Variable& variable);

}  // namespace softplc

#include "softplc/symbols/variable_spec.h"

#include "softplc/symbols/names.h"
#include "softplc/util/text.h"

namespace softplc {

bool is_offset_spec(std::string_view text) {
  return !text.empty() && (text.front() == '@' || (text.front() >= '0' && text.front() <= '9'));
}

Result<Variable> find_variable(std::string_view text, const Symbols* symbols, const std::string& whyNoNames) {
  if (!is_offset_spec(text)) {
    if (symbols == nullptr) {
      return usage_error(whyNoNames + ", so '" + shown(text) +
                         "' cannot be found by name; name variables by offset and type, e.g. @16:INT");
    }
    auto found = symbols->find(text);
    if (!found) return found.error();
    return **found;
  }
  std::string_view rest = text.front() == '@' ? text.substr(1) : text;
  const auto colon = rest.find(':');
  const std::string_view offsetText = rest.substr(0, colon);
  const std::optional<uint32_t> offset = whole_number<uint32_t>(offsetText);
  if (colon == std::string_view::npos || !offset) {
    return usage_error("'" + shown(text) + "' is not OFFSET:TYPE (e.g. @16:INT, a data-area offset and BOOL, INT, UINT, REAL or TIME)");
  }
  const std::string_view typeText = rest.substr(colon + 1);
  for (ValueType type : {ValueType::Bool, ValueType::Int, ValueType::Uint, ValueType::Real, ValueType::Time}) {
    if (same_name(typeText, type_name(type))) {
      Variable variable;
      variable.name = std::to_string(*offset) + ":" + std::string(type_name(type));
      variable.offset = *offset;
      variable.type = type;
      return variable;
    }
  }
  return usage_error("unknown type '" + shown(typeText) + "' (types: BOOL, INT, UINT, REAL, TIME)");
}

}  // namespace softplc

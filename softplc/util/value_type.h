// The elementary types of the variables that the host reads and writes.
#pragma once

#include <cstdint>
#include <string_view>

namespace softplc {

enum class ValueType : uint8_t { Bool, Int, Uint, Real, Time };

constexpr uint32_t size_of(ValueType type) {
  switch (type) {
    case ValueType::Bool: return 1;
    case ValueType::Int: return 2;
    case ValueType::Uint: return 2;
    case ValueType::Real: return 4;
    case ValueType::Time: return 8;
  }
  return 0;
}

constexpr std::string_view type_name(ValueType type) {
  switch (type) {
    case ValueType::Bool: return "BOOL";
    case ValueType::Int: return "INT";
    case ValueType::Uint: return "UINT";
    case ValueType::Real: return "REAL";
    case ValueType::Time: return "TIME";
  }
  return "?";
}

}  // namespace softplc

// What a Modbus request asks of the register map, checked before anything is read or written, in
// the order Modbus prescribes: the function (exception 1), the quantity and the request's own
// length (3), the addresses (2). A write must cover whole variables that the map makes writable;
// half a REAL is refused with exception 2 rather than written as one word.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "softplc/live/exchange.h"
#include "softplc/live/modbus/register_map.h"

namespace softplc {

enum class ModbusException : uint8_t {
  None = 0,
  IllegalFunction = 1,
  IllegalDataAddress = 2,
  IllegalDataValue = 3,
  ServerDeviceFailure = 4,
};
std::string_view exception_name(ModbusException exception);   // "illegal data address"

// The function codes served.
namespace modbus_function {
inline constexpr uint8_t kReadCoils = 0x01;
inline constexpr uint8_t kReadDiscreteInputs = 0x02;
inline constexpr uint8_t kReadHoldingRegisters = 0x03;
inline constexpr uint8_t kReadInputRegisters = 0x04;
inline constexpr uint8_t kWriteSingleCoil = 0x05;
inline constexpr uint8_t kWriteSingleRegister = 0x06;
inline constexpr uint8_t kWriteMultipleCoils = 0x0F;
inline constexpr uint8_t kWriteMultipleRegisters = 0x10;
}  // namespace modbus_function

struct ModbusRequest {
  uint8_t function = 0;
  ModbusException exception = ModbusException::None;
  bool write = false;
  ModbusTable table = ModbusTable::Coil;
  uint16_t address = 0;
  uint16_t count = 0;                 // bits or registers
  std::vector<VariableWrite> writes;  // a write's values, in address order
};

// `pdu`: the function code and its data (the frame without its 7-byte header). With `readOnly`
// every write function is refused as an illegal function.
ModbusRequest check_modbus_request(std::span<const uint8_t> pdu, const RegisterMap& map, bool readOnly);

// The values a read asks for, from a data area: one element per bit (0 or 1) or register. Nullopt
// when a variable of the map lies outside `data`.
std::optional<std::vector<uint16_t>> read_modbus_values(const RegisterMap& map, ModbusTable table, uint16_t address,
                                                        uint16_t count, std::span<const uint8_t> data);

}  // namespace softplc

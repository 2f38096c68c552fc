#include "softplc/live/modbus/modbus_request.h"

#include <algorithm>

namespace softplc {

namespace {

namespace fc = modbus_function;

// The protocol's limits on the quantity of one request.
constexpr uint16_t kMaxReadBits = 2000;
constexpr uint16_t kMaxReadRegisters = 125;
constexpr uint16_t kMaxWriteBits = 1968;
constexpr uint16_t kMaxWriteRegisters = 123;

uint16_t word_at(std::span<const uint8_t> pdu, std::size_t at) {
  return static_cast<uint16_t>((pdu[at] << 8) | pdu[at + 1]);
}

ModbusRequest refused(ModbusRequest request, ModbusException exception) {
  request.exception = exception;
  request.writes.clear();
  return request;
}

// The entries of a write: they must cover [address, address + count) exactly, whole, all writable.
std::optional<std::span<const MapEntry>> write_targets(const RegisterMap& map, const ModbusRequest& request) {
  const auto entries = map.covering(request.table, request.address, request.count);
  if (!entries) return std::nullopt;
  if (entries->front().address != request.address || entries->back().end() != uint32_t{request.address} + request.count) {
    return std::nullopt;   // part of a variable: Modbus cannot write it whole
  }
  for (const MapEntry& entry : *entries)
    if (!entry.writable()) return std::nullopt;
  return entries;
}

ModbusRequest check_read(ModbusRequest request, std::span<const uint8_t> pdu, const RegisterMap& map) {
  const bool bits = request.function == fc::kReadCoils || request.function == fc::kReadDiscreteInputs;
  request.table = request.function == fc::kReadCoils               ? ModbusTable::Coil
                  : request.function == fc::kReadDiscreteInputs    ? ModbusTable::DiscreteInput
                  : request.function == fc::kReadHoldingRegisters  ? ModbusTable::HoldingRegister
                                                                   : ModbusTable::InputRegister;
  if (pdu.size() != 5) return refused(request, ModbusException::IllegalDataValue);
  request.address = word_at(pdu, 1);
  request.count = word_at(pdu, 3);
  if (request.count == 0 || request.count > (bits ? kMaxReadBits : kMaxReadRegisters)) {
    return refused(request, ModbusException::IllegalDataValue);
  }
  if (uint32_t{request.address} + request.count > 65536 || !map.covering(request.table, request.address, request.count)) {
    return refused(request, ModbusException::IllegalDataAddress);
  }
  return request;
}

ModbusRequest check_write(ModbusRequest request, std::span<const uint8_t> pdu, const RegisterMap& map) {
  request.write = true;
  const bool single = request.function == fc::kWriteSingleCoil || request.function == fc::kWriteSingleRegister;
  const bool bits = request.function == fc::kWriteSingleCoil || request.function == fc::kWriteMultipleCoils;
  request.table = bits ? ModbusTable::Coil : ModbusTable::HoldingRegister;
  std::vector<uint16_t> values;   // one per bit or register
  if (single) {
    if (pdu.size() != 5) return refused(request, ModbusException::IllegalDataValue);
    request.address = word_at(pdu, 1);
    request.count = 1;
    const uint16_t value = word_at(pdu, 3);
    if (bits && value != 0xFF00 && value != 0x0000) return refused(request, ModbusException::IllegalDataValue);
    values.push_back(bits ? (value != 0 ? 1 : 0) : value);
  } else {
    if (pdu.size() < 6) return refused(request, ModbusException::IllegalDataValue);
    request.address = word_at(pdu, 1);
    request.count = word_at(pdu, 3);
    const std::size_t byteCount = pdu[5];
    const std::size_t expected = bits ? (request.count + 7u) / 8u : request.count * 2u;
    if (request.count == 0 || request.count > (bits ? kMaxWriteBits : kMaxWriteRegisters) || byteCount != expected ||
        pdu.size() != 6 + byteCount) {
      return refused(request, ModbusException::IllegalDataValue);
    }
    for (uint16_t i = 0; i < request.count; ++i) {
      values.push_back(bits ? static_cast<uint16_t>((pdu[6 + i / 8] >> (i % 8)) & 1u) : word_at(pdu, 6 + 2u * i));
    }
  }
  if (uint32_t{request.address} + request.count > 65536) return refused(request, ModbusException::IllegalDataAddress);
  const auto targets = write_targets(map, request);
  if (!targets) return refused(request, ModbusException::IllegalDataAddress);
  for (const MapEntry& entry : *targets) {
    const auto words = std::span<const uint16_t>(values).subspan(entry.address - request.address, entry.count);
    auto encoded = from_modbus(entry, words);
    if (!encoded) return refused(request, ModbusException::IllegalDataValue);
    request.writes.push_back({entry.variable, *encoded});
  }
  return request;
}

}  // namespace

std::string_view exception_name(ModbusException exception) {
  switch (exception) {
    case ModbusException::None: return "none";
    case ModbusException::IllegalFunction: return "illegal function";
    case ModbusException::IllegalDataAddress: return "illegal data address";
    case ModbusException::IllegalDataValue: return "illegal data value";
    case ModbusException::ServerDeviceFailure: return "server device failure";
  }
  return "?";
}

ModbusRequest check_modbus_request(std::span<const uint8_t> pdu, const RegisterMap& map, bool readOnly) {
  ModbusRequest request;
  if (pdu.empty()) return refused(request, ModbusException::IllegalFunction);
  request.function = pdu[0];
  switch (request.function) {
    case fc::kReadCoils:
    case fc::kReadDiscreteInputs:
    case fc::kReadHoldingRegisters:
    case fc::kReadInputRegisters: return check_read(request, pdu, map);
    case fc::kWriteSingleCoil:
    case fc::kWriteSingleRegister:
    case fc::kWriteMultipleCoils:
    case fc::kWriteMultipleRegisters:
      if (readOnly) {
        request.write = true;
        return refused(request, ModbusException::IllegalFunction);
      }
      return check_write(request, pdu, map);
    default: return refused(request, ModbusException::IllegalFunction);
  }
}

std::optional<std::vector<uint16_t>> read_modbus_values(const RegisterMap& map, ModbusTable table, uint16_t address,
                                                        uint16_t count, std::span<const uint8_t> data) {
  const auto entries = map.covering(table, address, count);
  if (!entries) return std::nullopt;
  std::vector<uint16_t> values;
  values.reserve(count);
  const uint32_t end = uint32_t{address} + count;
  for (const MapEntry& entry : *entries) {
    const Variable& variable = entry.variable;
    if (variable.offset + variable.size() > data.size()) return std::nullopt;
    const std::vector<uint16_t> words = to_modbus(entry, data.subspan(variable.offset, variable.size()));
    for (uint32_t a = std::max<uint32_t>(entry.address, address); a < std::min(entry.end(), end); ++a) {
      values.push_back(words[a - entry.address]);
    }
  }
  return values;
}

}  // namespace softplc

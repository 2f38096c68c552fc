// Modbus TCP: the running program's variables in Modbus tables, served while the cycles run.
#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <ostream>

#include "softplc/live/channel.h"
#include "softplc/live/exchange.h"
#include "softplc/live/modbus/register_map.h"
#include "softplc/live/status.h"
#include "softplc/plc/plc.h"

namespace softplc {

struct ModbusOptions {
  ListenAddress address;
  std::optional<std::filesystem::path> mapFile;   // a user's register map (CSV); default: generated
  bool readOnly = false;
  // Clients connected at once; a connection beyond them is closed as soon as it is accepted.
  uint32_t maxClients = 16;
  // A client that sends no request for this long is disconnected; 0: never.
  std::chrono::milliseconds idleTimeout{60'000};
};

// The register map a module is served with: the user's (checked whole against the module's symbol
// file), or the one generated from the symbol file. Without a symbol file there are no names to map.
Result<RegisterMap> modbus_map_for(const Plc& plc, const std::optional<std::filesystem::path>& mapFile);

// Checks the options against the attached module (the whole map is checked here, before the first
// cycle) and makes the channel; it listens once started.
Result<std::unique_ptr<LiveChannel>> make_modbus_channel(const ModbusOptions& options, const Plc& plc,
                                                         Exchange& exchange, const RunStatus& status);

// `softplc modbus-map`: prints the register map of a module (from its symbol file, or the user's
// map checked against it), as a table or as CSV.
Status print_modbus_map(const Plc& plc, const std::optional<std::filesystem::path>& mapFile, bool csv,
                        std::ostream& out);

}  // namespace softplc

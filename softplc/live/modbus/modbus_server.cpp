// The Modbus TCP server on the live channels' socket layer (net/server.h): one thread reads the
// frames of every client, and only whole requests go to a few worker threads, so that a slow or
// stuck client delays nobody but itself, and nothing here ever waits for the cycle or makes it
// wait. Reads are answered from the exchange's latest snapshot; a write goes to the exchange as one
// group and is answered once it has been applied between two cycles.
//
// Framing is ours: a request is read by its MBAP header's length (at most 254), so that a request
// with a function we do not serve, or with more bytes than its function needs, is answered with an
// exception instead of leaving the rest of it in the stream; a header that is not Modbus (protocol
// identifier not 0, a length out of range) closes the connection. libmodbus builds and sends the
// replies (modbus_reply from a mapping of the requested range); exception replies are ours, since
// libmodbus drops the high bit of a function code of 0x80 or more when it adds the exception bit.
#include <modbus/modbus.h>

#include <array>
#include <atomic>
#include <mutex>
#include <sstream>

#include "softplc/live/modbus/modbus_channel.h"
#include "softplc/live/modbus/modbus_request.h"
#include "softplc/live/net/server.h"
#include "softplc/util/text.h"

namespace softplc {

namespace {

constexpr std::size_t kHeaderSize = 7;               // transaction, protocol, length, unit
constexpr std::size_t kMaxFrame = kHeaderSize + 253;  // the longest PDU
// Once the first byte of a request has come, the rest must follow within this time.
constexpr std::chrono::milliseconds kFrameTimeout{2000};
// A reply that the client does not take within this time ends its connection.
constexpr std::chrono::milliseconds kSendTimeout{2000};
// Threads that answer requests; a client's requests are answered one after the other.
constexpr std::size_t kMaxWorkers = 16;
// How often a client waiting for its write to be applied looks whether the server stops.
constexpr std::chrono::milliseconds kWriteSlice{50};

struct ModbusFree {
  void operator()(modbus_t* context) const { modbus_free(context); }
};
using ModbusContext = std::unique_ptr<modbus_t, ModbusFree>;

struct MappingFree {
  void operator()(modbus_mapping_t* mapping) const { modbus_mapping_free(mapping); }
};
using Mapping = std::unique_ptr<modbus_mapping_t, MappingFree>;

struct Counters {
  std::atomic<uint64_t> requests{0};
  std::atomic<uint64_t> reads{0};
  std::atomic<uint64_t> writes{0};
  std::array<std::atomic<uint64_t>, 5> exceptions{};   // by exception code
  std::atomic<uint64_t> malformed{0};
  std::atomic<uint64_t> failedWrites{0};
};

class ModbusChannel final : public LiveChannel, private net::Protocol {
 public:
  ModbusChannel(ModbusOptions options, RegisterMap map, std::shared_ptr<const Symbols> symbols, Exchange& exchange)
      : options_(std::move(options)),
        exchange_(exchange),
        map_(std::make_shared<const RegisterMap>(std::move(map))),
        mapSymbols_(std::move(symbols)),
        server_(*this, limits(options_)) {}
  ~ModbusChannel() override { stop(); }
  ModbusChannel(const ModbusChannel&) = delete;
  ModbusChannel& operator=(const ModbusChannel&) = delete;

  Result<std::string> start() override;
  void stop() override { server_.stop(); }
  std::string report() const override;

  // A request of one connection, whole: answered on a worker; false ends the connection.
  bool answer(const net::Connection& connection, modbus_t* context, std::span<const uint8_t> frame);
  void count_malformed() { ++counters_.malformed; }

 private:
  static net::ServerLimits limits(const ModbusOptions& options) {
    net::ServerLimits limits;
    limits.maxConnections = options.maxClients;
    limits.workers = std::min<std::size_t>(options.maxClients, kMaxWorkers);
    limits.idleTimeout = options.idleTimeout;
    limits.requestTimeout = kFrameTimeout;
    limits.answerTimeout = kSendTimeout;
    limits.maxBuffered = 4 * kMaxFrame;
    return limits;
  }
  std::unique_ptr<net::Session> open(const net::Connection& connection) override;

  bool reply_exception(const net::Connection& connection, std::span<const uint8_t> frame, ModbusException exception);
  std::shared_ptr<const RegisterMap> map_for(const Snapshot& snapshot);

  const ModbusOptions options_;
  Exchange& exchange_;
  std::mutex mapMutex_;
  std::shared_ptr<const RegisterMap> map_;
  std::shared_ptr<const Symbols> mapSymbols_;   // the names the map's offsets come from
  Counters counters_;
  net::Server server_;
};

// One client: its frames, read by the length in their header, and libmodbus's context that
// sends the replies on its socket.
class ModbusSession final : public net::Session {
 public:
  ModbusSession(ModbusChannel& channel, const net::Connection& connection)
      : channel_(channel), connection_(connection) {}

  net::Step take(std::string_view received) override {
    if (received.size() < kHeaderSize) return {};
    const auto byte = [&](std::size_t i) { return static_cast<unsigned>(static_cast<uint8_t>(received[i])); };
    const unsigned protocol = (byte(2) << 8) | byte(3);
    const unsigned length = (byte(4) << 8) | byte(5);   // the unit identifier and the PDU
    // Not Modbus, or longer than any request: nothing after it can be trusted.
    if (protocol != 0 || length < 2 || length > kMaxFrame - 6) {
      channel_.count_malformed();
      return {net::Step::Refuse, 0, {}};
    }
    const std::size_t size = 6 + length;
    if (received.size() < size) return {};
    frame_.assign(received.begin(), received.begin() + static_cast<std::ptrdiff_t>(size));
    return {net::Step::Request, size, {}};
  }

  net::Answer serve(const net::Connection&) override {
    if (!context_) {
      // A context of libmodbus's that only builds and sends replies on this socket.
      context_.reset(modbus_new_tcp("127.0.0.1", MODBUS_TCP_DEFAULT_PORT));
      if (!context_ || modbus_set_socket(context_.get(), static_cast<int>(connection_.native())) != 0) {
        return {{}, true};
      }
    }
    const bool open = channel_.answer(connection_, context_.get(), frame_);
    return {{}, !open};
  }

 private:
  ModbusChannel& channel_;
  const net::Connection& connection_;
  ModbusContext context_;
  std::vector<uint8_t> frame_;
};

std::unique_ptr<net::Session> ModbusChannel::open(const net::Connection& connection) {
  return std::make_unique<ModbusSession>(*this, connection);
}

Result<std::string> ModbusChannel::start() {
  if (auto started = server_.start(options_.address, "--modbus"); !started) return started.error();

  std::ostringstream line;
  line << "modbus: serving Modbus TCP on " << options_.address.text();
  if (!options_.address.loopback()) line << " (not only this machine: every client that reaches it may connect)";
  line << ", " << map_->entries().size() << " variables (";
  bool first = true;
  for (ModbusTable table : kModbusTables) {
    const auto entries = map_->table(table);
    if (entries.empty()) continue;
    line << (first ? "" : ", ") << table_name(table) << " " << entries.front().address << ".." << entries.back().end() - 1;
    first = false;
  }
  line << "), up to " << options_.maxClients << " clients";
  if (options_.readOnly) line << ", read-only";
  return line.str();
}

std::shared_ptr<const RegisterMap> ModbusChannel::map_for(const Snapshot& snapshot) {
  std::lock_guard lock(mapMutex_);
  // After an online change the same names may lie elsewhere in the new module's data area.
  if (snapshot.symbols && snapshot.symbols != mapSymbols_) {
    map_ = std::make_shared<const RegisterMap>(map_->rebound(*snapshot.symbols));
    mapSymbols_ = snapshot.symbols;
  }
  return map_;
}

bool ModbusChannel::reply_exception(const net::Connection& connection, std::span<const uint8_t> frame,
                                    ModbusException exception) {
  ++counters_.exceptions[static_cast<std::size_t>(exception)];
  // The request's transaction, protocol and unit; a length of 3; its function with the exception
  // bit set, whatever the function (0x80 | 0x80 is 0x80); the exception code.
  const std::array<char, 9> reply{static_cast<char>(frame[0]), static_cast<char>(frame[1]), 0, 0, 0, 3,
                                  static_cast<char>(frame[6]), static_cast<char>(frame[7] | 0x80),
                                  static_cast<char>(exception)};
  return connection.send_all(std::string_view(reply.data(), reply.size()), kSendTimeout);
}

bool ModbusChannel::answer(const net::Connection& connection, modbus_t* context, std::span<const uint8_t> frame) {
  ++counters_.requests;
  const auto snapshot = exchange_.latest();
  if (!snapshot) return reply_exception(connection, frame, ModbusException::ServerDeviceFailure);
  const auto map = map_for(*snapshot);
  ModbusRequest request = check_modbus_request(frame.subspan(kHeaderSize), *map, options_.readOnly);
  // Reads and writes by function, refused or not; a function we do not serve is neither.
  if (request.write || request.exception != ModbusException::IllegalFunction) {
    ++(request.write ? counters_.writes : counters_.reads);
  }
  if (request.exception != ModbusException::None) return reply_exception(connection, frame, request.exception);

  // libmodbus answers from a mapping of just the requested range.
  const int start = request.address;
  const int count = request.count;
  Mapping mapping(modbus_mapping_new_start_address(
      request.table == ModbusTable::Coil ? start : 0, request.table == ModbusTable::Coil ? count : 0,
      request.table == ModbusTable::DiscreteInput ? start : 0, request.table == ModbusTable::DiscreteInput ? count : 0,
      request.table == ModbusTable::HoldingRegister ? start : 0, request.table == ModbusTable::HoldingRegister ? count : 0,
      request.table == ModbusTable::InputRegister ? start : 0, request.table == ModbusTable::InputRegister ? count : 0));
  if (!mapping) return reply_exception(connection, frame, ModbusException::ServerDeviceFailure);

  if (request.write) {
    std::future<Status> applied = exchange_.write_many(std::move(request.writes));
    while (applied.wait_for(kWriteSlice) == std::future_status::timeout) {
      if (connection.stopping()) {   // no cycle comes any more: the write is never applied
        ++counters_.failedWrites;
        return reply_exception(connection, frame, ModbusException::ServerDeviceFailure);
      }
    }
    if (!applied.get()) {
      ++counters_.failedWrites;
      return reply_exception(connection, frame, ModbusException::ServerDeviceFailure);
    }
  } else {
    const auto values = read_modbus_values(*map, request.table, request.address, request.count, snapshot->data);
    if (!values) return reply_exception(connection, frame, ModbusException::ServerDeviceFailure);
    for (std::size_t i = 0; i < values->size(); ++i) {
      switch (request.table) {
        case ModbusTable::Coil: mapping->tab_bits[i] = static_cast<uint8_t>((*values)[i]); break;
        case ModbusTable::DiscreteInput: mapping->tab_input_bits[i] = static_cast<uint8_t>((*values)[i]); break;
        case ModbusTable::HoldingRegister: mapping->tab_registers[i] = (*values)[i]; break;
        case ModbusTable::InputRegister: mapping->tab_input_registers[i] = (*values)[i]; break;
      }
    }
  }
  // libmodbus sends the reply at once: it goes whole once the socket takes more.
  if (!connection.wait_writable(kSendTimeout)) return false;
  return modbus_reply(context, frame.data(), static_cast<int>(frame.size()), mapping.get()) >= 0;
}

std::string ModbusChannel::report() const {
  const Counters& c = counters_;
  const net::ServerCounts connections = server_.counts();
  std::ostringstream out;
  const auto counted = [](uint64_t n, const std::string& what) { return plural(n, what, what + "s"); };
  out << "modbus: " << counted(c.requests, "request") << " (" << counted(c.reads, "read") << ", "
      << counted(c.writes, "write") << ") from " << counted(connections.accepted, "client") << ", at most " << connections.peak
      << " at once\n";
  uint64_t exceptions = 0;
  std::string detail;
  for (std::size_t code = 1; code < c.exceptions.size(); ++code) {
    const uint64_t n = c.exceptions[code];
    if (n == 0) continue;
    exceptions += n;
    detail += (detail.empty() ? "" : ", ") + std::to_string(n) + " " +
              std::string(exception_name(static_cast<ModbusException>(code)));
  }
  out << "modbus: " << counted(exceptions, "exception");
  if (!detail.empty()) out << " (" << detail << ")";
  if (c.failedWrites != 0) out << ", " << counted(c.failedWrites, "write") << " not applied";
  out << "\n";
  std::vector<std::string> closed;
  const uint64_t cutOff = connections.cutOff + connections.timedOut;
  if (connections.refused != 0) {
    closed.push_back(std::to_string(connections.refused) + " refused (limit " + std::to_string(options_.maxClients) + ")");
  }
  if (connections.idle != 0) closed.push_back(std::to_string(connections.idle) + " closed idle");
  if (c.malformed != 0) closed.push_back(std::to_string(c.malformed) + " closed on a malformed frame");
  if (cutOff != 0) closed.push_back(std::to_string(cutOff) + " cut off in mid-request");
  if (!closed.empty()) {
    out << "modbus: connections";
    for (std::size_t i = 0; i < closed.size(); ++i) out << (i == 0 ? ": " : ", ") << closed[i];
    out << "\n";
  }
  return out.str();
}

}  // namespace

Result<std::unique_ptr<LiveChannel>> make_modbus_channel(const ModbusOptions& options, const Plc& plc,
                                                         Exchange& exchange, const RunStatus&) {
  if (options.maxClients == 0) return usage_error("--modbus-max-clients must be at least 1");
  auto map = modbus_map_for(plc, options.mapFile);
  if (!map) return map.error();
  return std::unique_ptr<LiveChannel>(
      std::make_unique<ModbusChannel>(options, std::move(map).value(), plc.shared_symbols(), exchange));
}

}  // namespace softplc

// The Modbus TCP server: one thread accepts connections, each client is served by a thread of its
// own (up to a limit), so that a slow or stuck client delays nobody but itself, and nothing here
// ever waits for the cycle or makes it wait. Reads are answered from the exchange's latest snapshot;
// a write goes to the exchange as one group and is answered once it has been applied between two
// cycles.
//
// Framing is ours: a request is read by its MBAP header's length (at most 254), so that a request
// with a function we do not serve, or with more bytes than its function needs, is answered with an
// exception instead of leaving the rest of it in the stream; a header that is not Modbus (protocol
// identifier not 0, a length out of range) closes the connection. libmodbus builds and sends the
// replies (modbus_reply from a mapping of the requested range, modbus_reply_exception).
#include <fcntl.h>
#include <modbus/modbus.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <limits>
#include <list>
#include <mutex>
#include <sstream>
#include <system_error>
#include <thread>

#include "softplc/live/modbus/modbus_channel.h"
#include "softplc/live/modbus/modbus_request.h"

namespace softplc {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kHeaderSize = 7;               // transaction, protocol, length, unit
constexpr std::size_t kMaxFrame = kHeaderSize + 253;  // the longest PDU
// Once the first byte of a request has come, the rest must follow within this time.
constexpr std::chrono::milliseconds kFrameTimeout{2000};
// A reply that the client does not take within this time ends its connection.
constexpr int kSendTimeoutSeconds = 2;
// How often the acceptor looks for finished connections when nothing else wakes it.
constexpr int kReapIntervalMs = 500;
// How often a client waiting for its write to be applied looks whether the server stops.
constexpr std::chrono::milliseconds kWriteSlice{50};

class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() { reset(); }
  Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  void reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

struct ModbusFree {
  void operator()(modbus_t* context) const { modbus_free(context); }
};
using ModbusContext = std::unique_ptr<modbus_t, ModbusFree>;

struct MappingFree {
  void operator()(modbus_mapping_t* mapping) const { modbus_mapping_free(mapping); }
};
using Mapping = std::unique_ptr<modbus_mapping_t, MappingFree>;

// The server's threads yield to the cycle when they compete for a processor: a few steps of
// niceness below the thread that runs the cycles (Linux gives each thread its own).
void yield_to_the_cycle() {
  constexpr int kNicer = 5;
  const auto self = static_cast<id_t>(::gettid());
  errno = 0;
  const int nice = ::getpriority(PRIO_PROCESS, self);
  if (errno == 0) (void)::setpriority(PRIO_PROCESS, self, std::min(nice + kNicer, 19));
}

enum class Wait { Readable, Woken, TimedOut, Failed };

// Waits until `fd` can be read or `wake` is signalled; `timeoutMs` -1 waits for ever.
Wait wait_readable(int fd, int wake, int timeoutMs) {
  std::array<pollfd, 2> fds{pollfd{fd, POLLIN, 0}, pollfd{wake, POLLIN, 0}};
  for (;;) {
    const int ready = ::poll(fds.data(), fds.size(), timeoutMs);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return Wait::Failed;
    if (ready == 0) return Wait::TimedOut;
    if (fds[1].revents != 0) return Wait::Woken;
    return Wait::Readable;   // data, an end of stream or an error: recv tells which
  }
}

int remaining_ms(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

// The listening socket. Ours rather than libmodbus's, for names and IPv6 alike and a message
// with the system's reason when the address cannot be had.
Result<Fd> listen_on(const ListenAddress& address) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string where = address.text();
  if (const int rc = ::getaddrinfo(address.host.c_str(), std::to_string(address.port).c_str(), &hints, &found); rc != 0) {
    return runtime_error("--modbus: cannot listen on " + where + ": " + ::gai_strerror(rc));
  }
  std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> list(found, &::freeaddrinfo);
  int reason = 0;
  for (const addrinfo* ai = list.get(); ai != nullptr; ai = ai->ai_next) {
    Fd fd(::socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC, ai->ai_protocol));
    if (!fd) {
      reason = errno;
      continue;
    }
    const int one = 1;
    (void)::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(fd.get(), ai->ai_addr, ai->ai_addrlen) == 0 && ::listen(fd.get(), 16) == 0) return fd;
    reason = errno;
  }
  std::string message = "--modbus: cannot listen on " + where + ": " + std::strerror(reason);
  if (reason == EADDRINUSE) message += " (another program listens there; choose another port)";
  if (reason == EACCES) message += " (ports below 1024 need privileges; choose a port from 1024 on)";
  return runtime_error(message);
}

struct Counters {
  std::atomic<uint64_t> requests{0};
  std::atomic<uint64_t> reads{0};
  std::atomic<uint64_t> writes{0};
  std::array<std::atomic<uint64_t>, 5> exceptions{};   // by exception code
  std::atomic<uint64_t> clients{0};
  std::atomic<uint32_t> active{0};
  std::atomic<uint32_t> peak{0};
  std::atomic<uint64_t> refused{0};
  std::atomic<uint64_t> idle{0};
  std::atomic<uint64_t> malformed{0};
  std::atomic<uint64_t> cutOff{0};
  std::atomic<uint64_t> failedWrites{0};
};

struct Connection {
  Fd fd;
  ModbusContext context;
  std::thread thread;
  std::atomic<bool> finished{false};
};

class ModbusChannel final : public LiveChannel {
 public:
  ModbusChannel(ModbusOptions options, RegisterMap map, std::shared_ptr<const Symbols> symbols, Exchange& exchange)
      : options_(std::move(options)),
        exchange_(exchange),
        map_(std::make_shared<const RegisterMap>(std::move(map))),
        mapSymbols_(std::move(symbols)) {}
  ~ModbusChannel() override { stop(); }
  ModbusChannel(const ModbusChannel&) = delete;
  ModbusChannel& operator=(const ModbusChannel&) = delete;

  Result<std::string> start() override;
  void stop() override;
  std::string report() const override;

 private:
  enum class Frame { Complete, Closed, Woken, Idle, CutOff, Malformed };

  void accept_loop();
  void accept_one();
  void serve(Connection& connection);
  Frame read_frame(int fd, std::array<uint8_t, kMaxFrame>& frame, std::size_t& size) const;
  bool answer(modbus_t* context, std::span<const uint8_t> frame);
  bool reply_exception(modbus_t* context, std::span<const uint8_t> frame, ModbusException exception);
  std::shared_ptr<const RegisterMap> map_for(const Snapshot& snapshot);
  void reap(bool all);

  const ModbusOptions options_;
  Exchange& exchange_;
  std::mutex mapMutex_;
  std::shared_ptr<const RegisterMap> map_;
  std::shared_ptr<const Symbols> mapSymbols_;   // the names the map's offsets come from

  Fd listener_;
  Fd wakeRead_;    // readable once the server stops: every wait looks at it
  Fd wakeWrite_;
  std::thread acceptor_;
  std::atomic<bool> stopping_{false};
  bool running_ = false;
  std::mutex connectionsMutex_;
  std::list<std::unique_ptr<Connection>> connections_;
  Counters counters_;
};

Result<std::string> ModbusChannel::start() {
  auto listener = listen_on(options_.address);
  if (!listener) return listener.error();
  listener_ = std::move(listener).value();
  std::array<int, 2> pipe{-1, -1};
  if (::pipe2(pipe.data(), O_CLOEXEC) != 0) return runtime_error(std::string("--modbus: pipe: ") + std::strerror(errno));
  wakeRead_ = Fd(pipe[0]);
  wakeWrite_ = Fd(pipe[1]);

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

  acceptor_ = std::thread([this] { accept_loop(); });
  running_ = true;
  return line.str();
}

void ModbusChannel::stop() {
  if (!running_) return;
  running_ = false;
  stopping_ = true;
  const char byte = 1;
  (void)!::write(wakeWrite_.get(), &byte, 1);
  if (acceptor_.joinable()) acceptor_.join();
  reap(true);
  listener_.reset();
}

void ModbusChannel::accept_loop() {
  yield_to_the_cycle();
  for (;;) {
    const Wait wait = wait_readable(listener_.get(), wakeRead_.get(), kReapIntervalMs);
    reap(false);
    if (wait == Wait::Woken || stopping_) return;
    if (wait == Wait::Readable) accept_one();
    if (wait == Wait::Failed) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

void ModbusChannel::accept_one() {
  Fd fd(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
  if (!fd) {
    // Out of descriptors, or the client gave up before we took it: try again a little later.
    if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return;
  }
  if (counters_.active.load() >= options_.maxClients) {
    ++counters_.refused;
    return;   // closed at once
  }
  const int one = 1;
  (void)::setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  const timeval sendTimeout{kSendTimeoutSeconds, 0};
  (void)::setsockopt(fd.get(), SOL_SOCKET, SO_SNDTIMEO, &sendTimeout, sizeof sendTimeout);
  // A context of libmodbus's that only builds and sends replies on this socket.
  ModbusContext context(modbus_new_tcp("127.0.0.1", MODBUS_TCP_DEFAULT_PORT));
  if (!context || modbus_set_socket(context.get(), fd.get()) != 0) return;

  auto connection = std::make_unique<Connection>();
  connection->fd = std::move(fd);
  connection->context = std::move(context);
  Connection& served = *connection;
  ++counters_.clients;
  const uint32_t active = ++counters_.active;
  uint32_t peak = counters_.peak.load();
  while (active > peak && !counters_.peak.compare_exchange_weak(peak, active)) {
    // `peak` now holds the other thread's value: try again while ours is higher
  }
  std::lock_guard lock(connectionsMutex_);
  connections_.push_back(std::move(connection));
  try {
    served.thread = std::thread([this, &served] { serve(served); });
  } catch (const std::system_error&) {   // no thread to be had: as if over the limit
    connections_.pop_back();
    --counters_.active;
    --counters_.clients;
    ++counters_.refused;
  }
}

void ModbusChannel::reap(bool all) {
  std::list<std::unique_ptr<Connection>> done;
  {
    std::lock_guard lock(connectionsMutex_);
    for (auto it = connections_.begin(); it != connections_.end();) {
      if (all || (*it)->finished) {
        done.push_back(std::move(*it));
        it = connections_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& connection : done)
    if (connection->thread.joinable()) connection->thread.join();
}

void ModbusChannel::serve(Connection& connection) {
  yield_to_the_cycle();
  std::array<uint8_t, kMaxFrame> frame{};
  for (bool open = true; open;) {
    std::size_t size = 0;
    switch (read_frame(connection.fd.get(), frame, size)) {
      case Frame::Complete: open = answer(connection.context.get(), std::span<const uint8_t>(frame.data(), size)); break;
      case Frame::Closed:
      case Frame::Woken: open = false; break;
      case Frame::Idle: ++counters_.idle; open = false; break;
      case Frame::CutOff: ++counters_.cutOff; open = false; break;
      case Frame::Malformed: ++counters_.malformed; open = false; break;
    }
  }
  // Closed here and now, so that the client learns at once; the acceptor joins the thread later.
  connection.context.reset();
  connection.fd.reset();
  --counters_.active;
  connection.finished = true;
}

ModbusChannel::Frame ModbusChannel::read_frame(int fd, std::array<uint8_t, kMaxFrame>& frame, std::size_t& size) const {
  const auto idle = options_.idleTimeout.count();
  const int idleMs = idle <= 0 ? -1 : static_cast<int>(std::min<decltype(idle)>(idle, std::numeric_limits<int>::max()));
  switch (wait_readable(fd, wakeRead_.get(), idleMs)) {
    case Wait::Readable: break;
    case Wait::Woken: return Frame::Woken;
    case Wait::TimedOut: return Frame::Idle;
    case Wait::Failed: return Frame::Closed;
  }
  const Clock::time_point deadline = Clock::now() + kFrameTimeout;
  std::size_t wanted = kHeaderSize;
  size = 0;
  while (size < wanted) {
    if (size != 0) {
      switch (wait_readable(fd, wakeRead_.get(), remaining_ms(deadline))) {
        case Wait::Readable: break;
        case Wait::Woken: return Frame::Woken;
        case Wait::TimedOut:
        case Wait::Failed: return Frame::CutOff;
      }
    }
    const ssize_t got = ::recv(fd, frame.data() + size, wanted - size, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return size == 0 ? Frame::Closed : Frame::CutOff;
    size += static_cast<std::size_t>(got);
    if (size == kHeaderSize && wanted == kHeaderSize) {
      const unsigned protocol = (frame[2] << 8) | frame[3];
      const unsigned length = (frame[4] << 8) | frame[5];   // the unit identifier and the PDU
      if (protocol != 0 || length < 2 || length > kMaxFrame - 6) return Frame::Malformed;
      wanted = 6 + length;
    }
  }
  return Frame::Complete;
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

bool ModbusChannel::reply_exception(modbus_t* context, std::span<const uint8_t> frame, ModbusException exception) {
  ++counters_.exceptions[static_cast<std::size_t>(exception)];
  return modbus_reply_exception(context, frame.data(), static_cast<unsigned>(exception)) >= 0;
}

bool ModbusChannel::answer(modbus_t* context, std::span<const uint8_t> frame) {
  ++counters_.requests;
  const auto snapshot = exchange_.latest();
  if (!snapshot) return reply_exception(context, frame, ModbusException::ServerDeviceFailure);
  const auto map = map_for(*snapshot);
  ModbusRequest request = check_modbus_request(frame.subspan(kHeaderSize), *map, options_.readOnly);
  // Reads and writes by function, refused or not; a function we do not serve is neither.
  if (request.write || request.exception != ModbusException::IllegalFunction) {
    ++(request.write ? counters_.writes : counters_.reads);
  }
  if (request.exception != ModbusException::None) return reply_exception(context, frame, request.exception);

  // libmodbus answers from a mapping of just the requested range.
  const int start = request.address;
  const int count = request.count;
  Mapping mapping(modbus_mapping_new_start_address(
      request.table == ModbusTable::Coil ? start : 0, request.table == ModbusTable::Coil ? count : 0,
      request.table == ModbusTable::DiscreteInput ? start : 0, request.table == ModbusTable::DiscreteInput ? count : 0,
      request.table == ModbusTable::HoldingRegister ? start : 0, request.table == ModbusTable::HoldingRegister ? count : 0,
      request.table == ModbusTable::InputRegister ? start : 0, request.table == ModbusTable::InputRegister ? count : 0));
  if (!mapping) return reply_exception(context, frame, ModbusException::ServerDeviceFailure);

  if (request.write) {
    std::future<Status> applied = exchange_.write_many(std::move(request.writes));
    while (applied.wait_for(kWriteSlice) == std::future_status::timeout) {
      if (stopping_) {   // no cycle comes any more: the write is never applied
        ++counters_.failedWrites;
        return reply_exception(context, frame, ModbusException::ServerDeviceFailure);
      }
    }
    if (!applied.get()) {
      ++counters_.failedWrites;
      return reply_exception(context, frame, ModbusException::ServerDeviceFailure);
    }
  } else {
    const auto values = read_modbus_values(*map, request.table, request.address, request.count, snapshot->data);
    if (!values) return reply_exception(context, frame, ModbusException::ServerDeviceFailure);
    for (std::size_t i = 0; i < values->size(); ++i) {
      switch (request.table) {
        case ModbusTable::Coil: mapping->tab_bits[i] = static_cast<uint8_t>((*values)[i]); break;
        case ModbusTable::DiscreteInput: mapping->tab_input_bits[i] = static_cast<uint8_t>((*values)[i]); break;
        case ModbusTable::HoldingRegister: mapping->tab_registers[i] = (*values)[i]; break;
        case ModbusTable::InputRegister: mapping->tab_input_registers[i] = (*values)[i]; break;
      }
    }
  }
  return modbus_reply(context, frame.data(), static_cast<int>(frame.size()), mapping.get()) >= 0;
}

std::string ModbusChannel::report() const {
  const Counters& c = counters_;
  std::ostringstream out;
  const auto counted = [](uint64_t n, const char* what) {
    return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
  };
  out << "modbus: " << counted(c.requests, "request") << " (" << counted(c.reads, "read") << ", "
      << counted(c.writes, "write") << ") from " << counted(c.clients, "client") << ", at most " << c.peak
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
  if (c.refused != 0) closed.push_back(std::to_string(c.refused) + " refused (limit " + std::to_string(options_.maxClients) + ")");
  if (c.idle != 0) closed.push_back(std::to_string(c.idle) + " closed idle");
  if (c.malformed != 0) closed.push_back(std::to_string(c.malformed) + " closed on a malformed frame");
  if (c.cutOff != 0) closed.push_back(std::to_string(c.cutOff) + " cut off in mid-request");
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

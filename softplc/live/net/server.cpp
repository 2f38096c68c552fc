#include "softplc/live/net/server.h"

#include <algorithm>
#include <array>
#include <limits>
#include <system_error>

namespace softplc::net {

namespace {

constexpr std::size_t kReadChunk = 16 * 1024;
constexpr int kReadsPerTurn = 4;   // then the other connections get their turn
// A connection that is closed by us first has its last words sent and its side shut, then what
// the client still sends is read and dropped for a while, so that the client reads those words
// (closing with unread bytes would reset the connection and lose them).
constexpr auto kLinger = std::chrono::seconds(1);
constexpr std::size_t kMaxDrained = 1024 * 1024;
constexpr std::size_t kMaxLingering = 64;
constexpr auto kAcceptPause = std::chrono::milliseconds(100);
constexpr auto kNever = Clock::time_point::max();

std::span<const char> bytes_of(std::string_view text) { return {text.data(), text.size()}; }

int timeout_ms(Clock::time_point now, Clock::time_point until) {
  if (until == kNever) return -1;
  if (until <= now) return 0;
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(until - now).count();
  return static_cast<int>(std::min<decltype(ms)>(ms, 60'000));
}

}  // namespace

struct Server::Link {
  enum class Phase { Reading, Working, Writing, Lingering, Done };

  Link(Socket socket_, std::unique_ptr<Session> session_, const Server& server)
      : socket(std::move(socket_)), session(std::move(session_)), connection(socket, server.stopping_, server.stop_) {}

  Socket socket;
  std::unique_ptr<Session> session;   // none for a connection refused at the limit
  Connection connection;
  Phase phase = Phase::Reading;
  Clock::time_point deadline = kNever;   // of the phase
  bool begun = false;                    // a request has begun to arrive
  std::string received;                  // not used by the session yet
  std::string out;                       // Writing: the answer, `sent` of it gone
  std::size_t sent = 0;
  bool closeAfter = false;
  std::size_t drained = 0;               // Lingering: bytes read and dropped

  void close() {
    socket.close();
    session.reset();
    phase = Phase::Done;
  }
};

// ---- Connection ----

bool Connection::wait_writable(std::chrono::milliseconds timeout) const {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    const auto now = Clock::now();
    if (stopping_ || now >= deadline) return false;
    std::array<PollItem, 2> items{PollItem{socket_.native(), false, true}, PollItem{stop_.handle(), true, false}};
    if (!poll(items, timeout_ms(now, deadline))) return false;
    if (items[1].readable) return false;
    if (items[0].writable) return true;
  }
}

// Once the server stops, what fits is still sent, but nothing is waited for.
bool Connection::send_all(std::string_view bytes, std::chrono::milliseconds timeout) const {
  const auto deadline = Clock::now() + timeout;
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const Io io = socket_.send(bytes_of(bytes.substr(sent)));
    if (io.kind == Io::Done) {
      sent += io.bytes;
      continue;
    }
    if (io.kind == Io::Failed) return false;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0 || !wait_writable(left)) return false;
  }
  return true;
}

// ---- Server ----

Server::Server(Protocol& protocol, ServerLimits limits) : protocol_(protocol), limits_(limits) {}
Server::~Server() { stop(); }

Status Server::start(const ListenAddress& address, std::string_view option) {
  auto listener = listen_on(address, option);
  if (!listener) return listener.error();
  auto stop = Signal::make();
  if (!stop) return stop.error();
  auto doorbell = Signal::make();
  if (!doorbell) return doorbell.error();
  listener_ = std::move(listener).value();
  stop_ = std::move(stop).value();
  doorbell_ = std::move(doorbell).value();
  if (auto started = workers_.start(limits_.workers); !started) return started.error();
  try {
    thread_ = std::thread([this] { loop(); });
  } catch (const std::system_error& e) {
    workers_.stop();
    return runtime_error(std::string(option) + ": cannot start the serving thread: " + e.what());
  }
  return ok_status();
}

void Server::stop() {
  if (!thread_.joinable()) return;
  stopping_ = true;
  stop_.raise();
  thread_.join();
  workers_.stop();
  // Answers given back after the server's thread ended: one try each, without waiting.
  for (auto& [link, answer] : returned_) (void)link->socket.send(bytes_of(answer.bytes));
  returned_.clear();
  links_.clear();
  listener_.close();
}

ServerCounts Server::counts() const {
  const Counters& c = counters_;
  return {c.accepted, c.refused, c.idle, c.timedOut, c.cutOff, c.unsent, c.peak};
}

std::size_t Server::active() const {
  return static_cast<std::size_t>(std::count_if(links_.begin(), links_.end(), [](const auto& link) {
    return link->session && link->phase != Link::Phase::Done;
  }));
}

std::size_t Server::lingering() const {
  return static_cast<std::size_t>(std::count_if(
      links_.begin(), links_.end(), [](const auto& link) { return link->phase == Link::Phase::Lingering; }));
}

void Server::loop() {
  lower_thread_priority();
  std::vector<PollItem> items;
  std::vector<Link*> polled;
  while (!stopping_) {
    auto now = Clock::now();
    const bool accepting = now >= acceptPause_;
    items.assign({PollItem{stop_.handle(), true}, PollItem{doorbell_.handle(), true}});
    if (accepting) items.push_back(PollItem{listener_.native(), true});
    const std::size_t first = items.size();
    polled.clear();
    Clock::time_point next = accepting ? kNever : acceptPause_;
    for (const auto& link : links_) {
      const bool reading = link->phase == Link::Phase::Reading || link->phase == Link::Phase::Lingering;
      const bool writing = link->phase == Link::Phase::Writing;
      if (!reading && !writing) continue;
      items.push_back(PollItem{link->socket.native(), reading, writing});
      polled.push_back(link.get());
      next = std::min(next, link->deadline);
    }
    if (!poll(items, timeout_ms(now, next))) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      continue;
    }
    if (items[0].readable || stopping_) break;
    now = Clock::now();
    for (std::size_t i = 0; i < polled.size(); ++i) {
      const PollItem& item = items[first + i];
      if (item.readable || item.writable) on_ready(*polled[i], item.readable, item.writable, now);
    }
    if (items[1].readable) {
      doorbell_.clear();   // before taking, so that a connection given back meanwhile rings again
      take_returned(now);
    }
    if (accepting && items[2].readable) accept_all(now);
    for (const auto& link : links_)
      if (link->deadline <= now) expire(*link, now);
    links_.remove_if([](const auto& link) { return link->phase == Link::Phase::Done; });
  }
}

void Server::accept_all(Clock::time_point now) {
  std::size_t served = active();
  for (int i = 0; i < 64; ++i) {
    bool exhausted = false;
    Socket socket = accept_from(listener_, exhausted);
    if (!socket) {
      if (exhausted) acceptPause_ = now + kAcceptPause;
      return;
    }
    if (served >= limits_.maxConnections) {
      ++counters_.refused;
      std::string refusal = protocol_.refusal();
      if (refusal.empty() || lingering() >= kMaxLingering) continue;   // closed at once
      links_.push_back(std::make_unique<Link>(std::move(socket), nullptr, *this));
      write(*links_.back(), std::move(refusal), true, now);
      continue;
    }
    links_.push_back(std::make_unique<Link>(std::move(socket), nullptr, *this));
    Link& link = *links_.back();
    link.session = protocol_.open(link.connection);
    if (!link.session) {   // the protocol cannot serve it now
      ++counters_.refused;
      link.close();
      continue;
    }
    link.deadline = limits_.idleTimeout.count() > 0 ? now + limits_.idleTimeout : kNever;
    ++counters_.accepted;
    const auto peak = static_cast<uint32_t>(++served);
    if (peak > counters_.peak) counters_.peak = peak;
  }
}

void Server::on_ready(Link& link, bool readable, bool writable, Clock::time_point now) {
  switch (link.phase) {
    case Link::Phase::Reading:
      if (readable) receive(link, now);
      break;
    case Link::Phase::Writing:
      if (writable) flush(link, now);
      break;
    case Link::Phase::Lingering: {
      if (!readable) break;
      std::array<char, kReadChunk> dropped{};
      for (int round = 0; round < kReadsPerTurn && link.phase == Link::Phase::Lingering; ++round) {
        const Io io = link.socket.receive(dropped);
        if (io.kind == Io::WouldBlock) break;
        link.drained += io.bytes;
        if (io.kind != Io::Done || link.drained > kMaxDrained) link.close();
      }
      break;
    }
    case Link::Phase::Working:
    case Link::Phase::Done: break;
  }
}

void Server::receive(Link& link, Clock::time_point now) {
  for (int round = 0; round < kReadsPerTurn && link.phase == Link::Phase::Reading; ++round) {
    const std::size_t had = link.received.size();
    if (had >= limits_.maxBuffered) {   // a protocol that does not bound what it waits for
      ++counters_.cutOff;
      link.close();
      return;
    }
    const std::size_t room = std::min(kReadChunk, limits_.maxBuffered - had);
    link.received.resize(had + room);
    const Io io = link.socket.receive(std::span<char>(link.received.data() + had, room));
    link.received.resize(had + (io.kind == Io::Done ? io.bytes : 0));
    if (io.kind == Io::WouldBlock) return;
    if (io.kind != Io::Done) {
      if (link.begun) ++counters_.cutOff;
      link.close();
      return;
    }
    if (!link.begun) {
      link.begun = true;
      link.deadline = now + limits_.requestTimeout;
    }
    feed(link, now);
  }
}

void Server::feed(Link& link, Clock::time_point now) {
  while (link.phase == Link::Phase::Reading && !link.received.empty()) {
    Step step = link.session->take(link.received);
    link.received.erase(0, std::min(step.used, link.received.size()));
    switch (step.kind) {
      case Step::More:
        if (!step.reply.empty()) (void)link.socket.send(bytes_of(step.reply));   // an interim answer: best effort
        if (step.used == 0) return;
        break;
      case Step::Request:
        link.phase = Link::Phase::Working;
        link.begun = false;
        link.deadline = kNever;
        workers_.submit([this, worked = &link] { returned(*worked, worked->session->serve(worked->connection)); });
        return;
      case Step::Refuse: write(link, std::move(step.reply), true, now); return;
    }
  }
}

void Server::write(Link& link, std::string bytes, bool close, Clock::time_point now) {
  link.out = std::move(bytes);
  link.sent = 0;
  link.closeAfter = close;
  link.phase = Link::Phase::Writing;
  link.deadline = now + limits_.answerTimeout;
  flush(link, now);
}

void Server::flush(Link& link, Clock::time_point now) {
  while (link.sent < link.out.size()) {
    const Io io = link.socket.send(bytes_of(std::string_view(link.out).substr(link.sent)));
    if (io.kind == Io::WouldBlock) return;
    if (io.kind != Io::Done) return link.close();
    link.sent += io.bytes;
  }
  link.out = std::string();
  if (link.closeAfter) return linger(link, now);
  resume(link, now);
}

void Server::resume(Link& link, Clock::time_point now) {
  link.phase = Link::Phase::Reading;
  link.begun = !link.received.empty();   // the next request came with the last one
  if (link.begun) {
    link.deadline = now + limits_.requestTimeout;
  } else {
    link.deadline = limits_.idleTimeout.count() > 0 ? now + limits_.idleTimeout : kNever;
  }
  feed(link, now);
}

void Server::linger(Link& link, Clock::time_point now) {
  if (lingering() >= kMaxLingering) return link.close();
  link.socket.shutdown_send();
  link.session.reset();
  link.received = std::string();
  link.phase = Link::Phase::Lingering;
  link.deadline = now + kLinger;
}

void Server::expire(Link& link, Clock::time_point now) {
  switch (link.phase) {
    case Link::Phase::Reading:
      if (link.begun) {
        ++counters_.timedOut;
        write(link, link.session->timed_out(), true, now);
      } else {
        ++counters_.idle;
        link.close();
      }
      break;
    case Link::Phase::Writing:
      if (link.session) ++counters_.unsent;
      link.close();
      break;
    case Link::Phase::Lingering: link.close(); break;
    case Link::Phase::Working:
    case Link::Phase::Done: break;
  }
}

void Server::take_returned(Clock::time_point now) {
  std::vector<std::pair<Link*, Answer>> back;
  {
    std::lock_guard lock(returnedMutex_);
    back.swap(returned_);
  }
  for (auto& [link, answer] : back) {
    if (!answer.bytes.empty()) {
      write(*link, std::move(answer.bytes), answer.close, now);
    } else if (answer.close) {
      linger(*link, now);
    } else {
      resume(*link, now);
    }
  }
}

void Server::returned(Link& link, Answer answer) {
  {
    std::lock_guard lock(returnedMutex_);
    returned_.emplace_back(&link, std::move(answer));
  }
  doorbell_.raise();
}

}  // namespace softplc::net

// A server of requests over TCP, apart from any protocol: one thread listens and reads what every
// connection sends, a protocol's Session says when a request is whole (or refuses it), and a few
// worker threads answer whole requests only. A client that sends slowly, or not at all, holds no
// worker and delays nobody; every limit below holds per connection, and stop() ends every wait
// at once.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "softplc/live/channel.h"
#include "softplc/live/net/socket.h"
#include "softplc/live/net/workers.h"
#include "softplc/util/result.h"

namespace softplc::net {

using Clock = std::chrono::steady_clock;

struct ServerLimits {
  std::size_t maxConnections = 16;   // served at once; a further one is refused as it comes
  std::size_t workers = 4;           // threads that answer whole requests
  // A connection on which no request has begun for this long is closed; 0: never.
  std::chrono::milliseconds idleTimeout{0};
  // From the first byte of a request to its last.
  std::chrono::milliseconds requestTimeout{5000};
  // For the client to take an answer whole.
  std::chrono::milliseconds answerTimeout{5000};
  // Bytes of one connection held before its protocol has used them; a protocol refuses far
  // sooner, this only guards against one that does not.
  std::size_t maxBuffered = 64 * 1024;
};

// Connections, as the end-of-run reports count them.
struct ServerCounts {
  uint64_t accepted = 0;   // served
  uint64_t refused = 0;    // beyond the limit
  uint64_t idle = 0;       // closed after idleTimeout
  uint64_t timedOut = 0;   // a request not whole within requestTimeout
  uint64_t cutOff = 0;     // closed by the client in mid-request
  uint64_t unsent = 0;     // an answer not taken within answerTimeout
  uint32_t peak = 0;       // served at once
};

// A connection as a worker sees it while it answers: the server leaves the socket alone until the
// session's serve() returns.
class Connection {
 public:
  Connection(const Socket& socket, const std::atomic<bool>& stopping, const Signal& stop)
      : socket_(socket), stopping_(stopping), stop_(stop) {}
  NativeSocket native() const { return socket_.native(); }
  bool stopping() const { return stopping_; }
  // Sends all of `bytes` within `timeout`; false when the client did not take them in time, is
  // gone, or the server stops.
  bool send_all(std::string_view bytes, std::chrono::milliseconds timeout) const;
  // Waits until a send would not block; false as for send_all().
  bool wait_writable(std::chrono::milliseconds timeout) const;

 private:
  const Socket& socket_;
  const std::atomic<bool>& stopping_;
  const Signal& stop_;
};

// What a session makes of the bytes received so far.
struct Step {
  enum Kind {
    More,      // not a whole request yet
    Request,   // a whole request: serve() answers it on a worker
    Refuse,    // the connection ends: `reply` is sent, then it is closed
  } kind = More;
  std::size_t used = 0;   // bytes used from the front of what was received
  std::string reply;      // More: an interim answer to send now; Refuse: the last words
};

// What serve() gives back: bytes for the server to send (it may have sent its own through the
// Connection), and whether the connection ends after them.
struct Answer {
  std::string bytes;
  bool close = false;
};

// One connection's protocol state.
class Session {
 public:
  virtual ~Session() = default;
  // On the server's thread whenever bytes arrive: `received` holds every byte not used yet.
  virtual Step take(std::string_view received) = 0;
  // On a worker, once take() gave Request.
  virtual Answer serve(const Connection& connection) = 0;
  // On the server's thread: the request was not whole within requestTimeout; the last words
  // before the connection is closed.
  virtual std::string timed_out() { return {}; }
};

class Protocol {
 public:
  virtual ~Protocol() = default;
  // A connection accepted: its session, which may keep `connection` (it lives as long).
  virtual std::unique_ptr<Session> open(const Connection& connection) = 0;
  // What a connection beyond the limit is sent before it is closed; nothing closes it at once.
  virtual std::string refusal() { return {}; }
};

class Server {
 public:
  Server(Protocol& protocol, ServerLimits limits);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Listens on `address` (`option` begins a message: "--http: cannot listen on ...") and starts
  // serving.
  Status start(const ListenAddress& address, std::string_view option);
  // Closes every connection at once; waits for the workers, whose waits end too.
  void stop();
  ServerCounts counts() const;

 private:
  struct Link;
  using Links = std::list<std::unique_ptr<Link>>;

  void loop();
  void accept_all(Clock::time_point now);
  void on_ready(Link& link, bool readable, bool writable, Clock::time_point now);
  void receive(Link& link, Clock::time_point now);
  void feed(Link& link, Clock::time_point now);
  void write(Link& link, std::string bytes, bool close, Clock::time_point now);
  void flush(Link& link, Clock::time_point now);
  void resume(Link& link, Clock::time_point now);
  void linger(Link& link, Clock::time_point now);
  void expire(Link& link, Clock::time_point now);
  void take_returned(Clock::time_point now);
  void returned(Link& link, Answer answer);
  std::size_t active() const;
  std::size_t lingering() const;

  Protocol& protocol_;
  const ServerLimits limits_;
  Socket listener_;
  Signal stop_;
  Signal doorbell_;   // a worker has given a connection back
  std::atomic<bool> stopping_{false};
  std::thread thread_;
  WorkerPool workers_;
  Links links_;   // the server thread's own, until stop() ends it
  std::mutex returnedMutex_;
  std::vector<std::pair<Link*, Answer>> returned_;
  Clock::time_point acceptPause_{};   // out of descriptors: no accept before then

  struct Counters {
    std::atomic<uint64_t> accepted{0}, refused{0}, idle{0}, timedOut{0}, cutOff{0}, unsent{0};
    std::atomic<uint32_t> peak{0};
  } counters_;
};

}  // namespace softplc::net

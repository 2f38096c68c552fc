// The sockets under the live channels, one header for both platforms: socket_posix.cpp and
// socket_win32.cpp implement it, and CMake builds the one that fits. Every socket here is
// non-blocking; a wait is a poll() over several of them, and a Signal ends such a wait from
// another thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "softplc/live/channel.h"
#include "softplc/util/result.h"

namespace softplc::net {

// A descriptor (POSIX) or a SOCKET (Windows); both fit, and both use all bits set for "none".
using NativeSocket = std::uintptr_t;
inline constexpr NativeSocket kNoSocket = ~NativeSocket{0};

// What a transfer did: moved `bytes` (Done), nothing to move now (WouldBlock), the peer closed
// its side (Closed, receive only), or the connection failed (Failed).
struct Io {
  enum Kind { Done, WouldBlock, Closed, Failed } kind = Failed;
  std::size_t bytes = 0;
};

class Socket {
 public:
  Socket() = default;
  explicit Socket(NativeSocket native) : native_(native) {}
  ~Socket() { close(); }
  Socket(Socket&& other) noexcept;
  Socket& operator=(Socket&& other) noexcept;
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;

  NativeSocket native() const { return native_; }
  explicit operator bool() const { return native_ != kNoSocket; }
  void close();

  Io receive(std::span<char> into) const;
  Io send(std::span<const char> bytes) const;
  // No more bytes from us: the peer reads an end of stream once it has read what was sent.
  void shutdown_send() const;

 private:
  NativeSocket native_ = kNoSocket;
};

// A flag that any thread raises and that every poll() watching it sees at once: raised for good
// (a stop), or raised and cleared again by the one thread that waits on it (a doorbell).
class Signal {
 public:
  static Result<Signal> make();
  void raise() const;
  void clear() const;
  NativeSocket handle() const { return read_.native(); }

 private:
  Socket read_;
  Socket write_;   // none where one socket does both (Windows)
};

struct PollItem {
  NativeSocket socket = kNoSocket;
  bool wantRead = false;
  bool wantWrite = false;
  // Set by poll(): readable includes an end of stream or an error (a receive tells which).
  bool readable = false;
  bool writable = false;
};

// Waits until an item is ready or `timeoutMs` passes (-1: no limit); false when the wait itself
// failed. An interrupted wait is resumed.
bool poll(std::span<PollItem> items, int timeoutMs);

// A listening socket on `address`, for this process alone: a port that another program listens
// on is refused, never shared. `option` ("--http") begins the message, which gives the system's
// reason.
Result<Socket> listen_on(const ListenAddress& address, std::string_view option);

// A connection waiting on `listener`, non-blocking with no delay for small writes; an empty
// socket when there is none. `exhausted` is set when the system ran out of descriptors or
// memory (the caller waits a little before trying again).
Socket accept_from(const Socket& listener, bool& exhausted);

// The calling thread yields to the cycle's thread when they compete for a processor: a few steps
// of niceness lower (Linux), a priority below normal (Windows).
void lower_thread_priority();

}  // namespace softplc::net

// The sockets on Linux: descriptors, poll(), a pipe for a Signal.
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "softplc/live/net/socket.h"

namespace softplc::net {

namespace {

int fd_of(NativeSocket native) { return static_cast<int>(native); }
NativeSocket native_of(int fd) { return fd < 0 ? kNoSocket : static_cast<NativeSocket>(fd); }

Io transferred(ssize_t done) {
  if (done > 0) return {Io::Done, static_cast<std::size_t>(done)};
  if (done == 0) return {Io::Closed, 0};
  if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return {Io::WouldBlock, 0};
  return {Io::Failed, 0};
}

}  // namespace

Socket::Socket(Socket&& other) noexcept : native_(std::exchange(other.native_, kNoSocket)) {}

Socket& Socket::operator=(Socket&& other) noexcept {
  if (this != &other) {
    close();
    native_ = std::exchange(other.native_, kNoSocket);
  }
  return *this;
}

void Socket::close() {
  if (native_ != kNoSocket) ::close(fd_of(native_));
  native_ = kNoSocket;
}

Io Socket::receive(std::span<char> into) const { return transferred(::recv(fd_of(native_), into.data(), into.size(), 0)); }

Io Socket::send(std::span<const char> bytes) const {
  if (bytes.empty()) return {Io::Done, 0};
  const Io io = transferred(::send(fd_of(native_), bytes.data(), bytes.size(), MSG_NOSIGNAL));
  return io.kind == Io::Closed ? Io{Io::WouldBlock, 0} : io;
}

void Socket::shutdown_send() const { (void)::shutdown(fd_of(native_), SHUT_WR); }

Result<Signal> Signal::make() {
  std::array<int, 2> ends{-1, -1};
  if (::pipe2(ends.data(), O_CLOEXEC | O_NONBLOCK) != 0) {
    return runtime_error(std::string("cannot make a pipe: ") + std::strerror(errno));
  }
  Signal signal;
  signal.read_ = Socket(native_of(ends[0]));
  signal.write_ = Socket(native_of(ends[1]));
  return signal;
}

void Signal::raise() const {
  const char byte = 1;
  (void)!::write(fd_of(write_.native()), &byte, 1);   // a full pipe is raised already
}

void Signal::clear() const {
  std::array<char, 64> drain{};
  while (::read(fd_of(read_.native()), drain.data(), drain.size()) > 0) {
  }
}

bool poll(std::span<PollItem> items, int timeoutMs) {
  std::vector<pollfd> fds(items.size());
  for (std::size_t i = 0; i < items.size(); ++i) {
    const short events = static_cast<short>((items[i].wantRead ? POLLIN : 0) | (items[i].wantWrite ? POLLOUT : 0));
    fds[i] = pollfd{fd_of(items[i].socket), events, 0};
  }
  int ready = 0;
  do {
    ready = ::poll(fds.data(), fds.size(), timeoutMs);
  } while (ready < 0 && errno == EINTR);
  if (ready < 0) return false;
  for (std::size_t i = 0; i < items.size(); ++i) {
    const short got = fds[i].revents;
    const bool trouble = (got & (POLLERR | POLLHUP | POLLNVAL)) != 0;
    items[i].readable = items[i].wantRead && ((got & POLLIN) != 0 || trouble);
    items[i].writable = items[i].wantWrite && ((got & POLLOUT) != 0 || trouble);
  }
  return true;
}

Result<Socket> listen_on(const ListenAddress& address, std::string_view option) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string where = std::string(option) + ": cannot listen on " + address.text() + ": ";
  if (const int rc = ::getaddrinfo(address.host.c_str(), std::to_string(address.port).c_str(), &hints, &found); rc != 0) {
    return runtime_error(where + ::gai_strerror(rc));
  }
  std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> list(found, &::freeaddrinfo);
  int reason = 0;
  for (const addrinfo* ai = list.get(); ai != nullptr; ai = ai->ai_next) {
    Socket socket(native_of(::socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, ai->ai_protocol)));
    if (!socket) {
      reason = errno;
      continue;
    }
    // Lets a new run take the port while the last one's connections linger in TIME_WAIT; on
    // Linux it never lets two sockets listen on one port (SO_REUSEPORT would, and is not set).
    const int one = 1;
    (void)::setsockopt(fd_of(socket.native()), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(fd_of(socket.native()), ai->ai_addr, ai->ai_addrlen) == 0 && ::listen(fd_of(socket.native()), 64) == 0) {
      return socket;
    }
    reason = errno;
  }
  std::string message = where + std::strerror(reason);
  if (reason == EADDRINUSE) message += " (another program listens there; choose another port)";
  if (reason == EACCES) message += " (ports below 1024 need privileges; choose a port from 1024 on)";
  return runtime_error(message);
}

Socket accept_from(const Socket& listener, bool& exhausted) {
  Socket socket(native_of(::accept4(fd_of(listener.native()), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK)));
  exhausted = !socket && (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM);
  if (socket) {
    const int one = 1;
    (void)::setsockopt(fd_of(socket.native()), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  }
  return socket;
}

void lower_thread_priority() {
  constexpr int kNicer = 5;
  const auto self = static_cast<id_t>(::gettid());   // Linux gives each thread its own niceness
  errno = 0;
  const int nice = ::getpriority(PRIO_PROCESS, self);
  if (errno == 0) (void)::setpriority(PRIO_PROCESS, self, std::min(nice + kNicer, 19));
}

}  // namespace softplc::net

// The sockets on Windows: Winsock 2, WSAPoll(), a datagram socket that sends to itself for a
// Signal.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <algorithm>
#include <array>
#include <memory>
#include <utility>
#include <vector>

#include "softplc/live/net/socket.h"

namespace softplc::net {

namespace {

SOCKET socket_of(NativeSocket native) { return static_cast<SOCKET>(native); }
NativeSocket native_of(SOCKET socket) { return socket == INVALID_SOCKET ? kNoSocket : static_cast<NativeSocket>(socket); }

// Winsock is started once, before the first socket, and left to the process's end.
bool winsock_started() {
  static const bool started = [] {
    WSADATA data{};
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}

std::string system_text(int code) {
  std::array<char, 512> text{};
  const DWORD size = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                    static_cast<DWORD>(code), 0, text.data(), static_cast<DWORD>(text.size()), nullptr);
  std::string message(text.data(), size);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == '.' || message.back() == ' '))
    message.pop_back();
  if (!message.empty()) return message;
  // Some systems (Wine) have no texts for the socket errors.
  switch (code) {
    case WSAEADDRINUSE: return "Address already in use";
    case WSAEACCES: return "Permission denied";
    case WSAEADDRNOTAVAIL: return "Cannot assign requested address";
    default: return "error " + std::to_string(code);
  }
}

Io transferred(int done) {
  if (done > 0) return {Io::Done, static_cast<std::size_t>(done)};
  if (done == 0) return {Io::Closed, 0};
  const int code = WSAGetLastError();
  if (code == WSAEWOULDBLOCK || code == WSAEINTR) return {Io::WouldBlock, 0};
  return {Io::Failed, 0};
}

bool make_non_blocking(SOCKET socket) {
  u_long on = 1;
  return ioctlsocket(socket, FIONBIO, &on) == 0;
}

int clamp(std::size_t size) { return static_cast<int>(std::min<std::size_t>(size, 1 << 30)); }

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
  if (native_ != kNoSocket) closesocket(socket_of(native_));
  native_ = kNoSocket;
}

Io Socket::receive(std::span<char> into) const {
  return transferred(::recv(socket_of(native_), into.data(), clamp(into.size()), 0));
}

Io Socket::send(std::span<const char> bytes) const {
  if (bytes.empty()) return {Io::Done, 0};
  const Io io = transferred(::send(socket_of(native_), bytes.data(), clamp(bytes.size()), 0));
  return io.kind == Io::Closed ? Io{Io::WouldBlock, 0} : io;
}

void Socket::shutdown_send() const { (void)::shutdown(socket_of(native_), SD_SEND); }

Result<Signal> Signal::make() {
  if (!winsock_started()) return runtime_error("cannot start Winsock");
  Socket socket(native_of(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP)));
  sockaddr_in self{};
  self.sin_family = AF_INET;
  self.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int size = sizeof self;
  if (!socket || ::bind(socket_of(socket.native()), reinterpret_cast<sockaddr*>(&self), sizeof self) != 0 ||
      ::getsockname(socket_of(socket.native()), reinterpret_cast<sockaddr*>(&self), &size) != 0 ||
      ::connect(socket_of(socket.native()), reinterpret_cast<sockaddr*>(&self), sizeof self) != 0 ||
      !make_non_blocking(socket_of(socket.native()))) {
    return runtime_error("cannot make a loopback socket: " + system_text(WSAGetLastError()));
  }
  Signal signal;
  signal.read_ = std::move(socket);
  return signal;
}

void Signal::raise() const {
  const char byte = 1;
  (void)::send(socket_of(read_.native()), &byte, 1, 0);   // a full buffer is raised already
}

void Signal::clear() const {
  std::array<char, 64> drain{};
  while (::recv(socket_of(read_.native()), drain.data(), static_cast<int>(drain.size()), 0) > 0) {
  }
}

bool poll(std::span<PollItem> items, int timeoutMs) {
  std::vector<WSAPOLLFD> fds(items.size());
  for (std::size_t i = 0; i < items.size(); ++i) {
    const short events = static_cast<short>((items[i].wantRead ? POLLRDNORM : 0) | (items[i].wantWrite ? POLLWRNORM : 0));
    fds[i] = WSAPOLLFD{socket_of(items[i].socket), events, 0};
  }
  int ready = 0;
  do {
    ready = WSAPoll(fds.data(), static_cast<ULONG>(fds.size()), timeoutMs);
  } while (ready == SOCKET_ERROR && WSAGetLastError() == WSAEINTR);
  if (ready == SOCKET_ERROR) return false;
  for (std::size_t i = 0; i < items.size(); ++i) {
    const short got = fds[i].revents;
    const bool trouble = (got & (POLLERR | POLLHUP | POLLNVAL)) != 0;
    items[i].readable = items[i].wantRead && ((got & POLLRDNORM) != 0 || trouble);
    items[i].writable = items[i].wantWrite && ((got & POLLWRNORM) != 0 || trouble);
  }
  return true;
}

Result<Socket> listen_on(const ListenAddress& address, std::string_view option) {
  const std::string where = std::string(option) + ": cannot listen on " + address.text() + ": ";
  if (!winsock_started()) return runtime_error(where + "cannot start Winsock");
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  if (const int rc = ::getaddrinfo(address.host.c_str(), std::to_string(address.port).c_str(), &hints, &found); rc != 0) {
    return runtime_error(where + system_text(rc));
  }
  std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> list(found, &::freeaddrinfo);
  int reason = 0;
  for (const addrinfo* ai = list.get(); ai != nullptr; ai = ai->ai_next) {
    Socket socket(native_of(::socket(ai->ai_family, ai->ai_socktype, ai->ai_protocol)));
    if (!socket) {
      reason = WSAGetLastError();
      continue;
    }
    // No other socket may bind this port while we listen on it (SO_REUSEADDR would let one take
    // it over on Windows).
    const BOOL on = TRUE;
    (void)::setsockopt(socket_of(socket.native()), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on),
                       sizeof on);
    if (::bind(socket_of(socket.native()), ai->ai_addr, static_cast<int>(ai->ai_addrlen)) == 0 &&
        ::listen(socket_of(socket.native()), 64) == 0 && make_non_blocking(socket_of(socket.native()))) {
      return socket;
    }
    reason = WSAGetLastError();
  }
  std::string message = where + system_text(reason);
  if (reason == WSAEADDRINUSE || reason == WSAEACCES) message += " (another program listens there; choose another port)";
  return runtime_error(message);
}

Socket accept_from(const Socket& listener, bool& exhausted) {
  Socket socket(native_of(::accept(socket_of(listener.native()), nullptr, nullptr)));
  const int code = socket ? 0 : WSAGetLastError();
  exhausted = code == WSAEMFILE || code == WSAENOBUFS;
  if (socket) {
    const BOOL on = TRUE;
    (void)::setsockopt(socket_of(socket.native()), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    if (!make_non_blocking(socket_of(socket.native()))) socket.close();
  }
  return socket;
}

void lower_thread_priority() { (void)SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL); }

}  // namespace softplc::net

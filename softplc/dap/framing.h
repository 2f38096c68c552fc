// The Debug Adapter Protocol's framing: each message is a header of "Name: value" lines, one of
// them Content-Length, ended by an empty line ("\r\n\r\n"), then that many bytes of JSON.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "softplc/util/result.h"

namespace softplc::dap {

using Json = nlohmann::json;

// The largest message taken: a bigger one ends the session (its bytes are not read).
inline constexpr std::size_t kMaxMessageBytes = 4u << 20;
// The longest header taken.
inline constexpr std::size_t kMaxHeaderBytes = 1024;

// What the bytes received so far hold.
struct Incoming {
  enum Kind {
    More,      // not a whole message yet
    Message,   // a whole message: `body` (which may not be JSON: that is the reader's to say)
    Fault,     // the framing is broken: the session cannot go on; `fault` says why
  } kind = More;
  std::size_t used = 0;   // bytes of the input the message took
  std::string body;
  std::string fault;
};

// The first message in `received`, or what is wrong with its header.
Incoming next_frame(std::string_view received);

// A message as it goes out: the header and the JSON.
std::string framed(const Json& message);

// Where a session's messages go, from any thread: responses and events, numbered and framed as
// they go, one whole message at a time.
class Outlet {
 public:
  // Writes all the bytes or gives false (the client is gone or does not take them).
  using Writer = std::function<bool(std::string_view bytes)>;
  explicit Outlet(Writer writer) : writer_(std::move(writer)) {}
  void send(Json message);
  // Nothing is written from here on (the connection goes); waits for a write under way.
  void close();
  bool closed();

 private:
  std::mutex mutex_;
  Writer writer_;
  int64_t seq_ = 1;
};

}  // namespace softplc::dap

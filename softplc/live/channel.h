// A live channel: a server that shows the running program to the outside and takes writes and
// forces from it, through the exchange, from threads of its own. A run (run/run.h) starts its
// channels before the first cycle and stops them after the last.
#pragma once

#include <cstdint>
#include <string>

#include "softplc/util/result.h"

namespace softplc {

class LiveChannel {
 public:
  virtual ~LiveChannel() = default;
  // Binds and starts serving; gives the line that says where it listens.
  virtual Result<std::string> start() = 0;
  // Stops serving and waits for its threads; pending requests get an answer.
  virtual void stop() = 0;
  // The end-of-run lines: requests, errors, clients.
  virtual std::string report() const = 0;
};

// "[ADDRESS:]PORT": where a server listens. Without an address, 127.0.0.1; listening on any other
// address needs it given explicitly.
struct ListenAddress {
  std::string host = "127.0.0.1";
  uint16_t port = 0;
  bool explicitHost = false;
  bool loopback() const;
  std::string text() const;   // "127.0.0.1:5020"
};
Result<ListenAddress> parse_listen_address(const std::string& text, const char* option);

}  // namespace softplc

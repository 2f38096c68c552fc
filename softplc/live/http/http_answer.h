// The web view's answers as bytes on the wire, written by Boost.Beast's serializer: every answer
// carries the same security headers, and an event stream goes out in chunks.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace softplc {

struct HttpResponse {
  int status = 200;
  std::string contentType = "application/json";
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;   // more: WWW-Authenticate, Retry-After
};

// How the answer goes to the client that asked: its HTTP version, whether the connection stays
// open after it, whether the body is left out (HEAD).
struct HttpFraming {
  unsigned version = 11;
  bool keepAlive = true;
  bool headOnly = false;
};

std::string serialize(const HttpResponse& response, const HttpFraming& framing);

// An event stream: its header, then each piece of it as a chunk (HTTP/1.1; HTTP/1.0 gets the bytes
// as they are and the end of the connection for the end of the stream), then its end.
std::string event_stream_head(unsigned version);
std::string event_stream_piece(std::string_view text, unsigned version);
std::string event_stream_end(unsigned version);

}  // namespace softplc

// A request of the web view as it arrives on a connection: Boost.Beast's parser reads it under
// the web view's limits, and its header is checked before its body is read. What the API sees is
// an HttpRequest, with no trace of the parser.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace softplc {

// Limits of one request (the guide's live-data page lists them).
inline constexpr std::size_t kMaxRequestLine = 8 * 1024;     // 414 beyond
inline constexpr std::size_t kMaxHeaderBytes = 32 * 1024;    // the request line and every field; 431 beyond
inline constexpr std::size_t kMaxHeaderFields = 100;         // 431 beyond
inline constexpr std::size_t kMaxBody = 4096;                // 413 beyond, however it is sent

struct HttpRequest {
  std::string method;   // "GET"
  std::string path;     // percent-decoded: "/api/variables/LagIn"
  std::vector<std::pair<std::string, std::string>> query;   // decoded, in order
  std::string contentType;
  std::string authorization;
  std::string body;
  unsigned version = 11;   // 10 or 11
  bool keepAlive = true;   // what the client asked for

  bool has_param(std::string_view name) const;
  std::string param(std::string_view name) const;   // the first value, or ""
};

// Why a request is refused before it is whole: the status and the reason for the client.
struct HttpRefusal {
  int status = 400;
  std::string message;
};

// Whether a Host header names this machine's loopback interface: 127.x.y.z, localhost or [::1],
// each with an optional port, and nothing else (127.0.0.1.example.com is some other host).
bool loopback_host(std::string_view host);

// Whether a Content-Type is JSON: application/json, with parameters or without.
bool json_content_type(std::string_view type);

// One connection's requests, one after the other.
class HttpReader {
 public:
  struct Outcome {
    enum Kind { More, Whole, Refused } kind = More;
    std::size_t used = 0;     // bytes of `received` that the parser took
    std::string interim;      // to send now ("100 Continue")
    HttpRefusal refusal;      // Refused
  };

  // `loopbackOnly`: a Host that is not a loopback name is refused with 403, saying that the
  // server answers requests for `where` only.
  HttpReader(bool loopbackOnly, std::string where);
  ~HttpReader();
  HttpReader(const HttpReader&) = delete;
  HttpReader& operator=(const HttpReader&) = delete;

  Outcome take(std::string_view received);
  // After Whole: the request; the reader is ready for the next one.
  HttpRequest request();

 private:
  struct Parser;
  std::optional<HttpRefusal> check_header() const;

  bool loopbackOnly_;
  std::string where_;
  std::unique_ptr<Parser> parser_;   // of the request under way
};

}  // namespace softplc

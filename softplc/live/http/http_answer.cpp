#include "softplc/live/http/http_answer.h"

#include <boost/beast/core/buffers_range.hpp>
#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/beast/http/chunk_encode.hpp>
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/serializer.hpp>
#include <boost/beast/http/string_body.hpp>

namespace softplc {

namespace http = boost::beast::http;

namespace {

template <class Body>
void set_common_headers(http::response<Body>& response) {
  response.set(http::field::cache_control, "no-store");
  response.set("X-Content-Type-Options", "nosniff");
  response.set("Content-Security-Policy",
               "default-src 'self'; style-src 'self' 'unsafe-inline'; img-src 'self' data:; frame-ancestors 'none'");
  response.set("Referrer-Policy", "no-referrer");
}

// The serializer's output as one string: the header alone, or the whole message.
template <class Body>
std::string serialized(http::response<Body>& response, bool headerOnly) {
  http::response_serializer<Body> serializer(response);
  serializer.split(headerOnly);
  std::string out;
  boost::system::error_code error;
  while (!error && !(headerOnly ? serializer.is_header_done() : serializer.is_done())) {
    serializer.next(error, [&](boost::system::error_code&, const auto& buffers) {
      std::size_t size = 0;
      for (const auto buffer : boost::beast::buffers_range_ref(buffers)) {
        out.append(static_cast<const char*>(buffer.data()), buffer.size());
        size += buffer.size();
      }
      serializer.consume(size);
    });
  }
  return out;
}

}  // namespace

std::string serialize(const HttpResponse& answer, const HttpFraming& framing) {
  http::response<http::string_body> response(static_cast<http::status>(answer.status), framing.version);
  set_common_headers(response);
  response.set(http::field::content_type, answer.contentType);
  for (const auto& [name, value] : answer.headers) response.set(name, value);
  response.body() = answer.body;
  response.keep_alive(framing.keepAlive);
  response.prepare_payload();
  return serialized(response, framing.headOnly);
}

std::string event_stream_head(unsigned version) {
  http::response<http::empty_body> response(http::status::ok, version);
  set_common_headers(response);
  response.set(http::field::content_type, "text/event-stream");
  response.keep_alive(false);
  if (version >= 11) response.chunked(true);
  return serialized(response, true);
}

std::string event_stream_piece(std::string_view text, unsigned version) {
  if (version < 11 || text.empty()) return std::string(text);
  return boost::beast::buffers_to_string(http::make_chunk(boost::asio::const_buffer(text.data(), text.size())));
}

std::string event_stream_end(unsigned version) {
  return version < 11 ? std::string() : boost::beast::buffers_to_string(http::make_chunk_last());
}

}  // namespace softplc

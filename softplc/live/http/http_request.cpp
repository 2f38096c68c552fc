#include "softplc/live/http/http_request.h"

#include <boost/beast/http/error.hpp>
#include <boost/beast/http/field.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/string_body.hpp>

#include <algorithm>
#include <charconv>
#include <iterator>

#include "softplc/util/text.h"

namespace softplc {

namespace http = boost::beast::http;

namespace {

bool all_digits(std::string_view text, std::size_t most) {
  return !text.empty() && text.size() <= most &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A port after a host name: ":" and a number up to 65535, or nothing.
bool port_or_nothing(std::string_view rest) {
  if (rest.empty()) return true;
  return rest.front() == ':' && all_digits(rest.substr(1), 5) && whole_number<uint16_t>(rest.substr(1));
}

// 127.x.y.z: four numbers of up to three digits, each at most 255, the first 127.
bool loopback_ipv4(std::string_view name) {
  const std::vector<std::string_view> parts = split(name, '.');
  if (parts.size() != 4 || parts[0] != "127") return false;
  return std::all_of(parts.begin(), parts.end(), [](std::string_view part) {
    return all_digits(part, 3) && whole_number<uint8_t>(part);
  });
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = fold(c);
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// %XX decoded (a % without two hex digits stays as it is); in a query, '+' is a space.
std::string decoded(std::string_view text, bool query) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && hex_digit(text[i + 1]) >= 0 && hex_digit(text[i + 2]) >= 0) {
      out += static_cast<char>(hex_digit(text[i + 1]) * 16 + hex_digit(text[i + 2]));
      i += 2;
    } else {
      out += query && text[i] == '+' ? ' ' : text[i];
    }
  }
  return out;
}

HttpRefusal refusal_for(const boost::system::error_code& error) {
  if (error == http::error::body_limit) {
    return {413, "the request body is larger than " + std::to_string(kMaxBody) + " bytes"};
  }
  if (error == http::error::bad_content_length) return {400, "Content-Length is not a number of bytes"};
  if (error == http::error::bad_transfer_encoding) {
    return {400, "Transfer-Encoding is chunked alone, and never with Content-Length"};
  }
  return {400, "bad request: " + error.message()};
}

}  // namespace

bool HttpRequest::has_param(std::string_view name) const {
  return std::any_of(query.begin(), query.end(), [&](const auto& pair) { return pair.first == name; });
}

std::string HttpRequest::param(std::string_view name) const {
  for (const auto& [key, value] : query)
    if (key == name) return value;
  return {};
}

bool loopback_host(std::string_view host) {
  if (host.starts_with('[')) {
    constexpr std::string_view ipv6 = "[::1]";
    return host.starts_with(ipv6) && port_or_nothing(host.substr(ipv6.size()));
  }
  const std::size_t colon = host.find(':');
  const std::string_view name = host.substr(0, colon);
  if (colon != std::string_view::npos && !port_or_nothing(host.substr(colon))) return false;
  return equal_ignoring_case(name, "localhost") || loopback_ipv4(name);
}

bool json_content_type(std::string_view type) {
  constexpr std::string_view json = "application/json";
  if (!starts_with_ignoring_case(type, json)) return false;
  const std::string_view rest = trimmed(type.substr(json.size()), " \t");
  return rest.empty() || rest.front() == ';';
}

struct HttpReader::Parser {
  Parser() {
    parser.header_limit(static_cast<std::uint32_t>(kMaxHeaderBytes));
    parser.body_limit(kMaxBody);
  }
  http::request_parser<http::string_body> parser;
  // The parser takes the request line and each field as soon as they are whole, and its own
  // header limit holds for the bytes of one call only: the bytes and lines of the header are
  // counted here, for the whole of it.
  std::size_t headerBytes = 0;
  std::size_t headerLines = 0;
  bool checked = false;   // the header passed check_header()
};

HttpReader::HttpReader(bool loopbackOnly, std::string where) : loopbackOnly_(loopbackOnly), where_(std::move(where)) {}
HttpReader::~HttpReader() = default;

HttpReader::Outcome HttpReader::take(std::string_view received) {
  if (!parser_) parser_ = std::make_unique<Parser>();
  Parser& state = *parser_;
  http::request_parser<http::string_body>& parser = state.parser;
  const auto refused = [](std::size_t used, HttpRefusal refusal) {
    return Outcome{Outcome::Refused, used, {}, std::move(refusal)};
  };
  const HttpRefusal headerTooLarge{431, "the request header is too large (at most " +
                                            std::to_string(kMaxHeaderBytes / 1024) + " KiB)"};
  const HttpRefusal tooManyFields{431, "the request header has more than " + std::to_string(kMaxHeaderFields) + " fields"};
  // The request line is taken only once it is whole; it is bounded before that.
  if (state.headerBytes == 0) {
    const std::size_t line = received.find('\n');
    if ((line == std::string_view::npos ? received.size() : line) > kMaxRequestLine) {
      return refused(0, {414, "the request line is longer than " + std::to_string(kMaxRequestLine) + " bytes"});
    }
  }
  Outcome outcome;
  while (outcome.used < received.size()) {
    std::string_view rest = received.substr(outcome.used);
    const bool inHeader = !parser.is_header_done();
    if (inHeader) rest = rest.substr(0, kMaxHeaderBytes - state.headerBytes);
    boost::system::error_code error;
    const std::size_t used = parser.put(boost::asio::const_buffer(rest.data(), rest.size()), error);
    outcome.used += used;
    if (inHeader) {
      state.headerBytes += used;
      state.headerLines += static_cast<std::size_t>(std::count(rest.begin(), rest.begin() + used, '\n'));
      if (!parser.is_header_done() && state.headerLines > kMaxHeaderFields + 1) return refused(outcome.used, tooManyFields);
    }
    if (error == http::error::need_more) {
      // Every byte the header may have is there, and its end is not.
      if (inHeader && state.headerBytes + (rest.size() - used) >= kMaxHeaderBytes) return refused(outcome.used, headerTooLarge);
      break;
    }
    if (error) return refused(outcome.used, error == http::error::header_limit ? headerTooLarge : refusal_for(error));
    if (parser.is_header_done() && !state.checked) {
      if (auto refusal = check_header()) return refused(outcome.used, std::move(*refusal));
      state.checked = true;
      const auto& header = parser.get();
      const bool body = parser.chunked() || parser.content_length().value_or(0) > 0;
      if (body && header.version() == 11 && equal_ignoring_case(header[http::field::expect], "100-continue")) {
        outcome.interim = "HTTP/1.1 100 Continue\r\n\r\n";
      }
    }
    if (parser.is_done()) {
      outcome.kind = Outcome::Whole;
      return outcome;
    }
    if (used == 0) break;
  }
  return outcome;
}

std::optional<HttpRefusal> HttpReader::check_header() const {
  const auto& header = parser_->parser.get();
  if (static_cast<std::size_t>(std::distance(header.begin(), header.end())) > kMaxHeaderFields) {
    return HttpRefusal{431, "the request header has more than " + std::to_string(kMaxHeaderFields) + " fields"};
  }
  if (!header.target().starts_with('/')) return HttpRefusal{400, "the request target must be a path, starting with /"};
  const std::size_t hosts = header.count(http::field::host);
  if (hosts > 1) return HttpRefusal{400, "more than one Host header"};
  if (hosts == 0 && header.version() >= 11) return HttpRefusal{400, "an HTTP/1.1 request needs a Host header"};
  // A page of another site must not reach a server meant for this machine alone through a name
  // that it points at the loopback address.
  if (loopbackOnly_ && hosts == 1 && !loopback_host(header[http::field::host])) {
    return HttpRefusal{403, "this server answers requests for " + where_ + " only"};
  }
  if (header.count(http::field::content_length) > 1) return HttpRefusal{400, "more than one Content-Length header"};
  if (header.count(http::field::content_length) == 1 && !all_digits(header[http::field::content_length], 20)) {
    return HttpRefusal{400, "Content-Length is not a number of bytes"};
  }
  if (header.count(http::field::transfer_encoding) > 1 ||
      (header.count(http::field::transfer_encoding) == 1 &&
       !equal_ignoring_case(header[http::field::transfer_encoding], "chunked"))) {
    return HttpRefusal{400, "Transfer-Encoding is chunked alone, and never with Content-Length"};
  }
  return std::nullopt;
}

HttpRequest HttpReader::request() {
  http::request<http::string_body> message = parser_->parser.release();
  parser_.reset();
  HttpRequest request;
  request.method = std::string(message.method_string());
  const std::string_view target = message.target();
  const std::size_t question = target.find('?');
  request.path = decoded(target.substr(0, question), false);
  if (question != std::string_view::npos) {
    for (const std::string_view pair : split(target.substr(question + 1), '&')) {
      if (pair.empty()) continue;
      const std::size_t equals = pair.find('=');
      request.query.emplace_back(decoded(pair.substr(0, equals), true),
                                 equals == std::string_view::npos ? std::string() : decoded(pair.substr(equals + 1), true));
    }
  }
  request.contentType = std::string(message[http::field::content_type]);
  request.authorization = std::string(message[http::field::authorization]);
  request.version = message.version();
  request.keepAlive = message.keep_alive();
  request.body = std::move(message.body());
  return request;
}

}  // namespace softplc

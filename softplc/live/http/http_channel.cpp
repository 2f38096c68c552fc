// The web view's server: the live channels' socket layer (net/server.h) reads the requests of
// every connection on one thread, Boost.Beast's parser (http_request.h) bounds each of them, and a
// few worker threads answer whole requests through the API (http_api.h). A client that sends
// slowly holds no worker; one that has not sent its request whole within the limit gets 408.
#include "softplc/live/http/http_channel.h"

#include <memory>

#include "softplc/live/http/http_api.h"
#include "softplc/live/http/http_request.h"
#include "softplc/live/net/server.h"

namespace softplc {

namespace {

// Limits (the guide's live-data page lists them).
constexpr std::size_t kMaxConnections = 64;   // open at once, idle ones included; one more gets 503
constexpr std::size_t kWorkers = 16;          // answering at once, event streams included
constexpr auto kRequestTimeout = std::chrono::seconds(5);   // for a request to arrive whole
constexpr auto kAnswerTimeout = std::chrono::seconds(5);    // for a client to take an answer (each event)
constexpr auto kKeepAlive = std::chrono::seconds(5);        // an idle connection is closed after this
constexpr std::size_t kKeepAliveRequests = 100;

class HttpChannel final : public LiveChannel, private net::Protocol {
 public:
  HttpChannel(HttpOptions options, PageFiles page, Exchange& exchange, const RunStatus& status, std::string symbolsNote)
      : api_(std::move(options), std::move(page), exchange, status, std::move(symbolsNote)), server_(*this, limits()) {}
  ~HttpChannel() override { stop(); }
  HttpChannel(const HttpChannel&) = delete;
  HttpChannel& operator=(const HttpChannel&) = delete;

  Result<std::string> start() override {
    if (auto started = server_.start(api_.options().address, "--http"); !started) return started.error();
    running_ = true;
    std::string line = "web view on http://" + api_.options().address.text() + "/ (API under /api/)";
    if (api_.options().readOnly) {
      line += ", read-only";
    } else if (api_.token_required()) {
      line += api_.options().token.empty() ? ", writes refused (no --http-token)" : ", writes need the token";
    }
    return line;
  }

  void stop() override {
    if (!running_) return;
    running_ = false;
    api_.stop();   // the streams end with their end event before the server closes their connections
    server_.stop();
  }

  std::string report() const override {
    const auto count = [](uint64_t n, const char* what) {
      return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
    };
    const ApiCounts& c = api_.counts();
    const uint64_t forces = c.forces;
    std::string out = "web view: " + count(c.requests, "request") + " (" + count(c.writes, "write") + ", " +
                      std::to_string(forces) + (forces == 1 ? " force or release, " : " forces and releases, ") +
                      count(c.refused, "refusal") + "), " + count(c.streamsServed, "event stream") + "\n";
    // Connections that ended badly, when there were any.
    const net::ServerCounts connections = server_.counts();
    std::vector<std::string> closed;
    if (connections.refused != 0) {
      closed.push_back(std::to_string(connections.refused) + " refused (limit " + std::to_string(kMaxConnections) + ")");
    }
    if (connections.timedOut != 0) closed.push_back(std::to_string(connections.timedOut) + " timed out in mid-request");
    if (connections.cutOff != 0) closed.push_back(std::to_string(connections.cutOff) + " cut off in mid-request");
    if (connections.unsent != 0) closed.push_back(count(connections.unsent, "answer") + " not taken");
    if (!closed.empty()) {
      out += "web view: connections";
      for (std::size_t i = 0; i < closed.size(); ++i) out += (i == 0 ? ": " : ", ") + closed[i];
      out += "\n";
    }
    return out;
  }

  // An answer to the client: counted, and as bytes.
  std::string answer_bytes(const HttpResponse& response, const HttpFraming& framing) {
    ++api_.counts().requests;
    if (response.status >= 400) ++api_.counts().refused;
    return serialize(response, framing);
  }

  // The last words to a request refused before it was whole: the connection ends after them.
  std::string refusal_bytes(int status, const std::string& message) {
    return answer_bytes(error_response(status, message), HttpFraming{11, false, false});
  }

  WebApi& api() { return api_; }

 private:
  static net::ServerLimits limits() {
    net::ServerLimits limits;
    limits.maxConnections = kMaxConnections;
    limits.workers = kWorkers;
    limits.idleTimeout = kKeepAlive;
    limits.requestTimeout = kRequestTimeout;
    limits.answerTimeout = kAnswerTimeout;
    limits.maxBuffered = kMaxHeaderBytes + 32 * 1024;
    return limits;
  }

  std::unique_ptr<net::Session> open(const net::Connection& connection) override;

  std::string refusal() override {
    HttpResponse busy = error_response(503, "too many connections (at most " + std::to_string(kMaxConnections) + " at once)");
    busy.headers.emplace_back("Retry-After", "1");
    return serialize(busy, HttpFraming{11, false, false});
  }

  WebApi api_;
  net::Server server_;
  bool running_ = false;
};

// One connection: its requests, read one after the other, each answered whole before the next.
class WebSession final : public net::Session {
 public:
  WebSession(HttpChannel& channel, const net::Connection& connection)
      : channel_(channel),
        connection_(connection),
        reader_(channel.api().options().address.loopback(), channel.api().options().address.text()) {}

  net::Step take(std::string_view received) override {
    HttpReader::Outcome outcome = reader_.take(received);
    switch (outcome.kind) {
      case HttpReader::Outcome::More: return {net::Step::More, outcome.used, std::move(outcome.interim)};
      case HttpReader::Outcome::Whole: return {net::Step::Request, outcome.used, {}};
      case HttpReader::Outcome::Refused: break;
    }
    return {net::Step::Refuse, outcome.used, channel_.refusal_bytes(outcome.refusal.status, outcome.refusal.message)};
  }

  net::Answer serve(const net::Connection&) override {
    const HttpRequest request = reader_.request();
    const bool keepAlive = request.keepAlive && ++served_ < kKeepAliveRequests && !connection_.stopping();
    const StreamWriter stream = [this](std::string_view bytes) { return connection_.send_all(bytes, kAnswerTimeout); };
    ApiAnswer answer = channel_.api().answer(request, stream);
    if (answer.streamed) {
      ++channel_.api().counts().requests;
      return {{}, true};
    }
    const HttpFraming framing{request.version, keepAlive, request.method == "HEAD"};
    return {channel_.answer_bytes(answer.response, framing), !keepAlive};
  }

  std::string timed_out() override {
    return channel_.refusal_bytes(408, "the request did not arrive whole within " +
                                           std::to_string(kRequestTimeout.count()) + " s");
  }

 private:
  HttpChannel& channel_;
  const net::Connection& connection_;
  HttpReader reader_;
  std::size_t served_ = 0;
};

std::unique_ptr<net::Session> HttpChannel::open(const net::Connection& connection) {
  return std::make_unique<WebSession>(*this, connection);
}

}  // namespace

Result<std::unique_ptr<LiveChannel>> make_http_channel(const HttpOptions& options, const Plc& plc, Exchange& exchange,
                                                       const RunStatus& status) {
  auto folder = default_page_folder();
  if (!folder) return folder.error();
  auto page = PageFiles::load(*folder);
  if (!page) return page.error();
  return std::unique_ptr<LiveChannel>(
      std::make_unique<HttpChannel>(options, std::move(page).value(), exchange, status, plc.symbols_note()));
}

}  // namespace softplc

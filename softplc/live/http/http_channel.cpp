// The web view's server: cpp-httplib serves the JSON API and the page from threads of its own;
// every read comes from the exchange's latest snapshot and every write goes through its queue, so
// no request ever touches the data area while a cycle runs, and no client can hold a cycle up.
#include "softplc/live/http/http_channel.h"

// More than cpp-httplib's default of 5 connections waiting to be accepted.
#define CPPHTTPLIB_LISTEN_BACKLOG 32
#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "softplc/live/http/api_json.h"
#include "softplc/live/http/page_files.h"
#include "softplc/symbols/variable_spec.h"
#include "softplc/util/text.h"

namespace softplc {

namespace {

using Clock = std::chrono::steady_clock;

// Limits (the README's "Limits" lists them).
constexpr std::size_t kWorkers = 16;          // connections served at once; more are answered 503
constexpr int kMaxStreams = 8;                // of them, event streams
constexpr std::size_t kMaxBody = 4096;        // bytes of a request body
constexpr time_t kReadTimeoutS = 5;           // for a request to arrive whole
constexpr time_t kWriteTimeoutS = 5;          // for a client to take what is sent to it
constexpr time_t kKeepAliveS = 5;             // an idle connection is closed after this
constexpr std::size_t kKeepAliveRequests = 100;
constexpr std::size_t kMaxStreamVariables = 1024;
constexpr int kDefaultRate = 10;              // stream updates per second
constexpr int kMaxRate = 100;
constexpr auto kPoll = std::chrono::milliseconds(100);   // how often a waiting thread looks for a stop
constexpr auto kStreamKeepAlive = std::chrono::seconds(15);
constexpr auto kMaxApplyWait = std::chrono::seconds(30);

// Set on the thread that answers the connections beyond the limit.
thread_local bool t_overflow = false;

// The connections: kWorkers threads serve them in turn; those that arrive while all of them are
// taken go to one more thread, which answers 503 at once.
class ConnectionPool final : public httplib::TaskQueue {
 public:
  explicit ConnectionPool(std::size_t workers) {
    for (std::size_t i = 0; i < workers; ++i) threads_.emplace_back([this] { work(false); });
    threads_.emplace_back([this] { work(true); });
  }
  ~ConnectionPool() override { shutdown(); }

  void enqueue(std::function<void()> task) override {
    {
      std::lock_guard lock(mutex_);
      if (busy_ + waiting_.size() < threads_.size() - 1) {
        waiting_.push_back(std::move(task));
      } else {
        overflow_.push_back(std::move(task));
      }
    }
    wake_.notify_all();
  }

  // Serves what was accepted (a stopped server closes those connections at once), then ends.
  void shutdown() override {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread& thread : threads_)
      if (thread.joinable()) thread.join();
  }

 private:
  void work(bool overflow) {
    t_overflow = overflow;
    std::deque<std::function<void()>>& tasks = overflow ? overflow_ : waiting_;
    for (;;) {
      std::function<void()> task;
      {
        std::unique_lock lock(mutex_);
        wake_.wait(lock, [&] { return stopping_ || !tasks.empty(); });
        if (tasks.empty()) return;
        task = std::move(tasks.front());
        tasks.pop_front();
        if (!overflow) ++busy_;
      }
      task();
      if (!overflow) {
        std::lock_guard lock(mutex_);
        --busy_;
      }
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> waiting_;
  std::deque<std::function<void()>> overflow_;
  std::size_t busy_ = 0;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

void send_json(httplib::Response& res, int status, const Json& body) {
  res.status = status;
  res.set_content(body.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n", "application/json");
}

void send_error(httplib::Response& res, int status, const std::string& message) {
  send_json(res, status, {{"error", message}});
}

std::string status_text(int status) {
  switch (status) {
    case 400: return "bad request";
    case 404: return "not found";
    case 405: return "method not allowed";
    case 413: return "the request body is larger than " + std::to_string(kMaxBody) + " bytes";
    case 414: return "the request line is too long";
    case 416: return "range not satisfiable";
    default: return "HTTP status " + std::to_string(status);
  }
}

// Whether a Host header names this machine's loopback interface.
bool loopback_host(std::string_view host) {
  if (host.empty()) return true;   // HTTP/1.0; browsers always send one
  std::string_view name = host;
  if (name.front() == '[') {
    name = name.substr(1, name.find(']') == std::string_view::npos ? name.size() : name.find(']') - 1);
  } else if (const auto colon = name.find(':'); colon != std::string_view::npos) {
    name = name.substr(0, colon);
  }
  return name == "localhost" || name == "::1" || name.rfind("127.", 0) == 0;
}

bool json_body(const httplib::Request& req) {
  const std::string type = req.get_header_value("Content-Type");
  return type.rfind("application/json", 0) == 0;
}

// Compares in a time that does not depend on where the texts differ.
bool same_secret(std::string_view given, std::string_view secret) {
  if (given.size() != secret.size()) return false;
  unsigned char differ = 0;
  for (std::size_t i = 0; i < given.size(); ++i) differ |= static_cast<unsigned char>(given[i] ^ secret[i]);
  return differ == 0;
}

// "A, B,,C": the names A, B and C.
std::vector<std::string> split_names(std::string_view text) {
  std::vector<std::string> names;
  for (const std::string_view piece : split(text, ',')) {
    if (const std::string_view name = trimmed(piece, " "); !name.empty()) names.emplace_back(name);
  }
  return names;
}

struct Refusal {
  int status = 400;
  std::string message;
};

// One event stream's state, kept between the calls of its content provider.
struct StreamState {
  std::vector<std::string> names;
  std::vector<Variable> variables;
  const Symbols* resolvedFor = nullptr;
  Clock::duration interval{};
  uint64_t lastCycles = 0;
  bool first = true;
  Clock::time_point nextSend{};
  Clock::time_point lastWrite{};
};

class HttpChannel final : public LiveChannel {
 public:
  HttpChannel(HttpOptions options, PageFiles page, Exchange& exchange, const RunStatus& status, std::string symbolsNote)
      : options_(std::move(options)),
        page_(std::move(page)),
        exchange_(exchange),
        status_(status),
        symbolsNote_(std::move(symbolsNote)) {
    const int64_t periodNs = status.report().periodNs;
    applyWait_ =
        std::min<Clock::duration>(std::chrono::nanoseconds(2 * periodNs) + std::chrono::seconds(2), kMaxApplyWait);
    configure();
    add_routes();
  }
  ~HttpChannel() override { stop(); }
  HttpChannel(const HttpChannel&) = delete;
  HttpChannel& operator=(const HttpChannel&) = delete;

  Result<std::string> start() override {
    if (!server_.bind_to_port(options_.address.host, options_.address.port)) {
      return runtime_error("--http: cannot listen on " + options_.address.text() +
                           " (the port is taken, or the address is not one of this machine's)");
    }
    listener_ = std::thread([this] { server_.listen_after_bind(); });
    // stop() only reaches a server that has started listening.
    const auto deadline = Clock::now() + std::chrono::seconds(2);
    while (!server_.is_running() && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (!server_.is_running()) {
      server_.stop();
      listener_.join();
      return runtime_error("--http: the server on " + options_.address.text() + " did not start");
    }
    std::string line = "web view on http://" + options_.address.text() + "/ (API under /api/)";
    if (options_.readOnly) {
      line += ", read-only";
    } else if (token_required()) {
      line += options_.token.empty() ? ", writes refused (no --http-token)" : ", writes need the token";
    }
    return line;
  }

  void stop() override {
    if (!listener_.joinable()) return;
    stopping_ = true;
    // The streams end with an "end" event before the server closes their connections.
    const auto deadline = Clock::now() + 3 * kPoll;
    while (streams_ > 0 && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    server_.stop();
    listener_.join();
  }

  std::string report() const override {
    const auto count = [](uint64_t n, const char* what) {
      return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
    };
    const uint64_t forces = forces_;
    return "web view: " + count(requests_, "request") + " (" + count(writes_, "write") + ", " + std::to_string(forces) +
           (forces == 1 ? " force or release, " : " forces and releases, ") + count(refused_, "refusal") + "), " +
           count(streamsServed_, "event stream") + "\n";
  }

 private:
  using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;
  enum class Access { Read, Write };

  bool token_required() const { return !options_.token.empty() || !options_.address.loopback(); }

  void configure() {
    server_.new_task_queue = [] {
      // cpp-httplib takes the queue over and deletes it when the server stops.
      return std::make_unique<ConnectionPool>(kWorkers).release();
    };
    server_.set_payload_max_length(kMaxBody);
    server_.set_read_timeout(kReadTimeoutS, 0);
    server_.set_write_timeout(kWriteTimeoutS, 0);
    server_.set_keep_alive_timeout(kKeepAliveS);
    server_.set_keep_alive_max_count(kKeepAliveRequests);
    server_.set_default_headers({
        {"Cache-Control", "no-store"},
        {"X-Content-Type-Options", "nosniff"},
        {"Content-Security-Policy",
         "default-src 'self'; style-src 'self' 'unsafe-inline'; img-src 'self' data:; frame-ancestors 'none'"},
        {"Referrer-Policy", "no-referrer"},
    });
    server_.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
      if (t_overflow) {
        res.set_header("Connection", "close");
        res.set_header("Retry-After", "1");
        send_error(res, 503, "too many connections (at most " + std::to_string(kWorkers) + " at once)");
        return httplib::Server::HandlerResponse::Handled;
      }
      // A page of another site must not reach a server meant for this machine alone through a
      // name that it points at the loopback address.
      if (options_.address.loopback() && !loopback_host(req.get_header_value("Host"))) {
        send_error(res, 403, "this server answers requests for " + options_.address.text() + " only");
        return httplib::Server::HandlerResponse::Handled;
      }
      return httplib::Server::HandlerResponse::Unhandled;
    });
    // Answers that cpp-httplib makes itself (no route, a body too large) get a JSON body too.
    using Answer = httplib::Server::HandlerWithResponse;
    server_.set_error_handler(Answer([](const httplib::Request& req, httplib::Response& res) {
      if (!res.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
      const std::string message =
          res.status == 404 ? "no such resource: " + req.method + " " + req.path : status_text(res.status);
      send_error(res, res.status, message);
      return httplib::Server::HandlerResponse::Handled;
    }));
    server_.set_logger([this](const httplib::Request&, const httplib::Response& res) {
      ++requests_;
      if (res.status >= 400) ++refused_;
    });
    server_.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr failure) {
      std::string what = "unknown failure";
      try {
        std::rethrow_exception(failure);
      } catch (const std::exception& e) {
        what = e.what();
      } catch (...) {
      }
      send_error(res, 500, "internal error: " + what);
    });
  }

  // The routes. A new one is a line here: its method, its path (a regular expression whose groups
  // the handler finds in req.matches), whether it writes, and its handler.
  void add_routes() {
    route("GET", "/api/module", Access::Read, [this](auto& req, auto& res) { get_module(req, res); });
    route("GET", "/api/variables", Access::Read, [this](auto& req, auto& res) { get_variables(req, res); });
    route("GET", "/api/variables/(.+)", Access::Read, [this](auto& req, auto& res) { get_variable(req, res); });
    route("PUT", "/api/variables/(.+)", Access::Write, [this](auto& req, auto& res) { put_variable(req, res); });
    route("PUT", "/api/forces/(.+)", Access::Write, [this](auto& req, auto& res) { put_force(req, res); });
    route("DELETE", "/api/forces/(.+)", Access::Write, [this](auto& req, auto& res) { delete_force(req, res); });
    route("POST", "/api/online-change", Access::Write, [this](auto& req, auto& res) { post_online_change(req, res); });
    route("GET", "/api/status", Access::Read, [this](auto& req, auto& res) { get_status(req, res); });
    route("GET", "/api/stream", Access::Read, [this](auto& req, auto& res) { get_stream(req, res); });
    route("GET", "/api(/.*)?", Access::Read, [](auto& req, auto& res) {
      send_error(res, 404, "no such resource: GET " + req.path);
    });
    route("GET", "/.*", Access::Read, [this](auto& req, auto& res) { get_page(req, res); });
  }

  void route(std::string_view method, const std::string& pattern, Access access, Handler handler) {
    auto checked = [this, access, handler = std::move(handler)](const httplib::Request& req, httplib::Response& res) {
      if (access == Access::Write) {
        if (auto refusal = refuse_write(req)) {
          if (refusal->status == 401) res.set_header("WWW-Authenticate", "Bearer realm=\"softplc\"");
          return send_error(res, refusal->status, refusal->message);
        }
      }
      handler(req, res);
    };
    if (method == "GET") server_.Get(pattern, std::move(checked));
    else if (method == "PUT") server_.Put(pattern, std::move(checked));
    else if (method == "POST") server_.Post(pattern, std::move(checked));
    else if (method == "DELETE") server_.Delete(pattern, std::move(checked));
  }

  std::optional<Refusal> refuse_write(const httplib::Request& req) const {
    if (options_.readOnly) return Refusal{403, "the web view is read-only (--http-read-only)"};
    if (!token_required()) return std::nullopt;
    if (options_.token.empty()) {
      return Refusal{403, "writes through " + options_.address.text() + " need a token: start softplc with " +
                              "--http-token TOKEN and send Authorization: Bearer TOKEN"};
    }
    const std::string header = req.get_header_value("Authorization");
    if (header.empty()) return Refusal{401, "this write needs the token: send Authorization: Bearer TOKEN"};
    constexpr std::string_view scheme = "Bearer ";
    if (header.rfind(scheme, 0) != 0 || !same_secret(std::string_view(header).substr(scheme.size()), options_.token)) {
      return Refusal{403, "wrong token"};
    }
    return std::nullopt;
  }

  // ---- reads ----

  Result<Variable> find(const std::string& name, const Snapshot& snapshot) const {
    auto variable = find_variable(name, snapshot.symbols.get(), symbolsNote_);
    if (!variable) return variable.error();
    // An offset that the symbol file names is that variable.
    if (snapshot.symbols && is_offset_spec(name)) {
      if (const Variable* named = snapshot.symbols->at(variable->offset, variable->type)) return *named;
    }
    if (uint64_t{variable->offset} + variable->size() > snapshot.data.size()) {
      return usage_error(name + " lies beyond the data area (" + std::to_string(snapshot.data.size()) + " bytes)");
    }
    return variable;
  }

  void get_module(const httplib::Request&, httplib::Response& res) {
    Json module = module_json(status_.report(), *exchange_.latest());
    module["access"] = {{"readOnly", options_.readOnly}, {"tokenRequired", token_required()}};
    send_json(res, 200, module);
  }

  void get_variables(const httplib::Request& req, httplib::Response& res) {
    const auto snapshot = exchange_.latest();
    const auto forces = exchange_.forces();
    Json list = Json::array();
    if (const Symbols* symbols = snapshot->symbols.get()) {
      const bool all = req.get_param_value("all") == "1";
      for (const Variable& variable : symbols->variables) {
        if (all || variable.program) list.push_back(variable_json(*snapshot, variable, forces));
      }
    }
    send_json(res, 200, list);
  }

  void get_variable(const httplib::Request& req, httplib::Response& res) {
    const auto snapshot = exchange_.latest();
    auto variable = find(req.matches[1].str(), *snapshot);
    if (!variable) return send_error(res, 404, variable.error().message);
    send_json(res, 200, variable_json(*snapshot, *variable, exchange_.forces()));
  }

  void get_status(const httplib::Request&, httplib::Response& res) {
    send_json(res, 200, status_json(status_.report(), *exchange_.latest(), exchange_.forces(), !exchange_.ended()));
  }

  void get_page(const httplib::Request& req, httplib::Response& res) {
    const PageFile* file = page_.find(req.path);
    if (file == nullptr) return send_error(res, 404, "no such page file: " + req.path);
    res.set_content(file->content, file->mimeType);
  }

  // ---- writes ----

  // The value of a request body {"value": V} for the variable.
  std::optional<Refusal> body_value(const httplib::Request& req, const Variable& variable, const Snapshot& snapshot,
                                    Encoded& value) const {
    if (!json_body(req)) return Refusal{415, "send the body as JSON (Content-Type: application/json)"};
    const Json body = Json::parse(req.body, nullptr, false);
    if (body.is_discarded()) return Refusal{400, "the body is not valid JSON; send {\"value\": V}"};
    if (!body.is_object() || !body.contains("value")) {
      return Refusal{400, "the body must be a JSON object {\"value\": V}"};
    }
    auto encoded = value_from_json(variable.type, body["value"], snapshot.ticksPerSecond);
    if (!encoded) return Refusal{400, encoded.error().message};
    value = *encoded;
    return std::nullopt;
  }

  // Answers when the exchange has applied the request: the variable as it is then.
  void answer_applied(std::future<Status> applied, const Variable& variable, httplib::Response& res) {
    const auto deadline = Clock::now() + applyWait_;
    while (applied.wait_for(kPoll) != std::future_status::ready) {
      if (stopping_) return send_error(res, 503, "the run is ending; " + variable.name + " was not changed");
      if (Clock::now() >= deadline) {
        return send_error(res, 504, "not applied yet; the request for " + variable.name +
                                        " stays queued and is applied between the next two cycles");
      }
    }
    const Status status = applied.get();
    if (!status) return send_error(res, exchange_.ended() ? 503 : 409, status.error().message);
    send_json(res, 200, variable_json(*exchange_.latest(), variable, exchange_.forces()));
  }

  void put_variable(const httplib::Request& req, httplib::Response& res) {
    const auto snapshot = exchange_.latest();
    auto variable = find(req.matches[1].str(), *snapshot);
    if (!variable) return send_error(res, 404, variable.error().message);
    if (auto writable = check_writable(*variable, snapshot->symbols.get()); !writable) {
      return send_error(res, 409, writable.error().message);
    }
    Encoded value;
    if (auto refusal = body_value(req, *variable, *snapshot, value)) {
      return send_error(res, refusal->status, refusal->message);
    }
    ++writes_;
    answer_applied(exchange_.write(*variable, value), *variable, res);
  }

  // {"module": PATH}: PATH, a file on the host's machine, replaces the running module between two
  // cycles. The answer comes once the change was made (200) or refused (409, the reason).
  void post_online_change(const httplib::Request& req, httplib::Response& res) {
    if (!json_body(req)) return send_error(res, 415, "send the body as JSON (Content-Type: application/json)");
    const Json body = Json::parse(req.body, nullptr, false);
    if (body.is_discarded() || !body.is_object() || !body.contains("module") || !body["module"].is_string() ||
        body["module"].get_ref<const std::string&>().empty()) {
      return send_error(res, 400, "the body must be a JSON object {\"module\": \"PATH\"}, PATH a module file on this machine");
    }
    const std::string path = body["module"].get<std::string>();
    auto change = exchange_.change_module(path);
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    while (change.wait_for(kPoll) != std::future_status::ready) {
      if (stopping_) return send_error(res, 503, "the run is ending; no online change was made");
      if (Clock::now() >= deadline) return send_error(res, 504, "the online change did not come within 60 s");
    }
    const Result<ChangeOutcome> outcome = change.get();
    if (!outcome) return send_error(res, exchange_.ended() ? 503 : 409, outcome.error().message);
    Json answer = {{"changed", true},
                   {"from", outcome->from},
                   {"to", outcome->to},
                   {"codeVersion", outcome->toCodeVersion},
                   {"fromLayout", hex32(outcome->fromLayout)},
                   {"toLayout", hex32(outcome->toLayout)},
                   {"referencesMapped", outcome->mapped},
                   {"lost", outcome->lost}};
    send_json(res, 200, answer);
  }

  void put_force(const httplib::Request& req, httplib::Response& res) {
    const auto snapshot = exchange_.latest();
    auto variable = find(req.matches[1].str(), *snapshot);
    if (!variable) return send_error(res, 404, variable.error().message);
    Encoded value;
    if (auto refusal = body_value(req, *variable, *snapshot, value)) {
      return send_error(res, refusal->status, refusal->message);
    }
    ++forces_;
    answer_applied(exchange_.force(*variable, value), *variable, res);
  }

  void delete_force(const httplib::Request& req, httplib::Response& res) {
    const auto snapshot = exchange_.latest();
    auto variable = find(req.matches[1].str(), *snapshot);
    if (!variable) return send_error(res, 404, variable.error().message);
    if (!is_forced(exchange_.forces(), *variable)) return send_error(res, 409, variable->name + " is not forced");
    ++forces_;
    answer_applied(exchange_.release(*variable), *variable, res);
  }

  // ---- the event stream ----

  void get_stream(const httplib::Request& req, httplib::Response& res) {
    auto state = std::make_shared<StreamState>();
    int rate = kDefaultRate;
    if (req.has_param("rate")) {
      const std::string text = req.get_param_value("rate");
      const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), rate);
      if (text.empty() || ec != std::errc() || end != text.data() + text.size() || rate < 1 || rate > kMaxRate) {
        return send_error(res, 400,
                          "rate is a whole number of updates per second from 1 to " + std::to_string(kMaxRate) +
                              ", not '" + text + "'");
      }
    }
    state->interval = std::chrono::duration_cast<Clock::duration>(std::chrono::seconds(1)) / rate;
    const auto snapshot = exchange_.latest();
    if (req.has_param("vars")) {
      state->names = split_names(req.get_param_value("vars"));
    } else if (const Symbols* symbols = snapshot->symbols.get()) {
      const bool all = req.get_param_value("all") == "1";
      for (const Variable& variable : symbols->variables)
        if (all || variable.program) state->names.push_back(variable.name);
    }
    if (state->names.size() > kMaxStreamVariables) {
      return send_error(res, 400, "at most " + std::to_string(kMaxStreamVariables) + " variables per stream");
    }
    for (const std::string& name : state->names) {
      auto variable = find(name, *snapshot);
      if (!variable) return send_error(res, 404, variable.error().message);
      state->variables.push_back(*variable);
    }
    state->resolvedFor = snapshot->symbols.get();
    if (++streams_ > kMaxStreams) {
      --streams_;
      return send_error(res, 503, "too many event streams (at most " + std::to_string(kMaxStreams) + " at once)");
    }
    ++streamsServed_;
    res.set_chunked_content_provider(
        "text/event-stream",
        [this, state](std::size_t, httplib::DataSink& sink) { return stream_step(*state, sink); },
        [this](bool) { --streams_; });
  }

  // One call of a stream's content provider: waits (briefly, so that a stop is seen) for a newer
  // snapshot and sends it when the stream's rate allows. A client that reads slowly only makes
  // its own thread wait; it gets the latest snapshot when it is ready again.
  bool stream_step(StreamState& state, httplib::DataSink& sink) {
    if (stopping_ || exchange_.ended()) {
      const std::string end = "event: end\ndata: {\"reason\": \"the run has ended\"}\n\n";
      sink.write(end.data(), end.size());
      sink.done();
      return true;
    }
    const auto now = Clock::now();
    if (!state.first && now < state.nextSend) {
      std::this_thread::sleep_for(std::min<Clock::duration>(state.nextSend - now, kPoll));
      return true;
    }
    const auto snapshot = state.first ? exchange_.latest() : exchange_.wait_after(state.lastCycles, kPoll);
    if (!state.first && snapshot->cycles <= state.lastCycles) {
      if (now - state.lastWrite < kStreamKeepAlive) return true;
      state.lastWrite = now;
      constexpr std::string_view comment = ": keep-alive\n\n";
      return sink.write(comment.data(), comment.size());
    }
    if (snapshot->symbols.get() != state.resolvedFor) resolve_again(state, *snapshot);

    const auto forces = exchange_.forces();
    Json values = Json::object();
    Json forced = Json::array();
    for (const Variable& variable : state.variables) {
      values[variable.name] = snapshot_value(*snapshot, variable);
      if (is_forced(forces, variable)) forced.push_back(variable.name);
    }
    const Json event = {{"cycles", snapshot->cycles},
                        {"time", static_cast<double>(snapshot->timeNs) / 1e9},
                        {"values", std::move(values)},
                        {"forced", std::move(forced)}};
    const std::string text = "data: " + event.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n\n";
    state.first = false;
    state.lastCycles = snapshot->cycles;
    state.nextSend = now + state.interval;
    state.lastWrite = now;
    return sink.write(text.data(), text.size());
  }

  // An online change brought other names: the stream keeps those the new module still has.
  void resolve_again(StreamState& state, const Snapshot& snapshot) const {
    state.variables.clear();
    for (const std::string& name : state.names) {
      if (auto variable = find(name, snapshot)) state.variables.push_back(*variable);
    }
    state.resolvedFor = snapshot.symbols.get();
  }

  HttpOptions options_;
  PageFiles page_;
  Exchange& exchange_;
  const RunStatus& status_;
  std::string symbolsNote_;
  Clock::duration applyWait_{};
  httplib::Server server_;
  std::thread listener_;
  std::atomic<bool> stopping_{false};
  std::atomic<int> streams_{0};
  std::atomic<uint64_t> requests_{0};
  std::atomic<uint64_t> writes_{0};
  std::atomic<uint64_t> forces_{0};
  std::atomic<uint64_t> refused_{0};
  std::atomic<uint64_t> streamsServed_{0};
};

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

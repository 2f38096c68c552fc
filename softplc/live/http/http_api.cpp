#include "softplc/live/http/http_api.h"

#include <algorithm>
#include <charconv>
#include <thread>

#include "softplc/live/http/api_json.h"
#include "softplc/symbols/variable_spec.h"
#include "softplc/util/text.h"

namespace softplc {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kMaxStreamVariables = 1024;
constexpr int kDefaultRate = 10;   // stream updates per second
constexpr int kMaxRate = 100;
constexpr auto kPoll = std::chrono::milliseconds(100);   // how often a waiting thread looks for a stop
constexpr auto kStreamKeepAlive = std::chrono::seconds(15);
constexpr auto kMaxApplyWait = std::chrono::seconds(30);

HttpResponse json_response(int status, const Json& body) {
  HttpResponse response;
  response.status = status;
  response.body = body.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
  return response;
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

constexpr const char* kJsonBody = "send the body as JSON (Content-Type: application/json)";

}  // namespace

HttpResponse error_response(int status, const std::string& message) { return json_response(status, {{"error", message}}); }

// One event stream's state between its updates.
struct WebApi::StreamState {
  std::vector<std::string> names;
  std::vector<Variable> variables;
  const Symbols* resolvedFor = nullptr;
  Clock::duration interval{};
  uint64_t lastCycles = 0;
  uint64_t heldVersion = 0;
  bool first = true;
  Clock::time_point nextSend{};
  Clock::time_point lastWrite{};
  unsigned version = 11;
};

// A route: its method, its path (or the start of it, when the rest is a name), whether it writes.
struct WebApi::Route {
  std::string_view method;
  std::string_view path;
  bool prefix;
  bool writes;
  HttpResponse (WebApi::*handler)(const HttpRequest&, const std::string&);
};

WebApi::WebApi(HttpOptions options, PageFiles page, Exchange& exchange, const RunStatus& status, std::string symbolsNote)
    : options_(std::move(options)),
      page_(std::move(page)),
      exchange_(exchange),
      status_(status),
      symbolsNote_(std::move(symbolsNote)) {
  const int64_t periodNs = status.report().periodNs;
  applyWait_ = std::min<Clock::duration>(std::chrono::nanoseconds(2 * periodNs) + std::chrono::seconds(2), kMaxApplyWait);
}

void WebApi::stop() {
  stopping_ = true;
  const auto deadline = Clock::now() + 3 * kPoll;
  while (streams_ > 0 && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

ApiAnswer WebApi::answer(const HttpRequest& request, const StreamWriter& stream) {
  // A new route is a line here.
  static constexpr Route kRoutes[] = {
      {"GET", "/api/module", false, false, &WebApi::get_module},
      {"GET", "/api/variables", false, false, &WebApi::get_variables},
      {"GET", "/api/variables/", true, false, &WebApi::get_variable},
      {"PUT", "/api/variables/", true, true, &WebApi::put_variable},
      {"PUT", "/api/forces/", true, true, &WebApi::put_force},
      {"DELETE", "/api/forces/", true, true, &WebApi::delete_force},
      {"POST", "/api/online-change", false, true, &WebApi::post_online_change},
      {"GET", "/api/status", false, false, &WebApi::get_status},
      {"GET", "/api/listing", false, false, &WebApi::get_listing},
  };
  std::string_view method = request.method;
  if (method == "HEAD") method = "GET";   // answered as GET, without the body
  if (method == "GET" && request.path == "/api/stream") {
    if (request.method == "HEAD") return {error_response(405, "an event stream is read with GET"), false};
    return get_stream(request, stream);
  }
  for (const Route& route : kRoutes) {
    if (route.method != method) continue;
    const bool matches = route.prefix ? request.path.size() > route.path.size() && request.path.starts_with(route.path)
                                      : request.path == route.path;
    if (!matches) continue;
    if (route.writes) {
      if (auto refusal = refuse_write(request)) return {std::move(*refusal), false};
    }
    return {(this->*route.handler)(request, route.prefix ? request.path.substr(route.path.size()) : std::string()), false};
  }
  const bool api = request.path == "/api" || request.path.starts_with("/api/");
  if (method == "GET" && !api) return {get_page(request, {}), false};
  return {error_response(404, "no such resource: " + request.method + " " + request.path), false};
}

std::optional<HttpResponse> WebApi::refuse_write(const HttpRequest& request) const {
  if (options_.readOnly) return error_response(403, "the web view is read-only (--http-read-only)");
  if (!token_required()) return std::nullopt;
  if (options_.token.empty()) {
    return error_response(403, "writes through " + options_.address.text() + " need a token: start softplc with " +
                                   "--http-token TOKEN and send Authorization: Bearer TOKEN");
  }
  const std::string_view header = request.authorization;
  if (header.empty()) {
    HttpResponse refusal = error_response(401, "this write needs the token: send Authorization: Bearer TOKEN");
    refusal.headers.emplace_back("WWW-Authenticate", "Bearer realm=\"softplc\"");
    return refusal;
  }
  // The scheme in any case ("bearer" is "Bearer"), then the token after one or more spaces.
  constexpr std::string_view scheme = "Bearer";
  const bool bearer = starts_with_ignoring_case(header, scheme) && header.size() > scheme.size() &&
                      header[scheme.size()] == ' ';
  if (!bearer || !same_secret(trimmed(header.substr(scheme.size()), " "), options_.token)) {
    return error_response(403, "wrong token");
  }
  return std::nullopt;
}

// ---- reads ----

Result<Variable> WebApi::find(const std::string& name, const Snapshot& snapshot) const {
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

HttpResponse WebApi::get_module(const HttpRequest&, const std::string&) {
  Json module = module_json(status_.report(), *exchange_.latest());
  module["access"] = {{"readOnly", options_.readOnly}, {"tokenRequired", token_required()}};
  return json_response(200, module);
}

HttpResponse WebApi::get_variables(const HttpRequest& request, const std::string&) {
  const auto snapshot = exchange_.latest();
  const auto forces = exchange_.forces();
  Json list = Json::array();
  if (const Symbols* symbols = snapshot->symbols.get()) {
    const bool all = request.param("all") == "1";
    for (const Variable& variable : symbols->variables) {
      if (all || variable.program) list.push_back(variable_json(*snapshot, variable, forces));
    }
  }
  return json_response(200, list);
}

HttpResponse WebApi::get_variable(const HttpRequest&, const std::string& name) {
  const auto snapshot = exchange_.latest();
  auto variable = find(name, *snapshot);
  if (!variable) return error_response(404, variable.error().message);
  return json_response(200, variable_json(*snapshot, *variable, exchange_.forces()));
}

HttpResponse WebApi::get_status(const HttpRequest&, const std::string&) {
  return json_response(200, status_json(status_.report(), *exchange_.latest(), exchange_.forces(), !exchange_.ended()));
}

HttpResponse WebApi::get_listing(const HttpRequest&, const std::string&) {
  const auto snapshot = exchange_.latest();
  const Symbols* symbols = snapshot->symbols.get();
  if (symbols == nullptr) {
    return error_response(404, "no listing: " + (symbolsNote_.empty() ? "the module has no symbol file" : symbolsNote_));
  }
  if (!symbols->listing) return error_response(404, "no listing: the symbol file " + symbols->file + " maps none");
  return json_response(200, listing_json(*symbols, *symbols->listing));
}

HttpResponse WebApi::get_page(const HttpRequest& request, const std::string&) {
  const PageFile* file = page_.find(request.path);
  if (file == nullptr) return error_response(404, "no such page file: " + request.path);
  HttpResponse response;
  response.contentType = file->mimeType;
  response.body = file->content;
  return response;
}

// ---- writes ----

// The value of a request body {"value": V} for the variable.
std::optional<HttpResponse> WebApi::body_value(const HttpRequest& request, const Variable& variable,
                                               const Snapshot& snapshot, Encoded& value) const {
  if (!json_content_type(request.contentType)) return error_response(415, kJsonBody);
  const Json body = Json::parse(request.body, nullptr, false);
  if (body.is_discarded()) return error_response(400, "the body is not valid JSON; send {\"value\": V}");
  if (!body.is_object() || !body.contains("value")) return error_response(400, "the body must be a JSON object {\"value\": V}");
  auto encoded = value_from_json(variable.type, body["value"], snapshot.ticksPerSecond);
  if (!encoded) return error_response(400, encoded.error().message);
  value = *encoded;
  return std::nullopt;
}

// Answers when the exchange has applied the request: the variable as it is then.
HttpResponse WebApi::answer_applied(std::future<Status> applied, const Variable& variable) {
  const auto deadline = Clock::now() + applyWait_;
  while (applied.wait_for(kPoll) != std::future_status::ready) {
    if (stopping_) return error_response(503, "the run is ending; " + variable.name + " was not changed");
    if (Clock::now() >= deadline) {
      return error_response(504, "not applied yet; the request for " + variable.name +
                                     " stays queued and is applied between the next two cycles");
    }
  }
  const Status status = applied.get();
  if (!status) return error_response(exchange_.ended() ? 503 : 409, status.error().message);
  return json_response(200, variable_json(*exchange_.latest(), variable, exchange_.forces()));
}

HttpResponse WebApi::put_variable(const HttpRequest& request, const std::string& name) {
  const auto snapshot = exchange_.latest();
  auto variable = find(name, *snapshot);
  if (!variable) return error_response(404, variable.error().message);
  if (auto writable = check_writable(*variable, snapshot->symbols.get()); !writable) {
    return error_response(409, writable.error().message);
  }
  Encoded value;
  if (auto refusal = body_value(request, *variable, *snapshot, value)) return std::move(*refusal);
  ++counts_.writes;
  return answer_applied(exchange_.write(*variable, value), *variable);
}

// {"module": PATH}: PATH, a file on the host's machine, replaces the running module between two
// cycles. The answer comes once the change was made (200) or refused (409, the reason).
HttpResponse WebApi::post_online_change(const HttpRequest& request, const std::string&) {
  if (!json_content_type(request.contentType)) return error_response(415, kJsonBody);
  const Json body = Json::parse(request.body, nullptr, false);
  if (body.is_discarded() || !body.is_object() || !body.contains("module") || !body["module"].is_string() ||
      body["module"].get_ref<const std::string&>().empty()) {
    return error_response(400, "the body must be a JSON object {\"module\": \"PATH\"}, PATH a module file on this machine");
  }
  const std::string path = body["module"].get<std::string>();
  auto change = exchange_.change_module(path);
  const auto deadline = Clock::now() + std::chrono::seconds(60);
  while (change.wait_for(kPoll) != std::future_status::ready) {
    if (stopping_) return error_response(503, "the run is ending; no online change was made");
    if (Clock::now() >= deadline) return error_response(504, "the online change did not come within 60 s");
  }
  const Result<ChangeOutcome> outcome = change.get();
  if (!outcome) return error_response(exchange_.ended() ? 503 : 409, outcome.error().message);
  return json_response(200, {{"changed", true},
                             {"from", outcome->from},
                             {"to", outcome->to},
                             {"codeVersion", outcome->toCodeVersion},
                             {"fromLayout", hex32(outcome->fromLayout)},
                             {"toLayout", hex32(outcome->toLayout)},
                             {"referencesMapped", outcome->mapped},
                             {"lost", outcome->lost}});
}

HttpResponse WebApi::put_force(const HttpRequest& request, const std::string& name) {
  const auto snapshot = exchange_.latest();
  auto variable = find(name, *snapshot);
  if (!variable) return error_response(404, variable.error().message);
  Encoded value;
  if (auto refusal = body_value(request, *variable, *snapshot, value)) return std::move(*refusal);
  ++counts_.forces;
  return answer_applied(exchange_.force(*variable, value), *variable);
}

HttpResponse WebApi::delete_force(const HttpRequest&, const std::string& name) {
  const auto snapshot = exchange_.latest();
  auto variable = find(name, *snapshot);
  if (!variable) return error_response(404, variable.error().message);
  if (!is_forced(exchange_.forces(), *variable)) return error_response(409, variable->name + " is not forced");
  ++counts_.forces;
  return answer_applied(exchange_.release(*variable), *variable);
}

// ---- the event stream ----

ApiAnswer WebApi::get_stream(const HttpRequest& request, const StreamWriter& stream) {
  StreamState state;
  state.version = request.version;
  int rate = kDefaultRate;
  if (request.has_param("rate")) {
    const std::string text = request.param("rate");
    const std::optional<int> given = whole_number<int>(text);
    if (given) rate = *given;
    if (!given || rate < 1 || rate > kMaxRate) {
      return {error_response(400, "rate is a whole number of updates per second from 1 to " + std::to_string(kMaxRate) +
                                      ", not '" + text + "'"),
              false};
    }
  }
  state.interval = std::chrono::duration_cast<Clock::duration>(std::chrono::seconds(1)) / rate;
  const auto snapshot = exchange_.latest();
  if (request.has_param("vars")) {
    state.names = split_names(request.param("vars"));
  } else if (const Symbols* symbols = snapshot->symbols.get()) {
    const bool all = request.param("all") == "1";
    for (const Variable& variable : symbols->variables)
      if (all || variable.program) state.names.push_back(variable.name);
  }
  if (state.names.size() > kMaxStreamVariables) {
    return {error_response(400, "at most " + std::to_string(kMaxStreamVariables) + " variables per stream"), false};
  }
  for (const std::string& name : state.names) {
    auto variable = find(name, *snapshot);
    if (!variable) return {error_response(404, variable.error().message), false};
    state.variables.push_back(*variable);
  }
  state.resolvedFor = snapshot->symbols.get();
  if (++streams_ > kMaxStreams) {
    --streams_;
    return {error_response(503, "too many event streams (at most " + std::to_string(kMaxStreams) + " at once)"), false};
  }
  ++counts_.streamsServed;
  if (stream(event_stream_head(state.version))) {
    while (run_stream(state, stream)) {
    }
  }
  --streams_;
  return {HttpResponse{}, true};
}

// One step of a stream: waits (briefly, so that a stop is seen) for a newer snapshot and sends it
// when the stream's rate allows; false once the stream has ended. A client that reads slowly only
// makes its own thread wait; it gets the latest snapshot when it is ready again.
bool WebApi::run_stream(StreamState& state, const StreamWriter& stream) {
  if (stopping_ || exchange_.ended()) {
    const std::string end = "event: end\ndata: {\"reason\": \"the run has ended\"}\n\n";
    (void)(stream(event_stream_piece(end, state.version)) && stream(event_stream_end(state.version)));
    return false;
  }
  const auto now = Clock::now();
  if (!state.first && now < state.nextSend) {
    std::this_thread::sleep_for(std::min<Clock::duration>(state.nextSend - now, kPoll));
    return true;
  }
  // A debugger's stop or resume is news without a new cycle.
  const uint64_t heldVersion = status_.held_version();
  const auto snapshot = state.first || heldVersion != state.heldVersion ? exchange_.latest()
                                                                        : exchange_.wait_after(state.lastCycles, kPoll);
  if (!state.first && snapshot->cycles <= state.lastCycles && heldVersion == state.heldVersion) {
    if (now - state.lastWrite < kStreamKeepAlive) return true;
    state.lastWrite = now;
    return stream(event_stream_piece(": keep-alive\n\n", state.version));
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
                      {"forced", std::move(forced)},
                      {"held", held_json(status_.held())}};
  const std::string text = "data: " + event.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n\n";
  state.first = false;
  state.lastCycles = snapshot->cycles;
  state.heldVersion = heldVersion;
  state.nextSend = now + state.interval;
  state.lastWrite = now;
  return stream(event_stream_piece(text, state.version));
}

// An online change brought other names: the stream keeps those the new module still has.
void WebApi::resolve_again(StreamState& state, const Snapshot& snapshot) const {
  state.variables.clear();
  for (const std::string& name : state.names) {
    if (auto variable = find(name, snapshot)) state.variables.push_back(*variable);
  }
  state.resolvedFor = snapshot.symbols.get();
}

}  // namespace softplc

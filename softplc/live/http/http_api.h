// The web view's API and page: a request in, an answer out. Every read comes from the exchange's
// latest snapshot and every write goes through its queue, so no request ever touches the data
// area while a cycle runs, and no client can hold a cycle up.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <string_view>

#include "softplc/live/exchange.h"
#include "softplc/live/http/http_answer.h"
#include "softplc/live/http/http_channel.h"
#include "softplc/live/http/http_request.h"
#include "softplc/live/http/page_files.h"
#include "softplc/live/status.h"

namespace softplc {

// Sends a piece of an event stream to its client; false once the client is gone or too slow.
using StreamWriter = std::function<bool(std::string_view)>;

struct ApiAnswer {
  HttpResponse response;
  bool streamed = false;   // the answer went out through the StreamWriter, and the connection ends
};

// The API's end-of-run counts.
struct ApiCounts {
  std::atomic<uint64_t> requests{0};
  std::atomic<uint64_t> refused{0};
  std::atomic<uint64_t> writes{0};
  std::atomic<uint64_t> forces{0};
  std::atomic<uint64_t> streamsServed{0};
};

inline constexpr int kMaxStreams = 8;   // event streams at once; another gets 503

HttpResponse error_response(int status, const std::string& message);

class WebApi {
 public:
  WebApi(HttpOptions options, PageFiles page, Exchange& exchange, const RunStatus& status, std::string symbolsNote);

  ApiAnswer answer(const HttpRequest& request, const StreamWriter& stream);
  // Ends the event streams (each with its end event) and the waits for writes; returns once the
  // streams have ended, or after a few tenths of a second.
  void stop();

  bool token_required() const { return !options_.token.empty() || !options_.address.loopback(); }
  const HttpOptions& options() const { return options_; }
  ApiCounts& counts() { return counts_; }
  const ApiCounts& counts() const { return counts_; }

 private:
  struct StreamState;
  struct Route;
  using Clock = std::chrono::steady_clock;

  std::optional<HttpResponse> refuse_write(const HttpRequest& request) const;
  Result<Variable> find(const std::string& name, const Snapshot& snapshot) const;
  std::optional<HttpResponse> body_value(const HttpRequest& request, const Variable& variable,
                                         const Snapshot& snapshot, Encoded& value) const;
  HttpResponse answer_applied(std::future<Status> applied, const Variable& variable);

  HttpResponse get_module(const HttpRequest& request, const std::string& rest);
  HttpResponse get_variables(const HttpRequest& request, const std::string& rest);
  HttpResponse get_variable(const HttpRequest& request, const std::string& name);
  HttpResponse get_status(const HttpRequest& request, const std::string& rest);
  HttpResponse get_listing(const HttpRequest& request, const std::string& rest);
  HttpResponse get_page(const HttpRequest& request, const std::string& rest);
  HttpResponse put_variable(const HttpRequest& request, const std::string& name);
  HttpResponse put_force(const HttpRequest& request, const std::string& name);
  HttpResponse delete_force(const HttpRequest& request, const std::string& name);
  HttpResponse post_online_change(const HttpRequest& request, const std::string& rest);
  ApiAnswer get_stream(const HttpRequest& request, const StreamWriter& stream);
  bool run_stream(StreamState& state, const StreamWriter& stream);
  void resolve_again(StreamState& state, const Snapshot& snapshot) const;

  HttpOptions options_;
  PageFiles page_;
  Exchange& exchange_;
  const RunStatus& status_;
  std::string symbolsNote_;
  Clock::duration applyWait_{};
  std::atomic<bool> stopping_{false};
  std::atomic<int> streams_{0};
  ApiCounts counts_;
};

}  // namespace softplc

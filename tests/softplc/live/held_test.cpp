// Where a debugger holds the cycle, as the web view reports it: the place an event lands on, and
// /api/status and an event stream that show a stop and a resume the moment they happen, with no
// cycle in between (a held cycle never ends, so a stream that waited for one would never say so).
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "softplc/live/exchange.h"
#include "softplc/live/http/http_api.h"
#include "softplc/live/status.h"
#include "softplc/observe/error_tally.h"
#include "softplc/observe/statistics.h"

namespace softplc {
namespace {

using nlohmann::json;

struct HeldCase {
  int32_t typeId;
  uint32_t offset;
  int32_t kind;
  bool exitHook;
  uint32_t line;
  const char* block;
  const char* instance;
  const char* statement;
};

TEST(HeldAt, AnEventLandsOnItsStatement) {
  auto plc = load_plc(KX_MODULE_FILE, SymbolSource{});
  ASSERT_TRUE(plc) << plc.error().message;
  const SourceMap map((*plc)->symbols());
  const HeldCase cases[] = {
      {20, 412, 1, false, 192, "Ramp_Int", "IntRamp", "StartReal := INT_TO_REAL(Start);"},
      {14, 260, 6, false, 143, "Ramp_Int", "IntRamp", "FUNCTION_BLOCK Ramp_Int"},
      {14, 260, 6, true, 224, "Ramp_Int", "IntRamp", "END_FUNCTION_BLOCK"},
      {14, 260, 1, false, 49, "Program_Control", "",
       "IntRamp(Enable := IntRampEnable, Start := 0, Target := 100, Reset := IntRampReset, Step := 1, "
       "Period := T#1s);"},
  };
  for (const HeldCase& c : cases) {
    SCOPED_TRACE(c.line);
    const SourceLocation* where = map.find(c.typeId, c.offset, c.kind);
    ASSERT_NE(where, nullptr);
    const HeldAt at = held_at(map, where, c.exitHook, 7, "the event");
    EXPECT_EQ(at.cycle, 7u);
    EXPECT_EQ(at.line, c.line);
    EXPECT_EQ(at.block, c.block);
    EXPECT_EQ(at.instance, c.instance);
    EXPECT_EQ(at.statement, c.statement);
    EXPECT_EQ(at.event, "the event");
  }
  const HeldAt nowhere = held_at(map, nullptr, false, 3, "enter(1) 99");
  EXPECT_EQ(nowhere.line, 0u);
  EXPECT_EQ(nowhere.block, "");
}

// A run as `softplc run --http` wires it, with no cycle run: the API answers from the first snapshot.
struct LiveRun {
  LiveRun() : engine(load(), EngineOptions{}), out(), stats(out, 10'000'000, false, std::nullopt) {
    EXPECT_TRUE(engine.plc().initialise(0));
    exchange.emplace(engine);
    status.emplace(engine, errors, stats);
    exchange->publish_initial();
    api.emplace(HttpOptions{}, PageFiles{}, *exchange, *status, "");
  }
  static std::unique_ptr<Plc> load() {
    auto plc = load_plc(KX_MODULE_FILE, SymbolSource{});
    if (!plc) throw std::runtime_error(plc.error().message);
    return std::move(plc).value();
  }
  json get(const std::string& path) {
    HttpRequest request;
    request.method = "GET";
    request.path = path;
    return json::parse(api->answer(request, [](std::string_view) { return true; }).response.body);
  }

  Engine engine;
  std::ostringstream out;
  ErrorTally errors;
  StatsObserver stats;
  std::optional<Exchange> exchange;
  std::optional<RunStatus> status;
  std::optional<WebApi> api;
};

// The events of a stream that runs on its own thread, as they come.
class Listener {
 public:
  explicit Listener(LiveRun& run)
      : run_(run), thread_([this] {
          HttpRequest request;
          request.method = "GET";
          request.path = "/api/stream";
          request.query = {{"vars", "IntRampEnable"}};
          run_.api->answer(request, [this](std::string_view piece) {
            std::lock_guard lock(mutex_);
            text_ += piece;
            return true;
          });
        }) {}
  // Ends the stream, as the end of the run does.
  ~Listener() {
    run_.api->stop();
    thread_.join();
  }

  // The data of the events so far.
  std::vector<json> events() {
    std::lock_guard lock(mutex_);
    std::vector<json> found;
    for (std::size_t at = text_.find("data: {\"cycles\""); at != std::string::npos;
         at = text_.find("data: {\"cycles\"", at + 1)) {
      found.push_back(json::parse(text_.substr(at + 6, text_.find('\n', at) - at - 6)));
    }
    return found;
  }
  // Waits (up to 5 s) for the event after the first `count`.
  std::optional<json> next(std::size_t count) {
    for (int i = 0; i < 500; ++i) {
      if (auto all = events(); all.size() > count) return all[count];
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return std::nullopt;
  }

 private:
  LiveRun& run_;
  std::mutex mutex_;
  std::string text_;
  std::thread thread_;
};

TEST(HeldAt, StatusAndStreamShowAStopAndAResumeWithoutACycle) {
  LiveRun run;
  EXPECT_EQ(run.get("/api/status")["held"], nullptr);
  {
    Listener listener(run);
    const auto first = listener.next(0);
    ASSERT_TRUE(first);
    EXPECT_EQ((*first)["held"], nullptr);

    run.status->hold({0, 192, "Ramp_Int", "IntRamp", "StartReal := INT_TO_REAL(Start);", "enter(1) 20"});
    const json held = {{"cycle", 0},           {"line", 192},
                       {"block", "Ramp_Int"},  {"instance", "IntRamp"},
                       {"statement", "StartReal := INT_TO_REAL(Start);"}, {"event", "enter(1) 20"}};
    const auto stopped = listener.next(1);
    ASSERT_TRUE(stopped);
    EXPECT_EQ((*stopped)["held"], held);
    EXPECT_EQ((*stopped)["cycles"], 0);
    EXPECT_EQ(run.get("/api/status")["held"], held);

    run.status->resume();
    const auto resumed = listener.next(2);
    ASSERT_TRUE(resumed);
    EXPECT_EQ((*resumed)["held"], nullptr);
    EXPECT_EQ(run.get("/api/status")["held"], nullptr);
    run.status->resume();   // a second resume is no news
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(listener.events().size(), 3u);
  }
}

}  // namespace
}  // namespace softplc

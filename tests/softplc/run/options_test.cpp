// The run's options taken by name, as a source other than the command line gives them (a file's
// keys, spelled without dashes): the plan they make, or the message that names the key.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "softplc/run/options.h"

namespace softplc {
namespace {

using Given = std::vector<std::pair<std::string, std::string>>;

Result<RunPlan> plan_of(const Given& given, unsigned command = kForRun) {
  PlanBuilder builder(OptionSpelling{""});
  for (const auto& [name, text] : given) {
    if (auto status = builder.give(name, text); !status) return status.error();
  }
  return builder.finish(command);
}

TEST(RunOptions, MessagesNameTheOptionAsItsSourceSpellsIt) {
  const struct {
    Given given;
    std::string message;
  } cases[] = {
      {{{"cycles", "3"}, {"period", "0s"}}, "period must be longer than 0"},
      {{{"cycles", "3"}, {"realtime", "yes"}}, "realtime expects true or false, got 'yes'"},
      {{{"cycles", "3"}, {"rt-priority", "50"}}, "rt-priority needs rt"},
      {{{"cycles", "3"}, {"rt", "true"}}, "rt needs realtime (a simulated run has no deadlines to keep)"},
      {{{"cycles", "3"}, {"vars", "LagOut"}}, "vars needs plot or trace"},
      {{{"cycles", "3"}, {"duration", "1s"}}, "cycles excludes duration"},
      {{{"cycles", "5"}, {"replace-at", "5:x.so"}}, "replace-at 5:x.so: the run has cycles 0 to 4"},
      {{{"period", "10ms"}},
       "run needs cycles N or duration TIME (a run until stopped needs realtime, or modbus or http to pace its "
       "simulated clock)"},
      {{{"cycles", "3"}, {"watchdog-action", "report"}}, "watchdog-action needs watchdog"},
      {{{"cycles", "3"}, {"watchdog", "10ms"}, {"watchdog-action", "halt"}},
       "watchdog-action expects stop or report, got 'halt'"},
      {{{"cycles", "3"}, {"http", "8080"}, {"http-token", "two words"}},
       "http-token: a token is printable ASCII without blanks"},
      {{{"cycles", "3"}, {"frobnicate", "1"}}, "unknown option frobnicate"},
      {{{"cycles", "3"}, {"modbus", "5020"}, {"http", "127.0.0.1:5020"}},
       "modbus and http cannot listen on the same address 127.0.0.1:5020"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    const auto plan = plan_of(c.given);
    ASSERT_FALSE(plan);
    EXPECT_EQ(plan.error().message, c.message);
    EXPECT_EQ(plan.error().kind, ErrorKind::usage);
  }
}

TEST(RunOptions, GivenInAnyOrderTheyMakeOnePlan) {
  const auto plan = plan_of({{"replace-at", "4:b.so"},
                             {"duration", "45ms"},
                             {"replace-at", "2:a.so"},
                             {"period", "10ms"},
                             {"set", "LagIn=1"},
                             {"set", "ExtIn4=2"},
                             {"modbus-idle-timeout", "0"},
                             {"modbus", "5020"}});
  ASSERT_TRUE(plan) << plan.error().message;
  EXPECT_EQ(plan->limit().count, 5u);   // cycles at 0 to 40 ms
  EXPECT_TRUE(plan->limit().deadlines);
  ASSERT_EQ(plan->replacements.size(), 2u);
  EXPECT_EQ(plan->replacements[0].beforeCycle, 2u);   // in cycle order
  EXPECT_EQ(plan->sets, (std::vector<std::string>{"LagIn=1", "ExtIn4=2"}));
  EXPECT_TRUE(plan->serveModbus);
  EXPECT_EQ(plan->modbus.idleTimeout.count(), 0);
  // A run without a limit on the real-time clock or paced by a live channel: until stopped.
  for (const Given& untilStopped : {Given{{"realtime", "true"}}, Given{{"http", "8080"}}}) {
    const auto endless = plan_of(untilStopped);
    ASSERT_TRUE(endless) << endless.error().message;
    EXPECT_TRUE(endless->until_stopped());
    EXPECT_EQ(endless->limit().count, UINT64_MAX);
  }
  // Unless given, the defaults: a debugger's run has no end of its own.
  const auto debug = plan_of({}, kForDebug);
  ASSERT_TRUE(debug);
  EXPECT_EQ(debug->periodNs, 10'000'000);
  EXPECT_EQ(debug->limit().count, UINT64_MAX);
}

}  // namespace
}  // namespace softplc

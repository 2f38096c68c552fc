// A run's configuration file as `run --config` and `config-check` read it: what is refused, with the
// file, line and column, and how the command line's options replace the file's.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "softplc/config/config_file.h"
#include "softplc/config/plan_sources.h"

namespace softplc {
namespace {

namespace fs = std::filesystem;

class ConfigFile : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("softplc_config_" + std::to_string(::getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path write(const std::string& name, const std::string& text) {
    std::ofstream(dir_ / name, std::ios::binary) << text;
    return dir_ / name;
  }

  // The plan of the file (and the command line's options), as run --config makes it.
  Result<RunPlan> plan(const fs::path& file, const std::vector<GivenOption>& commandLine = {}) {
    auto config = read_run_config(file);
    if (!config) return config.error();
    return make_run_plan(&*config, commandLine, kForRun);
  }

  fs::path dir_;
};

TEST_F(ConfigFile, RefusalsNameTheFileLineAndColumn) {
  const struct {
    std::string text;
    std::string message;   // after the file's name
  } cases[] = {
      {"perod: 10ms\n", ":1:1: unknown key 'perod' in the configuration; did you mean period?"},
      {"cycles: 3\nperiod: 0s\n", ":2:9: period must be longer than 0"},
      {"cycles: 3\nrealtime: maybe\n", ":2:11: realtime expects true or false, got 'maybe'"},
      {"cycles: 3\nhttp: 8080\nhttp-token: s3cret\n",
       ":3:1: http-token: a token is not kept in the configuration, which others may read: name a file that holds "
       "it with http-token-file, or set SOFTPLC_HTTP_TOKEN in the environment"},
      {"cycles: 3\ncycles: 4\n", ":2:1: 'cycles' is given twice in the configuration (first at line 1)"},
      {"cycles: 3\nperiod: [1ms, 2ms]\n", ":2:9: period takes a single value, not a list"},
      {"cycles: 3\nset:\n  LagIn: [1]\n", ":3:10: set LagIn takes a single value, not a list"},
      {"cycles: 3\nset:\n  - LagIn=1\n  - [x]\n", ":4:5: set takes a single value, not a list"},
      {"cycles: 3\nrt-priority: 50\n", ":2:1: rt-priority needs rt"},
      {"cycles: 3\nwatchdog: 10ms\nwatchdog-action: halt\n", ":3:18: watchdog-action expects stop or report, got 'halt'"},
      {"cycles: 3\nperiod: 10ms\n  bad: 1\n", ":3:6: illegal map value"},
      {"- cycles\n", ":1:1: the configuration is a mapping of keys to values, not a list"},
      {"cycles: 3\n---\ncycles: 4\n", ":3:1: a second document ('---'); the file holds one"},
      {"# nothing yet\n", ": the file is empty"},
      {"period: 10ms\n",
       ": run needs cycles N or duration TIME (a run until stopped needs realtime, or modbus or http to pace its "
       "simulated clock)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const fs::path file = write("c.yaml", c.text);
    const auto made = plan(file);
    ASSERT_FALSE(made);
    EXPECT_EQ(made.error().message, file.string() + c.message);
    EXPECT_EQ(made.error().kind, ErrorKind::usage);
  }
  // A token file that is not there is named where the configuration says it is: beside it.
  const auto missing = plan(write("t.yaml", "cycles: 3\nhttp: 8080\nhttp-token-file: none.token\n"));
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().message, (dir_ / "t.yaml").string() + ":3:18: cannot read http-token-file " +
                                         (dir_ / "none.token").string() + ": No such file or directory");
}

TEST_F(ConfigFile, TheCommandLinesOptionsReplaceTheFiles) {
  write("web.token", "tok-123\n");
  const fs::path file = write("line1.yaml",
                              "duration: 1s\nperiod: 20ms\nrealtime: false\nset:\n  LagIn: 50\n  IntRampEnable: "
                              "TRUE\ntrace: out/t.csv\nreplace-at: [10:next.so]\nhttp: 8080\nhttp-token-file: "
                              "web.token\n");
  const auto alone = plan(file);
  ASSERT_TRUE(alone) << alone.error().message;
  EXPECT_EQ(alone->durationNs, 1'000'000'000);
  EXPECT_EQ(alone->periodNs, 20'000'000);
  EXPECT_FALSE(alone->realtime);
  EXPECT_EQ(alone->sets, (std::vector<std::string>{"LagIn=50", "IntRampEnable=TRUE"}));
  EXPECT_EQ(alone->tracePath, dir_ / "out/t.csv");   // paths from the file's folder
  ASSERT_EQ(alone->replacements.size(), 1u);
  EXPECT_EQ(alone->replacements[0].module, dir_ / "next.so");
  EXPECT_EQ(alone->http.token, "tok-123");

  // --cycles replaces the file's duration, which it excludes; --set replaces the file's list.
  const std::vector<GivenOption> commandLine{{find_run_option("cycles"), {"20"}},
                                             {find_run_option("set"), {"ExtIn4=2"}}};
  const auto both = plan(file, commandLine);
  ASSERT_TRUE(both) << both.error().message;
  EXPECT_EQ(both->cycles, 20u);
  EXPECT_FALSE(both->durationNs);
  EXPECT_EQ(both->sets, (std::vector<std::string>{"ExtIn4=2"}));
  EXPECT_EQ(both->periodNs, 20'000'000);
}

}  // namespace
}  // namespace softplc

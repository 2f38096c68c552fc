// softplc run as a user runs it, for the real-time statistics, the plots and online changes.
#include <gtest/gtest.h>

#include "softplc_process.h"
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace softplc_test;

// A trace as rows of fields, the header first.
std::vector<std::vector<std::string>> read_trace(const fs::path& path) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream in(read_file(path));
  for (std::string line; std::getline(in, line);) rows.push_back(split(line, ','));
  return rows;
}

std::size_t column_of(const std::vector<std::vector<std::string>>& trace, const std::string& name) {
  for (std::size_t i = 0; i < trace.at(0).size(); ++i)
    if (trace[0][i] == name) return i;
  ADD_FAILURE() << "no column " << name;
  return 0;
}

// "10.0002ms" and the like, in nanoseconds.
double nanoseconds(const std::string& number, const std::string& unit) {
  const double value = std::stod(number);
  if (unit == "s") return value * 1e9;
  if (unit == "ms") return value * 1e6;
  if (unit == "us") return value * 1e3;
  return value;
}

class Run : public SoftplcProcessTest {
 protected:
  Outcome softplc(const std::vector<std::string>& args, const std::string& environment = "") {
    return invoke({"run"}, args, environment);
  }
};

// ---- real time ------------------------------------------------------------------------------

TEST_F(Run, RealTimeRunPrintsSaneCycleStatistics) {
  const Outcome r = softplc({"--realtime", "--duration", "2s", "--period", "10ms", "--stats-every", "1s"});
  ASSERT_EQ(r.status, 0) << r.err;

  std::smatch m;
  ASSERT_TRUE(std::regex_search(r.out, m, std::regex(R"(cycle statistics, whole run: (\d+) cycles in \S+, real-time, period 10ms)")))
      << r.out;
  // 200 deadlines in 2 s; a loaded machine may skip a few.
  const int cycles = std::stoi(m[1]);
  EXPECT_LE(cycles, 200);
  EXPECT_GE(cycles, 190);
  const std::string whole = r.out.substr(static_cast<std::size_t>(m.position(0)));

  ASSERT_TRUE(std::regex_search(whole, m, std::regex(R"(mean period +([0-9.]+)(ns|us|ms|s) \(target 10ms\))"))) << whole;
  const double period = nanoseconds(m[1], m[2]);
  EXPECT_GT(period, 5e6);
  EXPECT_LT(period, 20e6);

  for (const char* label : {"execution time", "start jitter"}) {
    const std::regex line(std::string(label) +
                          R"( +min (-?[0-9.]+)(ns|us|ms|s) +mean (-?[0-9.]+)(ns|us|ms|s) +p99 ([0-9.]+)(ns|us|ms|s) +p99\.9 ([0-9.]+)(ns|us|ms|s) +max ([0-9.]+)(ns|us|ms|s))");
    ASSERT_TRUE(std::regex_search(whole, m, line)) << label << "\n" << whole;
    const double min = nanoseconds(m[1], m[2]), mean = nanoseconds(m[3], m[4]);
    const double p99 = nanoseconds(m[5], m[6]), p999 = nanoseconds(m[7], m[8]), max = nanoseconds(m[9], m[10]);
    // Printed to four digits: allow the rounding.
    EXPECT_LE(min, mean * 1.001) << label;
    EXPECT_LE(mean, max * 1.001) << label;
    EXPECT_LE(p99, p999 * 1.001) << label;
    EXPECT_LE(p999, max * 1.001) << label;
    EXPECT_LE(min, p99 * 1.001) << label;
  }
  EXPECT_TRUE(std::regex_search(whole, std::regex(R"(period (kept: no overruns, no deadlines skipped|not kept: \d+ overruns?, \d+ deadlines? skipped))")))
      << whole;
  // The interval report of the first second came while the run went on.
  EXPECT_NE(r.out.find("cycle statistics, t=0s to 1s: "), std::string::npos) << r.out;
  EXPECT_LT(r.out.find("cycle statistics, t=0s to 1s: "), r.out.find("ran ")) << r.out;
}

// --rt asks for what the system may refuse: either it is granted and said so, or each refusal is a
// note and the run goes on. --cpu and --spin work with or without it.
TEST_F(Run, RealTimeSchedulingIsGrantedOrRefusedWithANoteAndTheRunGoesOn) {
  const Outcome r = softplc({"--realtime", "--rt", "--rt-priority", "10", "--cpu", "0", "--spin", "100us", "--cycles",
                             "20", "--period", "2ms"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("ran 20 cycles"), std::string::npos) << r.out;
  const bool fifo = r.out.find("real-time scheduling: SCHED_FIFO priority 10") != std::string::npos;
  const bool refused = r.err.find("softplc: note: cannot run at SCHED_FIFO priority 10: ") != std::string::npos;
  EXPECT_NE(fifo, refused) << r.out << r.err;
  EXPECT_NE(r.out.find("CPU 0"), std::string::npos) << r.out;
}

TEST_F(Run, BadRealTimeOptionsAreUsageErrors) {
  const struct {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{"--rt"}, "--rt needs --realtime"},
      {{"--cpu", "0"}, "--cpu needs --realtime"},
      {{"--spin", "10us"}, "--spin needs --realtime"},
      {{"--realtime", "--rt-priority", "50"}, "--rt-priority needs --rt"},
      {{"--realtime", "--rt", "--rt-priority", "0"}, "--rt-priority expects a whole number from 1 to 99, got '0'"},
      {{"--realtime", "--rt", "--rt-priority", "high"}, "--rt-priority expects a whole number from 1 to 99"},
      {{"--realtime", "--cpu", "-1"}, "--cpu expects a whole number"},
      {{"--realtime", "--cpu", "4096"}, "--cpu 4096: this process may run on CPUs 0"},
      {{"--realtime", "--spin", "10ms"}, "--spin must be at least 0 and shorter than the period"},
      {{"--realtime", "--spin", "fast"}, "--spin: "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    std::vector<std::string> args = {"--cycles", "10", "--period", "10ms"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const Outcome r = softplc(args);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find("ran "), std::string::npos) << r.out;
  }
}

TEST_F(Run, SimulatedRunShowsExecutionTimesOnlyWhenAsked) {
  const Outcome plain = softplc({"--cycles", "100"});
  ASSERT_EQ(plain.status, 0) << plain.err;
  EXPECT_EQ(plain.out.find("cycle statistics"), std::string::npos) << plain.out;

  const Outcome asked = softplc({"--cycles", "100", "--stats"});
  ASSERT_EQ(asked.status, 0) << asked.err;
  EXPECT_NE(asked.out.find("cycle statistics, whole run: 100 cycles, simulated clock\n  execution time  min "),
            std::string::npos)
      << asked.out;
  EXPECT_EQ(asked.out.find("start jitter"), std::string::npos) << asked.out;
}

// ---- plots ----------------------------------------------------------------------------------

uint32_t big_endian(const std::string& bytes, std::size_t at) {
  uint32_t value = 0;
  for (std::size_t i = 0; i < 4; ++i) value = value << 8 | static_cast<unsigned char>(bytes.at(at + i));
  return value;
}

TEST_F(Run, PlotIsAPngOfTheRequestedSizeAndVarsAddInstanceFieldsToTheTrace) {
  const Outcome r = softplc({"--cycles", "300", "--set", "IntRampEnable=TRUE", "--trace", path("t.csv").string(),
                             "--plot", path("p.png").string(), "--plot-size", "640x480", "--vars",
                             "LagOut,BlinkQ,IntRamp.Clock.ET,IntRampReached"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string png = read_file(path("p.png"));
  ASSERT_GE(png.size(), 24u);
  EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
  EXPECT_EQ(png.substr(12, 4), "IHDR");
  EXPECT_EQ(big_endian(png, 16), 640u);
  EXPECT_EQ(big_endian(png, 20), 480u);

  // The trace keeps all 25 program variables; the plotted instance field comes after them.
  const auto trace = read_trace(path("t.csv"));
  ASSERT_EQ(trace.size(), 301u);
  EXPECT_EQ(trace[0].size(), 27u);
  EXPECT_EQ(trace[0].back(), "IntRamp.Clock.ET");
  EXPECT_NE(r.out.find("plot written to "), std::string::npos) << r.out;
}

TEST_F(Run, PlotWithoutTraceUsesATemporaryOneOfTheDefaultSize) {
  fs::create_directories(path("tmp"));
  const Outcome r = softplc({"--cycles", "50", "--plot", path("d.png").string()}, "TMPDIR=" + path("tmp").string());
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string png = read_file(path("d.png"));
  ASSERT_GE(png.size(), 24u);
  EXPECT_EQ(big_endian(png, 16), 1000u);
  EXPECT_EQ(big_endian(png, 20), 600u);
  EXPECT_EQ(r.out.find("trace written"), std::string::npos);
  // The temporary trace and the gnuplot script are gone.
  EXPECT_TRUE(fs::is_empty(path("tmp")));
}

// Paths and a module name (the plot's title) that would end a gnuplot string and run commands:
// a line end, quotes, a backquoted command, a macro. The picture is drawn where asked, and nothing
// runs.
TEST_F(Run, PlotPathsAndTitleCannotRunCommands) {
  const std::string hostile = "m`touch bq`\n!touch proof\n#@x\"'\\";
  const fs::path module = dir_ / (hostile + ".so");
  fs::copy_file(KX_MODULE_FILE, module);
  fs::copy_file(KX_SYMBOLS_FILE, dir_ / (hostile + ".symbols.json"));
  fs::create_directories(dir_ / ("d" + hostile));
  const fs::path picture = dir_ / ("d" + hostile) / ("p" + hostile + ".png");
  const Outcome r = invoke({"run"},
                           {module.string(), "--cycles", "20", "--vars", "IntRampOut,BlinkQ", "--trace",
                            (dir_ / ("d" + hostile) / ("t" + hostile + ".csv")).string(), "--plot", picture.string()},
                           "cd " + quoted(dir_.string()) + " &&");
  EXPECT_FALSE(fs::exists(path("bq")));
  EXPECT_FALSE(fs::exists(path("proof")));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read_file(picture).substr(0, 4), "\x89PNG");
}

TEST_F(Run, PlotWithoutGnuplotFailsBeforeTheRun) {
  const Outcome r = softplc({"--cycles", "10", "--plot", path("g.png").string()}, "PATH=" + path("empty").string());
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("softplc: gnuplot not found"), std::string::npos) << r.err;
  EXPECT_EQ(r.out.find("ran "), std::string::npos) << r.out;
  EXPECT_FALSE(fs::exists(path("g.png")));
}

TEST_F(Run, BadPlotAndReplaceOptionsAreUsageErrors) {
  const struct {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{"--cycles", "10", "--vars", "LagOut"}, "--plot"},
      {{"--cycles", "10", "--plot", "x.png", "--vars", "LagOut,Nope"}, "unknown variable 'Nope'"},
      {{"--cycles", "10", "--plot", "x.png", "--plot-size", "640"}, "--plot-size"},
      {{"--cycles", "10", "--plot", "x.png", "--plot-size", "20x20"}, "--plot-size"},
      {{"--cycles", "10", "--replace-at", "next.so"}, "CYCLE:MODULE"},
      {{"--cycles", "10", "--replace-at", "x5:next.so"}, "CYCLE:MODULE"},
      {{"--cycles", "10", "--replace-at", "5:"}, "CYCLE:MODULE"},
      {{"--cycles", "10", "--replace-at", "10:next.so"}, "cycles 0 to 9"},
      {{"--cycles", "10", "--replace-at", "3:a.so", "--replace-at", "3:b.so"}, "two changes before cycle 3"},
      {{"--cycles", "10", "--stats-every", "0s"}, "--stats-every"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.back());
    const Outcome r = softplc(c.args);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find("ran "), std::string::npos) << r.out;
  }
}

// ---- online change --------------------------------------------------------------------------

const std::vector<std::string> kRamps = {"--cycles", "1500", "--set", "IntRampEnable=TRUE", "--set",
                                         "RealRampEnable=TRUE"};

std::vector<std::string> with(std::vector<std::string> args, const std::vector<std::string>& more) {
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

TEST_F(Run, OnlineChangeKeepsTheValuesAndTheTraceGoesOnWithoutAJump) {
  const Outcome r = softplc(with(kRamps, {"--replace-at", std::string("500:") + KX_NEXT_MODULE_FILE, "--trace",
                                          path("c.csv").string()}));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("before cycle 500: online change from CCodePublic (layout 0x4C5080A3) to CCodePublic_next "
                       "(layout 0x4C5080DF"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("online changes: 1 made, 0 not made; running CCodePublic_next"), std::string::npos) << r.out;

  const auto trace = read_trace(path("c.csv"));
  ASSERT_EQ(trace.size(), 1501u);
  const std::size_t real = column_of(trace, "RealRampOut");
  const std::size_t integer = column_of(trace, "IntRampOut");
  EXPECT_EQ(trace[501][0], "5");   // cycle 500, the first of the new module
  // The REAL ramp climbs 1 per second: 0.01 per cycle, before, across and after the change.
  for (std::size_t row = 2; row < trace.size(); ++row) {
    const double step = std::stod(trace[row][real]) - std::stod(trace[row - 1][real]);
    ASSERT_NEAR(step, 0.01, 0.0005) << "cycle " << row - 1;
    ASSERT_LE(std::stoi(trace[row - 1][integer]), std::stoi(trace[row][integer])) << "cycle " << row - 1;
  }
  EXPECT_NEAR(std::stod(trace[1500][real]), 14.99, 0.02);
  EXPECT_EQ(trace[1500][integer], "15");
}

TEST_F(Run, RefusedChangeLeavesTheOldModuleRunning) {
  const Outcome r = softplc(with(with({KX_NEXT_MODULE_FILE}, kRamps),
                                 {"--replace-at", std::string("500:") + KX_MODULE_FILE, "--trace", path("r.csv").string()}));
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_NE(r.err.find("softplc: online change before cycle 500 to "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("refused, CCodePublic_next keeps running: 69: the new module has no online-change support"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.out.find("ran 1500 cycles"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("online changes: 0 made, 1 not made; running CCodePublic_next\n"), std::string::npos) << r.out;
  const auto trace = read_trace(path("r.csv"));
  ASSERT_EQ(trace.size(), 1501u);
  EXPECT_NEAR(std::stod(trace[1500][column_of(trace, "RealRampOut")]), 14.99, 0.02);
}

TEST_F(Run, ChangeToAnotherLayoutOrAMissingFileIsRefusedWithItsReason) {
  // The variant replaces layout 0x4C5080A3 only; running itself, its layout is 0x4C5080DF. A rebuild
  // of it (other bytes, the same module) is asked; the very same bytes are not.
  std::string rebuilt = read_file(KX_NEXT_MODULE_FILE) + "rebuilt";
  std::ofstream(path("rebuilt.so"), std::ios::binary) << rebuilt;
  const Outcome layout = softplc({KX_NEXT_MODULE_FILE, "--cycles", "20", "--replace-at",
                                  "10:" + path("rebuilt.so").string()});
  EXPECT_EQ(layout.status, 3) << layout.err;
  EXPECT_NE(layout.err.find("67: the new module expects layout 0x4C5080A3 but the running one is 0x4C5080DF"),
            std::string::npos)
      << layout.err;
  EXPECT_NE(layout.out.find("ran 20 cycles"), std::string::npos) << layout.out;

  const Outcome missing = softplc({"--cycles", "20", "--replace-at", "10:" + path("gone.so").string()});
  EXPECT_EQ(missing.status, 3) << missing.err;
  EXPECT_NE(missing.err.find("module file not found: " + path("gone.so").string()), std::string::npos) << missing.err;
  EXPECT_NE(missing.out.find("ran 20 cycles"), std::string::npos) << missing.out;
}

}  // namespace

namespace {

using namespace softplc_test;

class Forcing : public SoftplcProcessTest {};

TEST_F(Forcing, ForcedInputsAndOutputsHoldInEveryRowAndTheReportListsThem) {
  const Outcome r = invoke({"run"}, {"--cycles", "50", "--set", "IntRampEnable=TRUE", "--force", "LagIn=5", "--force",
                                     "IntRampOut=42", "--trace", path("f.csv").string()});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\nforced: LagIn = 5\nforced: IntRampOut = 42\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\nIntRampOut = 42\n"), std::string::npos) << r.out;
  std::istringstream trace(read_file(path("f.csv")));
  std::string line;
  std::getline(trace, line);
  const auto header = split(line, ',');
  const auto at = [&](const char* name) { return std::find(header.begin(), header.end(), name) - header.begin(); };
  int rows = 0;
  for (; std::getline(trace, line); ++rows) {
    const auto row = split(line, ',');
    EXPECT_EQ(row.at(at("LagIn")), "5");
    EXPECT_EQ(row.at(at("IntRampOut")), "42");   // the program writes it; the force wins after each cycle
  }
  EXPECT_EQ(rows, 50);
  const Outcome bad = invoke({"run"}, {"--cycles", "1", "--force", "LagIn=5", "--force", "lagin=6"});
  EXPECT_EQ(bad.status, 2);
  EXPECT_NE(bad.err.find("--force: LagIn is forced twice"), std::string::npos) << bad.err;
}

}  // namespace

namespace {

using namespace softplc_test;

class Endings : public SoftplcProcessTest {
 protected:
  // Starts softplc in the background, sends `signal` once its trace has `rows` rows, and waits.
  Outcome interrupt_after(int signal, std::size_t rows, const std::vector<std::string>& args,
                          const std::string& environment) {
    std::string command = "exec env " + environment + " " + quoted(SOFTPLC_EXE) + " run";
    for (const std::string& arg : args) command += " " + quoted(arg);
    command += " >" + quoted(path("out").string()) + " 2>" + quoted(path("err").string()) + " </dev/null";
    const pid_t child = fork();
    if (child == 0) {
      execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    for (int i = 0; i < 500; ++i) {   // at most 10 s
      std::istringstream trace(read_file(path("t.csv")));
      std::size_t lines = 0;
      for (std::string line; std::getline(trace, line);) ++lines;
      if (lines > rows) break;
      usleep(20'000);
    }
    kill(child, signal);
    int raw = 0;
    waitpid(child, &raw, 0);
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw), read_file(path("out")), read_file(path("err"))};
  }

  // softplc with `args` in the background; with `input`, its standard input is a pipe whose writing
  // end `*input` stays open (a prompt waits on it).
  pid_t spawn(const std::vector<std::string>& args, int* input = nullptr) {
    int fds[2] = {-1, -1};
    if (input != nullptr && pipe(fds) != 0) ADD_FAILURE() << "no pipe";
    std::vector<std::string> all{SOFTPLC_EXE};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : all) argv.push_back(arg.data());
    argv.push_back(nullptr);
    const std::string out = path("stdout").string(), err = path("stderr").string();
    // Nothing of an earlier run is taken for this one's output.
    fs::remove(out);
    fs::remove(err);
    const pid_t pid = fork();
    if (pid == 0) {
      if (input != nullptr) {
        dup2(fds[0], 0);
        close(fds[1]);
      } else if (!std::freopen("/dev/null", "r", stdin)) {
        _exit(126);
      }
      if (!std::freopen(out.c_str(), "w", stdout) || !std::freopen(err.c_str(), "w", stderr)) _exit(126);
      execv(argv[0], argv.data());
      _exit(127);
    }
    if (input != nullptr) {
      close(fds[0]);
      *input = fds[1];
    }
    return pid;
  }
  // Waits for `pid` at most `limit`; one that is still running then is killed, and the test fails.
  Outcome finish_within(pid_t pid, std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int raw = 0;
    while (waitpid(pid, &raw, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        ADD_FAILURE() << "softplc still runs after " << limit.count() << " s";
        kill(pid, SIGKILL);
        waitpid(pid, &raw, 0);
        break;
      }
      usleep(10'000);
    }
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw), read_file(path("stdout")),
            read_file(path("stderr"))};
  }
  // Up to 10 s for `text` to appear in softplc's standard output.
  void wait_for_output(const std::string& text) {
    for (int i = 0; i < 1000 && read_file(path("stdout")).find(text) == std::string::npos; ++i) usleep(10'000);
  }
};

// A trace into a FIFO whose reader stops taking rows, or goes away, ends the run with the reason and
// the report, not a frozen cycle; what the reader got is whole rows.
TEST_F(Endings, ATraceFifoWhoseReaderStallsOrGoesEndsTheRunWithTheReason) {
  const struct {
    const char* reader;
    std::size_t takes;   // bytes the reader takes before it stalls (0) or goes
    const char* reason;
  } cases[] = {
      {"stalls", 0, "its reader took no rows for 5 s"},
      {"goes", 5000, "Broken pipe"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reader);
    const fs::path fifo = path(c.reader);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    const pid_t pid = spawn({"run", "--cycles", "10000000", "--trace", fifo.string()});
    std::string got;
    char buffer[65536];
    for (int i = 0; i < 1000 && got.size() < c.takes; ++i) {
      pollfd ready{reader, POLLIN, 0};
      poll(&ready, 1, 10);
      const ssize_t n = read(reader, buffer, std::min(sizeof buffer, c.takes - got.size()));
      if (n > 0) got.append(buffer, static_cast<std::size_t>(n));
    }
    if (c.takes != 0) close(reader);
    const Outcome r = finish_within(pid, std::chrono::seconds(20));
    EXPECT_EQ(r.status, 1) << r.err;
    std::smatch m;
    EXPECT_TRUE(std::regex_search(r.err, m, std::regex("softplc: cannot write trace file " + fifo.string() + ": " +
                                                       c.reason + R"(.* \(after cycle \d+; the file holds the (\d+) whole rows)")))
        << r.err;
    EXPECT_NE(r.out.find("\nBlinkQ = "), std::string::npos) << r.out;   // the report
    EXPECT_EQ(r.out.find("ran 10000000 cycles"), std::string::npos) << r.out;
    if (c.takes == 0) {
      for (ssize_t n; (n = read(reader, buffer, sizeof buffer)) > 0;) got.append(buffer, static_cast<std::size_t>(n));
      close(reader);
      ASSERT_FALSE(got.empty());
      EXPECT_EQ(got.back(), '\n');
      EXPECT_EQ(static_cast<std::size_t>(std::count(got.begin(), got.end(), '\n')), std::stoul(m[1]) + 1);
    }
  }
}

// SIGTERM ends every wait at once with status 4: the open of a trace FIFO that nobody reads, the
// debugger's prompt and its cycles.
TEST_F(Endings, SigtermEndsTheWaitForAFifosReaderAndADebugSession) {
  ASSERT_EQ(mkfifo(path("t.fifo").c_str(), 0600), 0);
  std::ofstream(path("s.txt")) << "cycle 100000000\nprint LagOut\n";
  const struct {
    std::vector<std::string> args;
    bool input;               // a standard input that stays open
    const char* ready;        // in the output once softplc waits (none: a while)
    const char* said;         // in the output and the error output at the end
  } cases[] = {
      {{"run", "--cycles", "10", "--trace", path("t.fifo").string()}, false, nullptr,
       "softplc: interrupted by SIGTERM before the first cycle: cannot create trace file"},
      {{"debug"}, true, "(softplc) ", "interrupted by SIGTERM: the session ends"},
      {{"debug", "--script", path("s.txt").string()}, false, "(softplc) ",
       "interrupted by SIGTERM: the session ends"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.back());
    int input = -1;
    const pid_t pid = spawn(c.args, c.input ? &input : nullptr);
    if (c.ready != nullptr) wait_for_output(c.ready);
    usleep(c.ready != nullptr ? 200'000 : 500'000);
    kill(pid, SIGTERM);
    const Outcome r = finish_within(pid, std::chrono::seconds(5));
    if (input >= 0) close(input);
    EXPECT_EQ(r.status, 4) << r.out << r.err;
    EXPECT_NE((r.out + r.err).find(c.said), std::string::npos) << r.out << r.err;
    EXPECT_NE(r.err.find("SIGTERM"), std::string::npos) << r.err;
  }
}

TEST_F(Endings, SignalsEndTheRunAfterTheCycleWithTraceReportAndTheirOwnStatus) {
  fs::create_directories(path("tmp"));
  for (const auto& [signal, name] : {std::pair{SIGINT, "SIGINT"}, {SIGTERM, "SIGTERM"}, {SIGHUP, "SIGHUP"}}) {
    SCOPED_TRACE(name);
    fs::remove(path("t.csv"));
    const Outcome r = interrupt_after(signal, 20,
                                      {"--realtime", "--duration", "60s", "--period", "5ms", "--trace",
                                       path("t.csv").string(), "--plot", path("p.png").string()},
                                      "TMPDIR=" + path("tmp").string());
    EXPECT_EQ(r.status, 4) << r.err;
    EXPECT_NE(r.err.find(std::string("softplc: interrupted by ") + name + " after "), std::string::npos) << r.err;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(r.out, m, std::regex(R"(ran (\d+) cycles)"))) << r.out;
    const std::string trace = read_file(path("t.csv"));
    ASSERT_FALSE(trace.empty());
    EXPECT_EQ(trace.back(), '\n');
    EXPECT_EQ(static_cast<std::size_t>(std::count(trace.begin(), trace.end(), '\n')), std::stoul(m[1]) + 1);
    EXPECT_NE(r.out.find("plot written to"), std::string::npos) << r.out;   // the report goes to its end
    EXPECT_TRUE(fs::is_empty(path("tmp")));
  }
}

// A signal ends a wait for a far deadline at once: the run does not sit out its 10 s period.
TEST_F(Endings, ASignalEndsTheWaitForALongPeriod) {
  const auto started = std::chrono::steady_clock::now();
  const Outcome r = interrupt_after(SIGINT, 1, {"--realtime", "--cycles", "3", "--period", "10s", "--trace",
                                                path("t.csv").string()}, "");
  const auto took = std::chrono::steady_clock::now() - started;
  EXPECT_EQ(r.status, 4) << r.err;
  EXPECT_NE(r.out.find("ran 1 cycle every 10s"), std::string::npos) << r.out;
  EXPECT_LT(took, std::chrono::seconds(8));
}

TEST_F(Endings, FailedWritesSayWhyAndTheReportIsStillPrinted) {
  const Outcome full = invoke({"run"}, {"--cycles", "100000", "--trace", "/dev/full"});
  EXPECT_EQ(full.status, 1);
  EXPECT_NE(full.err.find("softplc: cannot write trace file /dev/full: No space left on device (after cycle "),
            std::string::npos)
      << full.err;
  EXPECT_NE(full.out.find("\nLagIn = 102.6\n"), std::string::npos) << full.out;
  EXPECT_EQ(full.out.find("ran 100000 cycles"), std::string::npos) << full.out;

  // The report itself cannot be written.
  const int status = std::system((quoted(SOFTPLC_EXE) + " run --cycles 3 >/dev/full 2>" + quoted(path("e").string())).c_str());
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_NE(read_file(path("e")).find("softplc: cannot write the report: No space left on device"), std::string::npos);
}

}  // namespace

// softplc as a user runs it: the built program with arguments, its output and its exit status.
#include <gtest/gtest.h>

#include "softplc_process.h"
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace softplc_test;

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string trimmed(const std::string& line) {
  const auto first = line.find_first_not_of(' ');
  return first == std::string::npos ? std::string() : line.substr(first);
}

class Cli : public SoftplcProcessTest {
 protected:
  Outcome softplc(const std::vector<std::string>& args) { return invoke({}, args); }
};

const char* const kHeader =
    "time_s,LagIn,LagResetCmd,LagOut,IntRampEnable,IntRampReset,IntRampReached,IntRampOut,RealRampOut,"
    "RealRampEnable,RealRampReset,RealRampReached,ExtIn1,ExtIn6,ExtIn12,ExtOut2,ExtIn4,ExtOut3,ExtIn11,"
    "ExtIn5,ExtOut1,ExtOut5,ExtOut4,ExtIn2,ExtIn8,BlinkQ";

// The value of a column in a trace row, by the header's name.
std::string column(const std::vector<std::string>& trace, std::size_t row, const std::string& name) {
  const auto header = split(trace.at(0), ',');
  const auto values = split(trace.at(row), ',');
  for (std::size_t i = 0; i < header.size(); ++i)
    if (header[i] == name) return values.at(i);
  ADD_FAILURE() << "no column " << name;
  return {};
}

TEST_F(Cli, InfoDescribesTheModule) {
  // Without MODULE, softplc takes the module beside itself.
  for (const auto& args : {std::vector<std::string>{"info"}, std::vector<std::string>{"info", KX_MODULE_FILE}}) {
    const Outcome r = softplc(args);
    EXPECT_EQ(r.status, 0) << r.err;
    for (const char* want : {"CCodePublic", "CodeGeneratorFW Version 3.3", "3.3", "2010-07-28 15:10:27", "1193182",
                             "KX_PI_Program_Control", "896", "0x4C5080A3", "tasks:          0"}) {
      EXPECT_NE(r.out.find(want), std::string::npos) << "missing " << want << " in\n" << r.out;
    }
  }
}

TEST_F(Cli, TraceHasHeaderAndOneRowPerCycleWithTheInitialValues) {
  const Outcome r = softplc({"run", "--cycles", "3", "--period", "10ms", "--trace", path("t.csv").string()});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string text = read_file(path("t.csv"));
  EXPECT_EQ(text.find('\r'), std::string::npos);
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.back(), '\n');
  const auto trace = lines_of(text);
  ASSERT_EQ(trace.size(), 4u) << text;
  EXPECT_EQ(trace[0], kHeader);
  const char* times[] = {"0", "0.01", "0.02"};
  for (std::size_t row = 1; row <= 3; ++row) {
    EXPECT_EQ(split(trace[row], ',').size(), 26u);
    EXPECT_EQ(column(trace, row, "time_s"), times[row - 1]);
    EXPECT_EQ(column(trace, row, "LagIn"), "102.6");
    EXPECT_EQ(column(trace, row, "ExtIn4"), "12");
    EXPECT_EQ(column(trace, row, "ExtIn6"), "1");
    EXPECT_EQ(column(trace, row, "ExtIn5"), "5");
    EXPECT_EQ(column(trace, row, "IntRampEnable"), "0");   // BOOL as 0/1 in the trace
    EXPECT_EQ(column(trace, row, "ExtOut1"), "0");
  }
  // The end report lists the program variables; BOOL as TRUE/FALSE there.
  EXPECT_NE(r.out.find("ran 3 cycles"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\nLagIn = 102.6\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\nExtIn4 = 12\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\nIntRampEnable = FALSE\n"), std::string::npos) << r.out;
}

TEST_F(Cli, DurationGivesTheCyclesThatStartWithinIt) {
  const struct {
    const char* duration;
    const char* period;
    std::size_t rows;
    const char* last;
  } cases[] = {{"50ms", "10ms", 5, "0.04"}, {"45ms", "10ms", 5, "0.04"}, {"T#1s", "T#250ms", 4, "0.75"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.duration);
    const Outcome r = softplc({"run", "--duration", c.duration, "--period", c.period, "--trace", path("d.csv").string()});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto trace = lines_of(read_file(path("d.csv")));
    ASSERT_EQ(trace.size(), c.rows + 1);
    EXPECT_EQ(column(trace, c.rows, "time_s"), c.last);
  }
}

TEST_F(Cli, SetWritesVariablesBeforeTheFirstCycle) {
  // Each --set takes one value: the module named after it is the module.
  const Outcome r = softplc({"run", "--cycles", "2", "--set", "LagIn=5", KX_MODULE_FILE, "--set", "extin4=-7", "--set",
                             "ExtIn12=TRUE", "--set", "Ext1.Out1=321", "--trace", path("s.csv").string()});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto trace = lines_of(read_file(path("s.csv")));
  ASSERT_EQ(trace.size(), 3u);
  for (std::size_t row = 1; row <= 2; ++row) {
    EXPECT_EQ(column(trace, row, "LagIn"), "5");
    EXPECT_EQ(column(trace, row, "ExtIn4"), "-7");
    EXPECT_EQ(column(trace, row, "ExtIn12"), "1");
    // The program copies Ext1.Out1 into ExtOut1 in every cycle.
    EXPECT_EQ(column(trace, row, "ExtOut1"), "321");
  }
  EXPECT_NE(r.out.find("\nLagIn = 5\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\nExtIn12 = TRUE\n"), std::string::npos) << r.out;
}

TEST_F(Cli, EventsShowTheProgramAndTheExtBlockNetwork) {
  const Outcome r = softplc({"run", "--cycles", "1", "--events"});
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::string> events;
  std::vector<std::string> cycleErrors;
  bool inCycle = false;
  for (const std::string& line : lines_of(r.out)) {
    if (line == "cycle 0 t=0s") {
      inCycle = true;
    } else if (line.rfind("cycle 0: ", 0) == 0) {
      cycleErrors.push_back(line);
    } else if (line.rfind("ran ", 0) == 0) {
      break;
    } else if (inCycle) {
      events.push_back(trimmed(line));
    }
  }
  ASSERT_GE(events.size(), 5u) << r.out;
  // Each event with the line of the listing it lands on.
  EXPECT_EQ(events.front(), "enter kind 6 type 3 Program_Control offset 0 line 5");
  const std::vector<std::string> tail(events.end() - 5, events.end());
  const std::vector<std::string> want = {
      "enter kind 1 type 28 Ext_Block offset 720 Ext1 line 62",
      "enter kind 6 type 28 Ext_Block offset 720 Ext1 line 62",
      "exit Ext_Block Ext1 line 62",
      "exit Program_Control line 70",
  };
  EXPECT_EQ(std::vector<std::string>(tail.begin() + 1, tail.end()), want) << r.out;
  // Every block entered with kind 6 is left once.
  std::size_t entries = 0, exits = 0;
  for (const std::string& event : events) {
    if (event.rfind("enter kind 6 ", 0) == 0) ++entries;
    if (event.rfind("exit", 0) == 0) ++exits;
  }
  EXPECT_EQ(entries, exits) << r.out;

  // The lag filter's first call divides by a zero time step: error 140, reported after the cycle's
  // events and in the end summary.
  const bool lagFilterRuns = std::find(events.begin(), events.end(), "enter kind 6 type 4 Lag_PT1 offset 56 LagFilter line 72") != events.end();
  if (lagFilterRuns) {
    ASSERT_EQ(cycleErrors.size(), 1u) << r.out;
    EXPECT_EQ(cycleErrors[0].rfind("cycle 0: error 140 ", 0), 0u) << cycleErrors[0];
    EXPECT_NE(r.out.find("\nerror 140 (REAL division by zero) recorded in 1 cycle (first in cycle 0 at t=0s)\n"), std::string::npos) << r.out;
  }
}

TEST_F(Cli, HelpAndUsage) {
  for (const auto& args : {std::vector<std::string>{"--help"}, std::vector<std::string>{"help"}}) {
    const Outcome r = softplc(args);
    EXPECT_EQ(r.status, 0);
    for (const char* want : {"info", "run", "vars", "Exit status"}) EXPECT_NE(r.out.find(want), std::string::npos) << want;
  }
  const Outcome runHelp = softplc({"help", "run"});
  EXPECT_EQ(runHelp.status, 0);
  for (const char* want : {"--cycles", "--period", "--set", "--trace", "--events", "--realtime", "--warm", "--duration"})
    EXPECT_NE(runHelp.out.find(want), std::string::npos) << want;
  // 'help' describes the program, not the help command itself.
  const Outcome help = softplc({"help"});
  for (const char* want : {"Subcommands:", "modbus-map", "config-check", "4 a run with a limit was interrupted",
                           "5 the task watchdog (--watchdog) stopped the run"})
    EXPECT_NE(help.out.find(want), std::string::npos) << want;
  const Outcome none = softplc({});
  EXPECT_EQ(none.status, 2);
  EXPECT_NE(none.err.find("softplc: a command is needed (info, vars, run, debug, dap, test, modbus-map, config-check, help)"), std::string::npos)
      << none.err;
}

TEST_F(Cli, BadInputGetsAMessageAndANonZeroStatus) {
  const fs::path text = path("notes.txt");
  std::ofstream(text) << "not a library\n";
  const struct {
    std::vector<std::string> args;
    int status;
    std::vector<const char*> message;
  } cases[] = {
      {{"run", "--cycles", "1", "--set", "Lagin2=1"}, 2, {"unknown variable 'Lagin2'", "LagIn"}},
      {{"run", "--cycles", "1", "--set", "ExtIn4=40000"}, 2, {"ExtIn4", "out of range"}},
      {{"run", "--cycles", "1", "--set", "IntRampEnable=maybe"}, 2, {"BOOL"}},
      {{"run", "--cycles", "1", "--set", "LagIn=abc"}, 2, {"REAL"}},
      {{"run", "--cycles", "1", "--set", "LagIn"}, 2, {"NAME=VALUE"}},
      {{"run", "--cycles", "1", "--set", "IntRamp=1"}, 2, {"block instance"}},
      // Text that is no name gets no search for similar names; a long one is shown shortened.
      {{"run", "--cycles", "1", "--set", std::string(100000, 'Q') + "=1"},
       2,
       {"softplc: 'QQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQ... (100000 characters)' is not a "
        "variable name: it is longer than 255 characters\n"}},
      {{"run", "--cycles", "1", "--set", "Lag\tIn=1"}, 2, {"'Lag\\tIn' is not a variable name: it holds the character '\\t'"}},
      {{"run", "--cycles", "1", "--trace", path("t.csv").string(), "--vars", "LagOut,IntRamp."},
       2,
       {"'IntRamp.' is not a variable name: it has an empty part"}},
      {{"run", "--cycles", "1", "--set", std::string(250, 'Q') + "=1"}, 2, {"' ('softplc vars' lists the known names)"}},
      {{"run", "--cycles", "1", "--frobnicate"}, 2, {"--frobnicate"}},
      {{"run", "--cycles"}, 2, {"--cycles"}},
      {{"run", "--cycles", "0"}, 2, {"--cycles"}},
      {{"run", "--cycles", "x3"}, 2, {"--cycles"}},
      {{"run", "--cycles", "1", "--period", "10"}, 2, {"--period", "unit"}},
      {{"run", "--cycles", "1", "--period", "0ms"}, 2, {"--period"}},
      {{"run"}, 2, {"--cycles", "--duration"}},
      {{"run", "--cycles", "1", "--duration", "1s"}, 2, {"excludes"}},
      {{"frobnicate"}, 2, {"unknown command 'frobnicate'"}},
      {{"run", path("missing.so").string(), "--cycles", "1"}, 1, {"not found", "missing.so"}},
      {{"run", text.string(), "--cycles", "1"}, 1, {"cannot load module", "notes.txt"}},
      {{"info", dir_.string()}, 1, {"directory"}},
      {{"info", KX_FRAMEWORK_FILE}, 1, {"KX_fr_SimpleMain"}},
      {{"run", "--cycles", "1", "--trace", path("no/such/dir/t.csv").string()}, 1, {"trace file"}},
  };
  for (const auto& c : cases) {
    std::string joined;
    for (const auto& a : c.args) joined += a + " ";
    SCOPED_TRACE(joined);
    const Outcome r = softplc(c.args);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_EQ(r.err.find("softplc: "), 0u) << r.err;
    for (const char* want : c.message) EXPECT_NE(r.err.find(want), std::string::npos) << "missing '" << want << "' in " << r.err;
    // A refused run runs nothing.
    EXPECT_EQ(r.out.find("ran "), std::string::npos) << r.out;
  }
}

TEST_F(Cli, ModbusMapCsvReadsBackAsTheUsersMap) {
  const Outcome generated = softplc({"modbus-map", "--csv"});
  ASSERT_EQ(generated.status, 0) << generated.err;
  std::ofstream(path("map.csv"), std::ios::binary) << generated.out;
  const Outcome back = softplc({"modbus-map", "--csv", "--modbus-map", path("map.csv").string()});
  EXPECT_EQ(back.status, 0) << back.err;
  EXPECT_EQ(back.out, generated.out);
}

// Whatever is named where a file is read is looked at first: a FIFO (which nobody writes) or a
// device is refused with what it is, never waited for; as an online change's symbol file it refuses
// the change and the run goes on.
TEST_F(Cli, PipesAndDevicesAreRefusedNotWaitedFor) {
  const fs::path fifo = path("f"), next = path("n.so");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  fs::copy_file(KX_NEXT_MODULE_FILE, next);
  ASSERT_EQ(mkfifo(path("n.symbols.json").c_str(), 0600), 0);
  const std::string pipe = ": it is a named pipe (FIFO), not a regular file";
  const struct {
    std::vector<std::string> args;
    int status;
    std::string message;
  } cases[] = {
      {{"run", "--cycles", "3", "--symbols", fifo.string()}, 1, "cannot read symbol file " + fifo.string() + pipe},
      {{"info", "--symbols", "/dev/zero"}, 1, "cannot read symbol file /dev/zero: it is a device, not a regular file"},
      {{"run", "--cycles", "3", "--modbus", "15502", "--modbus-map", fifo.string()}, 1,
       "cannot read the Modbus map " + fifo.string() + pipe},
      {{"debug", "--script", fifo.string()}, 1, "cannot read the script " + fifo.string() + pipe},
      {{"info", fifo.string()}, 1, "module path is not a regular file: " + fifo.string()},
      {{"run", "--cycles", "300", "--replace-at", "100:" + next.string()}, 3,
       "refused, CCodePublic keeps running: cannot read symbol file " + path("n.symbols.json").string() + pipe},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.front() + " " + c.args.back());
    const Outcome r = invoke({}, c.args, "timeout -k 1 20");
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    // Only the refused change lets the run go on, to its end.
    EXPECT_EQ(r.out.find("ran 300 cycles") != std::string::npos, c.status == 3) << r.out;
  }
}

TEST_F(Cli, VarsListsTheSymbolTable) {
  const Outcome all = softplc({"vars"});
  EXPECT_EQ(all.status, 0);
  EXPECT_NE(all.out.find("   372  BOOL  internal   IntRamp.Clock.IN\n"), std::string::npos) << all.out;
  EXPECT_NE(all.out.find("\n    12  BOOL  input      IntRampEnable\n"), std::string::npos) << all.out;
  const Outcome some = softplc({"vars", "ext1.out"});
  EXPECT_EQ(some.status, 0);
  EXPECT_EQ(lines_of(some.out).size(), 6u) << some.out;   // the header and Out1..Out5
}

}  // namespace

namespace {

using namespace softplc_test;

class SymbolFiles : public SoftplcProcessTest {};

TEST_F(SymbolFiles, AModuleWithoutOneRunsByOffsetAndAMismatchedOneIsRefused) {
  // A copy of the module with no symbol file beside it.
  const fs::path module = path("bare.so");
  fs::copy_file(KX_MODULE_FILE, module);
  const std::string next = fs::path(KX_NEXT_MODULE_FILE).replace_extension(".symbols.json").string();
  const struct {
    std::vector<std::string> args;
    int status;
    std::vector<std::string> wanted;   // in stdout and stderr together
  } cases[] = {
      {{"run", module.string(), "--cycles", "3", "--set", "@24:BOOL=1", "--trace", path("t.csv").string(), "--vars",
        "@20:REAL"},
       0,
       {"module bare has no symbol file (" + path("bare.symbols.json").string() + " not found)", "ran 3 cycles"}},
      {{"run", module.string(), "--cycles", "1", "--set", "LagIn=5"},
       2,
       {"cannot be found by name; name variables by offset and type, e.g. @16:INT"}},
      {{"vars", module.string()}, 1, {"module bare has no symbol file"}},
      {{"info", module.string()}, 0, {"symbols:        none: module bare has no symbol file"}},
      {{"info"}, 0, {"CCodePublic.symbols.json (entry point KX_PI_Program_Control: 191 variables, 25 of them"}},
      {{"run", "--cycles", "1", "--symbols", next},
       1,
       {"symbol file " + next + " does not match module CCodePublic: it describes entry point KX_PI_Program_Control "
        "with a data area of 896 bytes, layout 0x4C5080DF, the module's has a data area of 896 bytes, layout "
        "0x4C5080A3"}},
      {{"run", "--cycles", "1", "--symbols", path("none.json").string()}, 1, {"cannot read symbol file"}},
      {{"info", "--symbols", path("none.json").string()},
       1,
       {"symbols:        none: cannot read symbol file", "softplc: cannot read symbol file"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.front() + " " + c.args.back());
    const Outcome r = invoke({}, c.args);
    EXPECT_EQ(r.status, c.status) << r.err;
    for (const std::string& want : c.wanted) EXPECT_NE((r.out + r.err).find(want), std::string::npos) << r.out << r.err;
  }
  // The REAL ramp's output, by offset, climbs by 0.01 per cycle.
  EXPECT_EQ(read_file(path("t.csv")), "time_s,20:REAL\n0,0\n0.01,0.009999312\n0.02,0.019999463\n");
}

// A name in the symbol file is identifiers joined by dots; anything else is refused with where it
// stands in the file, shown on one line, before anything runs (a name once reached gnuplot's
// script through --plot and ran a command there).
TEST_F(SymbolFiles, NamesThatAreNotIdentifiersAreRefusedWithTheirPlace) {
  const std::string good = read_file(KX_SYMBOLS_FILE);
  const struct {
    std::string was;       // a name of the module's file, as "name": "X", in JSON
    std::string name;      // what takes its place, in JSON
    std::string message;   // after "symbol file FILE is not valid: "
  } cases[] = {
      {"LagOut", R"(R\n!touch${IFS}proof\n#)",
       R"(entryPoints[0].variables[2]: "R\n!touch${IFS}proof\n#" is not a variable name: it holds the character '\n')"},
      {"LagIn", R"(Lag\rIn)",
       R"(entryPoints[0].variables[0]: "Lag\rIn" is not a variable name: it holds the character '\r')"},
      {"LagResetCmd", R"(Lag\"Reset)",
       R"(entryPoints[0].variables[1]: "Lag"Reset" is not a variable name: it holds the character '"')"},
      {"IntRampEnable", "#IntRampEnable",
       R"(entryPoints[0].variables[3]: "#IntRampEnable" is not a variable name: it holds the character '#')"},
      {"IntRampReset", R"(Int\u0000Reset)",
       R"(entryPoints[0].variables[4]: "Int\x00Reset" is not a variable name: it holds the character '\x00')"},
      {"IntRampReached", "2Reached",
       R"(entryPoints[0].variables[5]: "2Reached" is not a variable name: a part starts with a digit)"},
      {"IntRampOut", std::string(300, 'A'),
       "entryPoints[0].variables[6]: \"" + std::string(64, 'A') +
           "... (300 characters)\" is not a variable name: it is longer than 255 characters"},
      {"IntRamp.Clock", "IntRamp..Clock",
       R"(entryPoints[0].records[4]: "IntRamp..Clock" is not a record name: it has an empty part)"},
      {"TON", "T ON", R"(typeIds[7]: "T ON" is not a type name: it holds the character ' ')"},
      {"KX_PI_Program_Control", "KX_PI_Program_Control.", R"(entryPoints[0]: "KX_PI_Program_Control." is not an )"
                                                            R"(entry point name: it has an empty part)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.was);
    std::string text = good;
    const std::string was = "\"name\": \"" + c.was + "\",";
    const auto at = text.find(was);
    ASSERT_NE(at, std::string::npos);
    text.replace(at, was.size(), "\"name\": \"" + c.name + "\",");
    const fs::path file = path("bad.symbols.json");
    std::ofstream(file, std::ios::binary) << text;
    // In the scratch folder, where a command that gnuplot ran would leave its file.
    const Outcome r = invoke({"run"}, {"--cycles", "1", "--symbols", file.string(), "--plot", path("p.png").string()},
                             "cd " + quoted(dir_.string()) + " &&");
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("softplc: symbol file " + file.string() + " is not valid: " + c.message), std::string::npos)
        << r.err;
    EXPECT_EQ(r.out.find("ran "), std::string::npos) << r.out;
    EXPECT_FALSE(fs::exists(path("proof")));
  }
}

TEST_F(SymbolFiles, AnOnlineChangeTakesTheNewModulesNamesAndSaysWhichItLacks) {
  // The online-change variant beside a symbol file that lacks BlinkQ.
  const fs::path next = path("next.so");
  fs::copy_file(KX_NEXT_MODULE_FILE, next);
  std::string text = read_file(fs::path(KX_NEXT_MODULE_FILE).replace_extension(".symbols.json"));
  const auto at = text.find("{\"name\": \"BlinkQ\"");
  ASSERT_NE(at, std::string::npos);
  text.erase(at, text.find('\n', at) + 1 - at);
  std::ofstream(path("next.symbols.json"), std::ios::binary) << text;

  const Outcome r = invoke({"run"}, {"--cycles", "150", "--replace-at", "100:" + next.string(), "--trace",
                                     path("c.csv").string()});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("before cycle 100: online change from CCodePublic (layout 0x4C5080A3) to next (layout "
                       "0x4C5080DF, 2010-07-28 15:11:27), 25 references mapped\n  next has no variable BlinkQ of the "
                       "same type: it is no longer read\n"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(r.out.find("\nBlinkQ = "), std::string::npos) << r.out;
  // BlinkQ's column (the last) is empty from the change on.
  const std::string trace = read_file(path("c.csv"));
  std::istringstream lines(trace);
  std::string line;
  for (int row = 0; std::getline(lines, line); ++row) {
    if (row == 0) continue;
    EXPECT_EQ(line.back() == ',', row > 100) << "row " << row << ": " << line;
  }
}

}  // namespace

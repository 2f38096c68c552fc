// softplc debug as a person uses it: a script of commands through the built program, checked by
// the lines the session prints. Expected stops, offsets and type identifiers are those of the
// application's data layout and of the INT ramp's step table.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Session {
  int status = -1;
  std::vector<std::string> lines;

  // The lines that a command printed: those after its echo, up to the next prompt.
  std::vector<std::string> answer(const std::string& command, int occurrence = 1) const {
    std::vector<std::string> result;
    bool inside = false;
    for (const std::string& line : lines) {
      if (line.rfind("(softplc) ", 0) == 0) {
        if (inside) break;
        inside = line == "(softplc) " + command && --occurrence == 0;
        continue;
      }
      if (inside) result.push_back(line);
    }
    return result;
  }

  std::vector<std::string> starting_with(const std::string& prefix) const {
    std::vector<std::string> result;
    for (const std::string& line : lines)
      if (line.rfind(prefix, 0) == 0) result.push_back(line);
    return result;
  }
};

// Runs `softplc debug ARGS --script FILE` with the commands written to FILE.
Session debug(const std::vector<std::string>& commands, const std::vector<std::string>& args = {}) {
  const fs::path dir = fs::temp_directory_path() / ("softplc_debugger_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  {
    std::ofstream script(dir / "script");
    for (const std::string& command : commands) script << command << "\n";
  }
  std::string line = std::string("'") + SOFTPLC_EXE + "' debug";
  for (const std::string& arg : args) line += " '" + arg + "'";
  line += " --script '" + (dir / "script").string() + "' >'" + (dir / "out").string() + "' 2>&1 </dev/null";
  Session session;
  const int raw = std::system(line.c_str());
  session.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  std::ifstream out(dir / "out");
  for (std::string text; std::getline(out, text);) session.lines.push_back(text);
  fs::remove_all(dir);
  return session;
}

using Lines = std::vector<std::string>;

// The REAL after " = " in a print answer.
double printed_real(const Lines& answer) {
  EXPECT_EQ(answer.size(), 1u);
  if (answer.empty()) return NAN;
  const auto equals = answer[0].find(" = ");
  return equals == std::string::npos ? NAN : std::atof(answer[0].c_str() + equals + 3);
}

TEST(Debugger, BreakpointOnRampIntStopsAtItsEntryAndStepWalksTheStepTable) {
  std::vector<std::string> commands = {"break Ramp_Int", "continue", "where"};
  // Every operation of the body gives three stops (kind 1, kind 6, exit); 27 operations, then the
  // body's own exit.
  for (int i = 0; i < 27 * 3 + 1; ++i) commands.push_back("step");
  const Session s = debug(commands);
  ASSERT_EQ(s.status, 0);

  EXPECT_EQ(s.answer("break Ramp_Int"), Lines({"breakpoint 1: Ramp_Int, the entry of every Ramp_Int block (type 14)"}));
  // Each stop with its line of the listing: the block's entry is its first line.
  EXPECT_EQ(s.answer("continue"),
            Lines({"breakpoint 1: Ramp_Int", "stopped: cycle 0, enter(6) 14 Ramp_Int at IntRamp (260)",
                   "  Ramp_Int IntRamp, line 143: FUNCTION_BLOCK Ramp_Int"}));
  EXPECT_EQ(s.answer("where"), Lines({"#0  14 Ramp_Int at IntRamp (260), line 143",
                                      "#1  3 Program_Control at offset 0, line 49"}));

  const Lines stops = s.starting_with("stopped: ");
  ASSERT_EQ(stops.size(), 1u + 27 * 3 + 1);
  // The first operations exactly, with their hook fields.
  const Lines first = {
      "stopped: cycle 0, enter(1) 20 INT_TO_REAL at IntRamp.StartReal (412)",
      "stopped: cycle 0, enter(6) 20 INT_TO_REAL at IntRamp.StartReal (412)",
      "stopped: cycle 0, exit 20 INT_TO_REAL at IntRamp.StartReal (412)",
      "stopped: cycle 0, enter(1) 23 LT_INT at IntRamp.StartLtTarget (438)",
      "stopped: cycle 0, enter(6) 23 LT_INT at IntRamp.StartLtTarget (438)",
      "stopped: cycle 0, exit 23 LT_INT at IntRamp.StartLtTarget (438)",
      "stopped: cycle 0, enter(1) 18 AND_BOOL at IntRamp.UpActive (348)",
      "stopped: cycle 0, enter(6) 18 AND_BOOL at IntRamp.UpActive (348)",
      "stopped: cycle 0, exit 18 AND_BOOL at IntRamp.UpActive (348)",
      "stopped: cycle 0, enter(1) 19 GT_INT at IntRamp.StartGtTarget (368)",
      "stopped: cycle 0, enter(6) 19 GT_INT at IntRamp.StartGtTarget (368)",
      "stopped: cycle 0, exit 19 GT_INT at IntRamp.StartGtTarget (368)",
      "stopped: cycle 0, enter(1) 18 AND_BOOL at IntRamp.DownActive (429)",
      "stopped: cycle 0, enter(6) 18 AND_BOOL at IntRamp.DownActive (429)",
      "stopped: cycle 0, exit 18 AND_BOOL at IntRamp.DownActive (429)",
      "stopped: cycle 0, enter(1) 10 TON at IntRamp.Clock (372)",
      "stopped: cycle 0, enter(6) 10 TON at IntRamp.Clock (372)",
      "stopped: cycle 0, exit 10 TON at IntRamp.Clock (372)",
  };
  EXPECT_EQ(Lines(stops.begin() + 1, stops.begin() + 1 + first.size()), first);

  // The type identifiers of all 27 operations in the table's order; each reported as kind 1,
  // kind 6 and exit.
  const std::vector<int> table = {20, 23, 18, 19, 18, 10, 22, 20, 7, 5, 17, 18, 20, 17,
                                  9,  9,  7,  11, 12, 16, 8,  21, 16, 8, 8,  8,  15};
  for (std::size_t op = 0; op < table.size(); ++op) {
    const std::string id = " " + std::to_string(table[op]) + " ";
    for (int k = 0; k < 3; ++k) {
      const std::string& stop = stops[1 + 3 * op + k];
      const char* kind = k == 0 ? "enter(1)" : k == 1 ? "enter(6)" : "exit";
      EXPECT_NE(stop.find(std::string(", ") + kind + id), std::string::npos) << "operation " << op + 2 << ": " << stop;
    }
  }
  EXPECT_EQ(stops.back(), "stopped: cycle 0, exit 14 Ramp_Int at IntRamp (260)");
}

TEST(Debugger, WhereFinishAndNextFollowTheBlockDepth) {
  const Session s = debug({"break typeid 14", "continue", "next", "where", "step", "step", "where", "finish", "where",
                           "finish", "where", "finish", "where"});
  ASSERT_EQ(s.status, 0);
  // typeid stops at the call site's kind-1 event too; next steps over the whole body.
  EXPECT_EQ(s.answer("continue"),
            Lines({"breakpoint 1: typeid 14", "stopped: cycle 0, enter(1) 14 Ramp_Int at IntRamp (260)",
                   "  Program_Control, line 49: IntRamp(Enable := IntRampEnable, Start := 0, Target := 100, "
                   "Reset := IntRampReset, Step := 1, Period := T#1s);"}));
  EXPECT_EQ(s.answer("next"), Lines({"breakpoint 1: typeid 14", "stopped: cycle 0, enter(6) 14 Ramp_Int at IntRamp (260)",
                                     "  Ramp_Int IntRamp, line 143: FUNCTION_BLOCK Ramp_Int"}));
  EXPECT_EQ(s.answer("where", 1).size(), 2u);
  // Inside the first operation: three deep, the operation on top; each frame at the line it runs,
  // the program at its call of the ramp.
  EXPECT_EQ(s.answer("where", 2), Lines({"#0  20 INT_TO_REAL at IntRamp.StartReal (412), line 192",
                                         "#1  14 Ramp_Int at IntRamp (260), line 192",
                                         "#2  3 Program_Control at offset 0, line 49"}));
  EXPECT_EQ(s.answer("finish", 1), Lines({"stopped: cycle 0, exit 20 INT_TO_REAL at IntRamp.StartReal (412)",
                                          "  Ramp_Int IntRamp, line 192: StartReal := INT_TO_REAL(Start);"}));
  EXPECT_EQ(s.answer("where", 3).size(), 2u);
  // A block's exit is its last line.
  EXPECT_EQ(s.answer("finish", 2), Lines({"breakpoint 1: typeid 14", "stopped: cycle 0, exit 14 Ramp_Int at IntRamp (260)",
                                          "  Ramp_Int IntRamp, line 224: END_FUNCTION_BLOCK"}));
  EXPECT_EQ(s.answer("where", 4), Lines({"#0  3 Program_Control at offset 0, line 49"}));
  EXPECT_EQ(s.answer("finish", 3), Lines({"stopped: cycle 0, exit 3 Program_Control at offset 0",
                                          "  Program_Control, line 70: END_PROGRAM"}));
  EXPECT_EQ(s.answer("where", 5), Lines({"no block is open"}));
}

TEST(Debugger, RampPositionChangesBetweenTheAddAndTheLastSelect) {
  // Enabled from the start: cycle 0 covers no distance, each later cycle 0.01 (1 unit per second,
  // 10 ms cycles); the position is copied after the last SEL, before REAL_TO_INT.
  const Session s = debug({"cycle 5", "break IntRamp.UpCandidate", "break IntRamp.IntValue", "continue",
                           "print IntRamp.Value", "watch IntRamp.Value", "continue", "print IntRamp.Value"},
                          {"--set", "IntRampEnable=TRUE"});
  ASSERT_EQ(s.status, 0);
  EXPECT_EQ(s.answer("cycle 5"), Lines({"end of cycle 4 (t=0.04s)"}));
  EXPECT_EQ(s.answer("continue", 1),
            Lines({"breakpoint 1: IntRamp.UpCandidate", "stopped: cycle 5, enter(6) 12 ADD_REAL at IntRamp.UpCandidate (444)",
                   "  Ramp_Int IntRamp, line 213: UpCandidate := ADD(Value, Increment);"}));
  const double before = printed_real(s.answer("print IntRamp.Value", 1));
  const double after = printed_real(s.answer("print IntRamp.Value", 2));
  EXPECT_NEAR(before, 0.04, 1e-4);
  EXPECT_NEAR(after, 0.05, 1e-4);

  const Lines resumed = s.answer("continue", 2);
  ASSERT_EQ(resumed.size(), 4u);
  EXPECT_EQ(resumed[0].rfind("watch IntRamp.Value: ", 0), 0u) << resumed[0];
  EXPECT_NE(resumed[0].find("(cycle 5, seen at enter(1) 15 REAL_TO_INT at IntRamp.IntValue (296))"), std::string::npos)
      << resumed[0];
  EXPECT_EQ(resumed[2], "stopped: cycle 5, enter(6) 15 REAL_TO_INT at IntRamp.IntValue (296)");
  EXPECT_EQ(resumed[3], "  Ramp_Int IntRamp, line 222: IntValue := REAL_TO_INT(NewValue);");
}

TEST(Debugger, SetBetweenCyclesAndAccessByOffset) {
  const Session s = debug({"cycle", "print LagFilter.In", "set LagIn 5", "cycle", "print LagFilter.In",
                           "set 284:BOOL TRUE", "print IntRamp.Reached", "cycle", "print 14:BOOL", "quit"});
  ASSERT_EQ(s.status, 0);
  EXPECT_EQ(s.answer("print LagFilter.In", 1), Lines({"LagFilter.In = 102.6"}));
  EXPECT_EQ(s.answer("set LagIn 5"), Lines({"LagIn = 5"}));
  EXPECT_EQ(s.answer("print LagFilter.In", 2), Lines({"LagFilter.In = 5"}));
  EXPECT_EQ(s.answer("print IntRamp.Reached"), Lines({"IntRamp.Reached = TRUE"}));
  // The next cycle computes Reached again and copies it into the program's IntRampReached (14).
  EXPECT_EQ(s.answer("print 14:BOOL"), Lines({"14:BOOL (IntRampReached) = FALSE"}));
  EXPECT_EQ(s.lines.back(), "debugger ends after 3 cycles");
}

TEST(Debugger, BadInputGetsAMessageAndTheSessionGoesOn) {
  const Session s = debug({"stpe", "print IntRamp.Vlaue", "set IntRamp.Step 70000", "set LagIn", "print 900:BOOL",
                           "break Ramp_In", "break typeid 99", "delete 7", "finish", "where", "continue", "cycle 0",
                           "print IntRamp.Step", "print " + std::string(100000, 'Q'), "break " + std::string(250, 'Q'),
                           "expect LagIn = 102.6 +- -1"});
  // A session whose commands failed fails: a script serves as a check.
  ASSERT_EQ(s.status, 1);
  EXPECT_EQ(s.answer("stpe"), Lines({"unknown command 'stpe'; did you mean 'step'? ('help' lists the commands)"}));
  EXPECT_EQ(s.answer("print IntRamp.Vlaue"), Lines({"unknown variable 'IntRamp.Vlaue'; did you mean IntRamp.Value, IntRamp.Rate or IntRamp.Enable?"}));
  EXPECT_EQ(s.answer("set IntRamp.Step 70000"),
            Lines({"IntRamp.Step: INT value '70000' is out of range (-32768 to 32767)"}));
  EXPECT_EQ(s.answer("set LagIn"), Lines({"usage: set NAME|OFFSET:TYPE VALUE"}));
  EXPECT_EQ(s.answer("print 900:BOOL"),
            Lines({"cannot read 900:BOOL (offset 900, 1 bytes): the offset is not inside the data area (status 33)"}));
  EXPECT_EQ(s.answer("break Ramp_In"), Lines({"no block, instance or variable named 'Ramp_In'; did you mean Ramp_Int? "
                                              "('softplc vars' lists the variables)"}));
  EXPECT_EQ(s.answer("break typeid 99").size(), 1u);
  EXPECT_EQ(s.answer("delete 7"), Lines({"no breakpoint 7 ('breakpoints' shows them)"}));
  EXPECT_EQ(s.answer("finish"), Lines({"no block is running; 'step' starts the next cycle"}));
  EXPECT_EQ(s.answer("where"), Lines({"no cycle is running; cycle 0 is next"}));
  EXPECT_EQ(s.answer("cycle 0"), Lines({"usage: cycle [N], N a whole number of at least 1"}));
  // Nothing ran, and the initial value is still there; the end of the script quits.
  EXPECT_EQ(s.answer("print IntRamp.Step"), Lines({"IntRamp.Step = 10"}));
  // Text that is no name, or a name longer than any known one, gets no search for similar names.
  EXPECT_EQ(s.answer("print " + std::string(100000, 'Q')),
            Lines({"'" + std::string(64, 'Q') + "... (100000 characters)' is not a variable name: it is longer than "
                   "255 characters"}));
  EXPECT_EQ(s.answer("break " + std::string(250, 'Q')),
            Lines({"no block, instance or variable named '" + std::string(250, 'Q') +
                   "' ('softplc vars' lists the variables)"}));
  EXPECT_EQ(s.answer("expect LagIn = 102.6 +- -1"), Lines({"LagIn: the tolerance -1 must be 0 or more"}));
  EXPECT_EQ(Lines(s.lines.end() - 2, s.lines.end()),
            Lines({"debugger ends after 0 cycles", "softplc: 14 commands of the session failed"}));
}

TEST(Debugger, WithEventsOffNoBreakpointFires) {
  const Session s = debug({"break Ramp_Int", "events off", "continue", "step", "local on", "step", "where",
                           "local off", "quit"});
  ASSERT_EQ(s.status, 1);   // the refused 'continue'

  EXPECT_EQ(s.answer("continue"),
            Lines({"events are off: the module makes no hook calls, so no breakpoint can fire; 'events on' first"}));
  // The lag filter's division by a zero elapsed time records error 140 in the first cycle.
  const Lines ran = s.answer("step");
  ASSERT_EQ(ran.size(), 3u);
  EXPECT_EQ(Lines(ran.begin(), ran.begin() + 2), Lines({"events are off: the cycle runs to its end", "end of cycle 0 (t=0s)"}));
  EXPECT_EQ(ran[2].rfind("cycle 0: error 140 (", 0), 0u) << ran[2];
  // The entry point's own switch brings the events back whatever the global one is.
  EXPECT_EQ(s.answer("step", 2), Lines({"stopped: cycle 1, enter(6) 3 Program_Control at offset 0",
                                        "  Program_Control, line 5: PROGRAM Program_Control"}));
  EXPECT_EQ(s.answer("where"), Lines({"#0  3 Program_Control at offset 0, line 5"}));
  // Quitting inside a cycle lets the cycle run out.
  EXPECT_EQ(s.lines.end()[-2], "debugger ends after 2 cycles");
}

}  // namespace

namespace {

TEST(Debugger, ScriptsCheckValuesAndStopOnChangesNotOnBreakpointsThatCannotFire) {
  const Session s = debug({"break LagIn", "break BlinkQ", "break LagFilter.Quotient", "print", "print IntRamp.Period",
                           "watch IntRampOut stop", "continue", "expect IntRampOut = 1",
                           "expect IntRamp.Value = 0.51 +- 0.001", "expect LagIn = 7", "step 5", "where"},
                          {"--set", "IntRampEnable=TRUE"});
  EXPECT_EQ(s.status, 1);   // the refused breakpoints and the failed expect
  EXPECT_EQ(s.answer("break LagIn"),
            Lines({"a breakpoint on LagIn could never fire: nothing in the module writes it (the program only reads "
                   "it); 'watch LagIn stop' stops when it changes"}));
  EXPECT_EQ(s.answer("break BlinkQ"),
            Lines({"a breakpoint on BlinkQ could never fire: no operation's debug events report it (only a plain "
                   "assignment writes it); 'watch BlinkQ stop' stops when it changes"}));
  EXPECT_NE(s.answer("break LagFilter.Quotient").at(0).find("reports LagFilter.QuotientENO: 'break LagFilter.QuotientENO'"),
            std::string::npos);
  const Lines all = s.answer("print");
  ASSERT_EQ(all.size(), 25u);
  EXPECT_EQ(all.front(), "LagIn = 102.6");
  EXPECT_EQ(all.back(), "BlinkQ = FALSE");
  EXPECT_EQ(s.answer("print IntRamp.Period"), Lines({"IntRamp.Period = T#1s"}));   // TIME as an IEC literal
  // The INT output reaches 1 when the position passes half a unit, in cycle 51; the session stops
  // at the first event after the network has copied it.
  EXPECT_EQ(s.answer("continue"), Lines({"watch IntRampOut: 0 -> 1 (cycle 51, seen at enter(1) 24 Ramp_Real at "
                                         "RealRamp (448))",
                                         "stopped: cycle 51, enter(1) 24 Ramp_Real at RealRamp (448)",
                                         "  Program_Control, line 54: RealRamp(Enable := RealRampEnable, Start := 0.0, "
                                         "Target := 100.0, Reset := RealRampReset, Step := 1.0, Period := T#1s);"}));
  EXPECT_EQ(s.answer("expect IntRampOut = 1"), Lines({"expect holds: IntRampOut = 1"}));
  EXPECT_EQ(s.answer("expect IntRamp.Value = 0.51 +- 0.001").at(0).rfind("expect holds: IntRamp.Value = 0.50999", 0), 0u);
  EXPECT_EQ(s.answer("expect LagIn = 7"), Lines({"expect failed: LagIn = 102.6, expected 7"}));
  // Five events on: the REAL ramp's entry and its first operations.
  EXPECT_EQ(s.answer("step 5"), Lines({"stopped: cycle 51, enter(1) 18 AND_BOOL at RealRamp.UpActive (532)",
                                       "  Ramp_Real RealRamp, line 270: UpActive := Enable AND StartLtTarget;"}));
  EXPECT_EQ(s.lines.back(), "softplc: 4 commands of the session failed");
}

}  // namespace

namespace {

TEST(Debugger, ChangeReplacesTheModuleBetweenCyclesAndKeepsItsValues) {
  const std::string next = KX_NEXT_MODULE_FILE;
  const Session s = debug({"cycle 10", "watch RealRampOut", "step", "change " + next, "finish", "quit"},
                          {"--set", "RealRampEnable=TRUE"});
  // A cycle held at an event cannot be changed.
  EXPECT_EQ(s.answer("change " + next), Lines({"a cycle is held here; an online change comes between two cycles: "
                                               "'cycle' first"}));
  const Session t = debug({"cycle 10", "change " + next, "cycle 10", "expect RealRampOut = 0.19 +- 0.0005"},
                          {"--set", "RealRampEnable=TRUE"});
  EXPECT_EQ(t.status, 0);
  const Lines changed = t.answer("change " + next);
  ASSERT_EQ(changed.size(), 1u);
  EXPECT_EQ(changed[0].rfind("before cycle 10: online change from CCodePublic (layout 0x4C5080A3) to CCodePublic_next", 0),
            0u)
      << changed[0];
  EXPECT_EQ(t.answer("expect RealRampOut = 0.19 +- 0.0005").at(0).rfind("expect holds", 0), 0u);
}

}  // namespace

namespace {

// The listing's line numbers (build/.../CCodePublic.st): Ramp_Real's UpLimited at 288, in lines 226
// to 296; the program's copy of LagFilter.Out at 47 between the calls at 46 and 49.
TEST(Debugger, BreakOnALineOfTheListingStopsAtItsStatementAndListShowsIt) {
  const Session s = debug({"break Ramp_Real:288", "break 192", "continue", "list", "delete 2", "continue",
                           "breakpoints", "break 47", "break 80", "break 357", "break 400", "break Ramp_Int:288",
                           "break IntRamp:288", "list Ext_Blok"});
  EXPECT_EQ(s.status, 1);   // the refusals
  EXPECT_EQ(s.answer("break Ramp_Real:288"),
            Lines({"breakpoint 1: line 288 of Ramp_Real, in every instance (RealRamp): "
                   "UpLimited := LIMIT(Start, UpCandidate, Target);"}));
  // The first statement of Ramp_Int comes first; the stop prints it.
  EXPECT_EQ(s.answer("continue", 1), Lines({"breakpoint 2: line 192",
                                            "stopped: cycle 0, enter(1) 20 INT_TO_REAL at IntRamp.StartReal (412)",
                                            "  Ramp_Int IntRamp, line 192: StartReal := INT_TO_REAL(Start);"}));
  const Lines listed = s.answer("list");
  ASSERT_EQ(listed.size(), 11u);
  EXPECT_EQ(listed[0], "   187      AbsStep       : INT;");
  EXPECT_EQ(listed[5], "=> 192      StartReal := INT_TO_REAL(Start);");
  EXPECT_EQ(listed[10], "   197      Clock(IN := Enable, PT := T#36500d);");
  EXPECT_EQ(s.answer("continue", 2),
            Lines({"breakpoint 1: Ramp_Real:288", "stopped: cycle 0, enter(1) 16 LIMIT_REAL at RealRamp.UpLimited (496)",
                   "  Ramp_Real RealRamp, line 288: UpLimited := LIMIT(Start, UpCandidate, Target);"}));
  EXPECT_EQ(s.answer("breakpoints"),
            Lines({"1  line 288 of Ramp_Real, in every instance (RealRamp): UpLimited := LIMIT(Start, UpCandidate, "
                   "Target);  [1 hit]"}));
  // Lines without a debug event, with the reason.
  const std::pair<const char*, const char*> refused[] = {
      {"break 47", "line 47 is a plain copy: it reports no debug event; the nearest lines that do are 46 and 49"},
      {"break 80", "line 80 is a declaration: it reports no debug event; the nearest lines that do are 72 and 119"},
      {"break 357", "line 357 is a comment: it reports no debug event; Ext_Block's body reports none, its calls do "
                    "(line 62)"},
      {"break 400", "line 400 is not in the listing CCodePublic.st (lines 1 to 358)"},
      {"break Ramp_Int:288", "line 288 is in Ramp_Real (lines 226 to 296), not in Ramp_Int (lines 143 to 224)"},
      {"break IntRamp:288", "IntRamp is a Ramp_Int; line 288 is in Ramp_Real (lines 226 to 296)"},
      {"list Ext_Blok", "no block or instance named 'Ext_Blok' in the listing; did you mean Ext_Block?"},
  };
  for (const auto& [command, answer] : refused) EXPECT_EQ(s.answer(command), Lines({answer}));
}

TEST(Debugger, ABreakpointWithAConditionStopsOnlyWhereItHolds) {
  // Line 220 runs once a cycle; IntRamp.Value grows by about 0.01 a cycle from cycle 1 on.
  const Session s = debug({"break 220 if Value > 0.05", "continue", "print IntRamp.Value", "breakpoints",
                           "break 220 if", "break 220 if Value +", "break 220 if Value"},
                          {"--set", "IntRampEnable=TRUE"});
  EXPECT_EQ(s.answer("continue"),
            Lines({"breakpoint 1: line 220", "stopped: cycle 7, enter(1) 8 SEL_REAL at IntRamp.NewValue (336)",
                   "  Ramp_Int IntRamp, line 220: NewValue := SEL(Reset, JumpSel, StartReal);"}));
  const double value = printed_real(s.answer("print IntRamp.Value"));
  EXPECT_GT(value, 0.05);
  EXPECT_LT(value, 0.061);
  EXPECT_EQ(s.answer("breakpoints").at(0).find("1  line 220 of Ramp_Int, in every instance (IntRamp): NewValue := "
                                               "SEL(Reset, JumpSel, StartReal); if Value > 0.05"),
            0u);
  EXPECT_EQ(s.answer("break 220 if").at(0).rfind("usage: break ", 0), 0u);
  EXPECT_NE(s.answer("break 220 if Value +").at(0).find("the condition Value +: "), std::string::npos);
  EXPECT_EQ(s.answer("break 220 if Value"),
            Lines({"the condition Value is REAL, not BOOL: compare it (Value > 0)"}));
}

}  // namespace

// The debugger session's inside: the text prompt, a front end of the program under the debugger
// (debuggee.h), shared by its stops and prompt (session.cpp) and its commands (commands.cpp,
// listing_commands.cpp).
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "softplc/debug/debuggee.h"
#include "softplc/debug/model.h"
#include "softplc/debug/session.h"
#include "softplc/symbols/place.h"
#include "softplc/util/values.h"

namespace softplc {

enum class Flow { Stay, Resume };

class Session;

// One command: its name and alias, its usage and help, how many arguments it takes, and what it
// does. A call with another number of arguments gets the usage and does nothing.
struct Command {
  std::string_view name;
  std::string_view alias;
  std::string_view usage;
  std::string_view help;
  std::size_t minArgs;
  std::size_t maxArgs;
  Flow (Session::*handler)(const std::vector<std::string>& args);
};

class Session : public DebugFront {
 public:
  Session(Run& run, const DebugOptions& options, std::istream& in, std::ostream& out);
  ~Session() override = default;
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  Status run();
  uint64_t failed_commands() const { return failed_; }

  // The program is held: says where and why, and reads commands until one resumes it.
  void stopped(const Stop& stop) override;
  void watch_changed(const Watch& watch, const Encoded& before, const std::string& where) override;
  void watch_ended(const Watch& watch) override;

  static std::span<const Command> commands();

  // The commands (commands.cpp).
  Flow cmd_break(const std::vector<std::string>& args);
  Flow cmd_delete(const std::vector<std::string>& args);
  Flow cmd_list(const std::vector<std::string>& args);
  Flow cmd_breakpoints(const std::vector<std::string>& args);
  Flow cmd_info(const std::vector<std::string>& args);
  Flow cmd_step(const std::vector<std::string>& args);
  Flow cmd_next(const std::vector<std::string>& args);
  Flow cmd_finish(const std::vector<std::string>& args);
  Flow cmd_continue(const std::vector<std::string>& args);
  Flow cmd_cycle(const std::vector<std::string>& args);
  Flow cmd_where(const std::vector<std::string>& args);
  Flow cmd_print(const std::vector<std::string>& args);
  Flow cmd_set(const std::vector<std::string>& args);
  Flow cmd_watch(const std::vector<std::string>& args);
  Flow cmd_unwatch(const std::vector<std::string>& args);
  Flow cmd_expect(const std::vector<std::string>& args);
  Flow cmd_events(const std::vector<std::string>& args);
  Flow cmd_local(const std::vector<std::string>& args);
  Flow cmd_change(const std::vector<std::string>& args);
  Flow cmd_help(const std::vector<std::string>& args);
  Flow cmd_quit(const std::vector<std::string>& args);

 private:
  // "Ramp_Int IntRamp, line 192: StartReal := INT_TO_REAL(Start);" for the statement of an event
  // (`line` of the statement `source` or of its exit).
  std::string source_line(const SourceLocation& source, uint32_t line) const;
  // The listing with its text, or null after saying why there is none.
  const Listing* listing_text();
  void show_lines(const Listing& listing, uint32_t first, uint32_t last);

  // Reads and runs commands until one resumes the program (or the input ends: quit).
  void prompt();
  Flow execute(const std::string& line);

  Plc& plc() { return engine_.plc(); }
  const Symbols* symbols() { return engine_.plc().symbols(); }
  bool hooks_on() { return target_.hooks_on(); }
  Result<std::string> read_text(const Variable& variable);
  Result<Variable> variable(std::string_view text) { return plc().variable(text); }
  // "284:BOOL (IntRamp.Reached)" for an offset that a known variable of that type starts at.
  std::string shown_name(const Variable& variable);
  void message(const std::string& text) { out_ << text << "\n"; }
  // A command that could not do what it was asked: the message, and the session counts a failure.
  Flow refuse(const std::string& text);

  const DebugOptions& options_;
  std::istream& in_;
  std::ostream& out_;
  Debuggee target_;
  // The debuggee's state, as the commands name it.
  Engine& engine_ = target_.engine();
  Stepper& stepper_ = target_.stepper();
  const CallStack& stack_ = target_.stack();
  Breakpoints& breakpoints_ = target_.breakpoints();
  std::vector<Watch>& watches_ = target_.watches();
  // `change` tells of the change before the watches it ends: their notes wait here meanwhile.
  bool changing_ = false;
  std::vector<std::string> changeNotes_;
  uint64_t failed_ = 0;
};

std::vector<std::string> words_of(const std::string& line);

}  // namespace softplc

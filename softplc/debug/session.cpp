#include "softplc/debug/session.h"

#include <cstdio>
#include <sstream>

#include "kxrt.h"
#include "softplc/debug/session_impl.h"
#include "softplc/engine/interrupt.h"
#include "softplc/observe/error_tally.h"
#include "softplc/symbols/names.h"
#include "softplc/symbols/variable_spec.h"
#include "softplc/util/text.h"

namespace softplc {

namespace {

constexpr const char* kPrompt = "(softplc) ";

}  // namespace

std::vector<std::string> words_of(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

Session::Session(Run& run, const DebugOptions& options, std::istream& in, std::ostream& out)
    : options_(options), in_(in), out_(out), target_(run, *this) {}

Status Session::run() {
  // A signal also ends the wait for a line at the prompt: this guard is the first, so the run's own
  // (taken as it starts) keeps that.
  InterruptGuard interruptions(/*endBlockingReads=*/true);
  if (auto status = target_.start(); !status) return status;
  if (symbols() == nullptr) {
    message("note: " + plc().symbols_note() + "; name variables by offset and type, e.g. print @16:INT");
  }
  message(std::string("initialised (") + (target_.owner().plan().startMode == 1 ? "warm" : "cold") +
          " start), events on; cycle 0 is next, at t=0s, every " + format_seconds(engine_.options().period_ns()) +
          "s on the simulated clock" + (engine_.options().paced ? ", in pace with real time" : ""));
  message("type 'help' for the commands");
  if (auto status = target_.run(); !status) return status;
  message("debugger ends after " + plural(target_.cycle(), "cycle", "cycles"));
  return ok_status();
}

void Session::stopped(const Stop& stop) {
  if (stop.atEvent) {
    if (stop.breakpoint != nullptr) {
      message("breakpoint " + std::to_string(stop.breakpoint->number) + ": " + stop.breakpoint->label());
    } else if (stop.interrupted) {
      message("interrupted");
    }
    message("stopped: cycle " + std::to_string(stop.cycle) + ", " + event_text(stop.kind, stop.place));
    if (stop.frame.source != nullptr) message(source_line(*stop.frame.source, stop.frame.line));
  } else {
    if (stop.interrupted) message("interrupted");
    if (const auto& ended = stop.ended) {
      message("end of cycle " + std::to_string(ended->cycle) + " (t=" + format_seconds(ended->timeNs) + "s)");
      if (ended->errors != 0) {
        message("cycle " + std::to_string(ended->cycle) + ": error " + std::to_string(ended->firstError) + " (" +
                std::to_string(ended->errors) + " recorded)");
      }
    }
  }
  prompt();
}

void Session::watch_changed(const Watch& watch, const Encoded& before, const std::string& where) {
  message("watch " + shown_name(watch.variable) + ": " +
          format_for_people(watch.variable.type, before.view(), plc().ticks_per_second()) + " -> " +
          format_for_people(watch.variable.type, watch.value.view(), plc().ticks_per_second()) + " (" + where + ")");
}

void Session::watch_ended(const Watch& watch) {
  const std::string note =
      "no longer watching " + watch.variable.name + ": " + plc().module().name() + " has no such variable";
  if (changing_) {
    changeNotes_.push_back(note);
  } else {
    message(note);
  }
}

void Session::prompt() {
  stepper_.idle();
  for (;;) {
    // SIGTERM or SIGHUP ends the session; Ctrl-C only stops what runs.
    if (ending_signal()) {
      message(std::string("interrupted by ") + interrupting_signal() + ": the session ends");
      cmd_quit({});
      return;
    }
    out_ << kPrompt << std::flush;
    std::string line;
    if (!std::getline(in_, line)) {
      if (interrupted()) {   // the wait for a line was cut short: a new prompt
        in_.clear();
        std::clearerr(stdin);
        clear_interruption();
        out_ << "\n";
        continue;
      }
      out_ << "\n";
      cmd_quit({});
      return;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (options_.echo) out_ << line << "\n";
    if (execute(line) == Flow::Resume) {
      clear_interruption();
      // A clock kept in pace goes on from now, not with the cycles the stop held back.
      engine_.restart_pace();
      return;
    }
  }
}

Flow Session::execute(const std::string& line) {
  const std::vector<std::string> words = words_of(line);
  if (words.empty() || words[0][0] == '#') return Flow::Stay;
  const std::vector<std::string> args(words.begin() + 1, words.end());
  for (const Command& command : commands()) {
    if (!same_name(words[0], command.name) && (command.alias.empty() || !same_name(words[0], command.alias))) continue;
    if (args.size() < command.minArgs || args.size() > command.maxArgs) return refuse("usage: " + std::string(command.usage));
    return (this->*command.handler)(args);
  }
  std::string text = "unknown command '" + shown(words[0]) + "'";
  for (const Command& command : commands()) {
    if (edit_distance(words[0], command.name, 2) <= 2) {
      text += "; did you mean '" + std::string(command.name) + "'?";
      break;
    }
  }
  return refuse(text + " ('help' lists the commands)");
}

Flow Session::refuse(const std::string& text) {
  message(text);
  ++failed_;
  return Flow::Stay;
}

// ---- the listing -------------------------------------------------------------------------------

std::string Session::source_line(const SourceLocation& source, uint32_t line) const {
  std::string text = "  " + source.block->name;
  if (!source.instance.empty()) text += " " + std::string(source.instance);
  text += ", line " + std::to_string(line);
  const std::string statement = target_.source().listing()->statement_at(line);
  return statement.empty() ? text : text + ": " + statement;
}

// ---- variables ---------------------------------------------------------------------------------

Result<std::string> Session::read_text(const Variable& variable) {
  auto bytes = plc().read(variable);
  if (!bytes) return bytes.error();
  return format_for_people(variable.type, bytes->view(), plc().ticks_per_second());
}

std::string Session::shown_name(const Variable& variable) {
  if (!is_offset_spec(variable.name) || symbols() == nullptr) return variable.name;
  const Variable* known = symbols()->at(variable.offset, variable.type);
  return known != nullptr ? variable.name + " (" + known->name + ")" : variable.name;
}

Result<DebugOutcome> debug(Run& run, const DebugOptions& options, std::istream& in, std::ostream& out) {
  Session session(run, options, in, out);
  if (auto status = session.run(); !status) return status.error();
  return DebugOutcome{run.engine().cycles(), session.failed_commands(),
                      ending_signal() ? interrupting_signal() : nullptr};
}

}  // namespace softplc

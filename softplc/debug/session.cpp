#include "softplc/debug/session.h"

#include <cstdio>
#include <sstream>

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

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

std::string event_text(int32_t kind, const Place& place) {
  if (kind == kEventExit) return "exit " + place.text();
  return "enter(" + std::to_string(kind) + ") " + place.text();
}

}  // namespace

bool stdin_is_terminal() {
#if defined(_WIN32)
  return _isatty(_fileno(stdin)) != 0;
#else
  return isatty(fileno(stdin)) != 0;
#endif
}

std::vector<std::string> words_of(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

Session::Session(Run& run, const DebugOptions& options, std::istream& in, std::ostream& out)
    : run_(run),
      engine_(run.engine()),
      options_(options),
      in_(in),
      out_(out),
      places_(engine_.plc().symbols()),
      source_(engine_.plc().symbols()) {
  run.add_front_end(*this);
}

Session::~Session() {
  kxdbg_set_handler(nullptr, nullptr, nullptr);
  plc().set_hooks(false);
  plc().set_local_hooks(false);
}

Status Session::run() {
  // A signal also ends the wait for a line at the prompt: this guard is the first, so the run's own
  // (taken as it starts) keeps that.
  InterruptGuard interruptions(/*endBlockingReads=*/true);
  if (auto status = run_.start(); !status) return status;
  if (symbols() == nullptr) {
    message("note: " + plc().symbols_note() + "; name variables by offset and type, e.g. print @16:INT");
  }
  kxdbg_set_handler(&on_enter, &on_exit, this);
  plc().set_hooks(true);

  message(std::string("initialised (") + (run_.plan().startMode == 1 ? "warm" : "cold") +
          " start), events on; cycle 0 is next, at t=0s, every " + format_seconds(engine_.options().period_ns()) +
          "s on the simulated clock" + (engine_.options().paced ? ", in pace with real time" : ""));
  message("type 'help' for the commands");
  for (;;) {
    prompt();
    if (stepper_.mode() == Stepper::Mode::Quit) break;
    if (auto status = run_cycles(); !status) return status;
    if (stepper_.mode() == Stepper::Mode::Quit) break;
  }
  message("debugger ends after " + plural(cycle_, "cycle", "cycles"));
  return ok_status();
}

Status Session::run_cycles() {
  for (;;) {
    stack_.clear();
    inCycle_ = true;
    auto ran = engine_.run_cycle();
    inCycle_ = false;
    stack_.clear();
    if (!ran) return ran.error();
    const bool interruptedNow = interrupted();
    if (*ran) {
      timeNs_ = engine_.last_time_ns();
      ++cycle_;
    }
    if (stepper_.mode() == Stepper::Mode::Quit) return ok_status();
    const uint64_t done = cycle_ - 1;
    const bool watchStop = *ran && check_watches("cycle " + std::to_string(done) + ", at its end");
    if (*ran && !stepper_.stop_at_cycle_end(watchStop, interruptedNow)) continue;
    stepper_.idle();
    if (interruptedNow) message("interrupted");
    clear_interruption();
    if (!*ran) return ok_status();
    // The program stops between two cycles: what the live channels wrote meanwhile is applied now.
    if (Exchange* exchange = run_.exchange()) exchange->serve_requests();
    message("end of cycle " + std::to_string(done) + " (t=" + format_seconds(timeNs_) + "s)");
    const EngineRuntime& runtime = engine_.runtime();
    if (runtime.cycle_error_count() != 0) {
      message("cycle " + std::to_string(done) + ": error " + std::to_string(runtime.cycle_first_error()) + " (" +
              std::to_string(runtime.cycle_error_count()) + " recorded)");
    }
    return ok_status();
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

// ---- events ------------------------------------------------------------------------------------

void KX_CDECL Session::on_enter(void* user, int32_t typeId, void* address, int32_t kind,
                                EntryPointDescriptor* descriptor) {
  // Runs inside the module's hook call: nothing may escape from here.
  auto* session = static_cast<Session*>(user);
  try {
    const Place place = session->places_.resolve(typeId, address, descriptor);
    const SourceLocation* source = place.offset ? session->source_.find(typeId, *place.offset, kind) : nullptr;
    session->stack_.enter(kind, place, source);
    session->event(kind, place, {place, source, source != nullptr ? source->line() : 0});
  } catch (...) {
    session->stepper_.quit();
  }
}

void KX_CDECL Session::on_exit(void* user, EntryPointDescriptor*) {
  auto* session = static_cast<Session*>(user);
  try {
    // An ExitHook with no block open (hooks switched on inside a block) names nothing.
    Frame frame = session->stack_.exit_frame();
    frame.line = frame.source != nullptr ? frame.source->exit_line() : 0;
    session->event(kEventExit, frame.place, frame);
  } catch (...) {
    session->stepper_.quit();
  }
}

std::string Session::source_line(const SourceLocation& source, uint32_t line) const {
  std::string text = "  " + source.block->name;
  if (!source.instance.empty()) text += " " + std::string(source.instance);
  text += ", line " + std::to_string(line);
  const std::string statement = source_.listing()->statement_at(line);
  return statement.empty() ? text : text + ": " + statement;
}

void Session::event(int32_t kind, const Place& place, const Frame& frame) {
  const Stepper::Mode mode = stepper_.mode();
  if (mode == Stepper::Mode::Quit) return;
  const bool watchStop =
      !watches_.empty() && check_watches("cycle " + std::to_string(cycle_) + ", seen at " + event_text(kind, place));
  const Breakpoint* hit = mode == Stepper::Mode::Cycles ? nullptr : breakpoints_.hit(kind, place);
  const bool interruptedNow = interrupted();
  if (!stepper_.stop_at_event(kind, stack_.depth(), hit != nullptr, watchStop, interruptedNow)) return;
  if (hit != nullptr) {
    message("breakpoint " + std::to_string(hit->number) + ": " + hit->label());
  } else if (interruptedNow) {
    message("interrupted");
  }
  clear_interruption();
  message("stopped: cycle " + std::to_string(cycle_) + ", " + event_text(kind, place));
  if (frame.source != nullptr) message(source_line(*frame.source, frame.line));
  stop_ = frame;
  prompt();
  stop_ = {};
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

bool Session::check_watches(const std::string& context) {
  bool stop = false;
  for (Watch& watch : watches_) {
    auto now = plc().read(watch.variable);
    if (!now || now->bytes == watch.value.bytes) continue;
    message("watch " + shown_name(watch.variable) + ": " +
            format_for_people(watch.variable.type, watch.value.view(), plc().ticks_per_second()) + " -> " +
            format_for_people(watch.variable.type, now->view(), plc().ticks_per_second()) + " (" + context + ")");
    watch.value = *now;
    stop = stop || watch.stop;
  }
  return stop;
}

void Session::module_changed(Engine&) {
  places_ = PlaceResolver(symbols());
  source_ = SourceMap(symbols());
  // Watches follow their variables by name into the new module.
  std::vector<Watch> kept;
  for (Watch& watch : watches_) {
    auto now = variable(watch.variable.name);
    if (now && now->type == watch.variable.type) {
      watch.variable = *now;
      kept.push_back(std::move(watch));
    } else {
      const std::string note =
          "no longer watching " + watch.variable.name + ": " + plc().module().name() + " has no such variable";
      if (changing_) {
        changeNotes_.push_back(note);
      } else {
        message(note);
      }
    }
  }
  watches_ = std::move(kept);
}

Result<DebugOutcome> debug(Run& run, const DebugOptions& options, std::istream& in, std::ostream& out) {
  Session session(run, options, in, out);
  if (auto status = session.run(); !status) return status.error();
  return DebugOutcome{run.engine().cycles(), session.failed_commands(),
                      ending_signal() ? interrupting_signal() : nullptr};
}

}  // namespace softplc

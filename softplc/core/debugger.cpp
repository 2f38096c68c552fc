#include "softplc/core/debugger.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

#include "abi/descriptors.h"
#include "kxrt.h"
#include "softplc/core/symbols.h"
#include "softplc/core/values.h"

namespace softplc {

bool stdin_is_terminal() {
#if defined(_WIN32)
  return _isatty(_fileno(stdin)) != 0;
#else
  return isatty(fileno(stdin)) != 0;
#endif
}

namespace {

constexpr int32_t kProgramTypeId = 3;
constexpr int32_t kExit = 0;   // the kind we give an ExitHook; the module's kinds are 1 and 6
constexpr const char* kPrompt = "(softplc) ";

// Ctrl-C: a running `continue` or `cycle` stops at the next event or the end of the cycle.
volatile std::sig_atomic_t gInterrupted = 0;
extern "C" void debugger_on_interrupt(int) { gInterrupted = 1; }

class InterruptGuard {
 public:
  InterruptGuard() : previous_(std::signal(SIGINT, &debugger_on_interrupt)) { gInterrupted = 0; }
  ~InterruptGuard() { std::signal(SIGINT, previous_ == SIG_ERR ? SIG_DFL : previous_); }
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;

 private:
  void (*previous_)(int);
};

char fold(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

bool same_name(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return fold(x) == fold(y); });
}

std::vector<std::string> words_of(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

template <class T>
std::optional<T> whole_number(std::string_view text) {
  T value{};
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::string plural(uint64_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

// Where an event happened: the type identifier and the reported address, as a data-area offset
// with the instance or variable found there.
struct Place {
  int32_t typeId = 0;
  const void* address = nullptr;
  std::optional<uint32_t> offset;   // none when the address lies outside the data area
  std::string name;                 // "IntRamp", "IntRamp.Rate"; "" when nothing is known there

  // "14 Ramp_Int at IntRamp (260)"
  std::string text() const {
    std::string block(block_name(typeId));
    std::string result = std::to_string(typeId) + " " + (block.empty() ? "?" : block) + " at ";
    if (!offset) {
      char buffer[32];
      std::snprintf(buffer, sizeof buffer, "address %p", address);
      return result + buffer;
    }
    if (name.empty()) return result + "offset " + std::to_string(*offset);
    return result + name + " (" + std::to_string(*offset) + ")";
  }
};

std::string event_text(int32_t kind, const Place& place) {
  if (kind == kExit) return "exit " + place.text();
  return "enter(" + std::to_string(kind) + ") " + place.text();
}

struct Breakpoint {
  enum class Target { BlockType, Record, Variable, TypeId };
  int number = 0;
  Target target = Target::BlockType;
  int32_t typeId = 0;
  uint32_t offset = 0;
  std::string name;   // the block type, record or variable as the symbol table spells it
  uint64_t hits = 0;

  bool matches(int32_t kind, const Place& place) const {
    switch (target) {
      case Target::BlockType: return kind == KX_EVENT_ENTRY && place.typeId == typeId;
      case Target::Record: return kind == KX_EVENT_ENTRY && place.typeId == typeId && place.offset == offset;
      case Target::Variable: return kind == KX_EVENT_ENTRY && place.offset == offset && place.name == name;
      case Target::TypeId: return place.typeId == typeId;
    }
    return false;
  }

  std::string label() const {
    return target == Target::TypeId ? "typeid " + std::to_string(typeId) : name;
  }

  std::string description() const {
    const std::string block(block_name(typeId));
    switch (target) {
      case Target::BlockType:
        return name + ", the entry of every " + name + " block (type " + std::to_string(typeId) + ")";
      case Target::Record:
        return name + ", the entry of " + block + " at offset " + std::to_string(offset);
      case Target::Variable:
        return name + ", the entry of the operation that writes it (offset " + std::to_string(offset) + ")";
      case Target::TypeId:
        return "typeid " + std::to_string(typeId) + ", every event of " + block;
    }
    return name;
  }
};

struct Watch {
  Symbol symbol;
  std::string value;   // as last seen
};

enum class Mode {
  Idle,       // at the prompt, no resume command given yet
  Step,       // stop at the next event
  Next,       // stop at the next event at depth_ or shallower
  Finish,     // stop at the ExitHook that leaves the stack at depth_ (none: the end of the cycle)
  Continue,   // stop at a breakpoint; cycles run on
  Cycles,     // run remaining_ cycles to their end without stopping
  Quit,       // no more stops; the cycle in progress runs out
};

enum class Flow { Stay, Resume };

class Session {
 public:
  Session(Plc& plc, const DebugOptions& options, std::istream& in, std::ostream& out)
      : plc_(plc), options_(options), in_(in), out_(out) {}

  ~Session() {
    kxdbg_set_handler(nullptr, nullptr, nullptr);
    plc_.set_hooks(false);
    set_local(false);
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  Status run();

 private:
  struct Command {
    std::string_view name;
    std::string_view alias;
    std::string_view usage;
    std::string_view help;
    Flow (Session::*handler)(const std::vector<std::string>& args);
  };
  static const std::vector<Command>& commands();

  // The hook handler; runs inside the module's hook calls.
  static void KX_CDECL on_enter(void* user, int32_t typeId, void* address, int32_t kind,
                                EntryPointDescriptor* descriptor);
  static void KX_CDECL on_exit(void* user, EntryPointDescriptor* descriptor);
  void enter(int32_t typeId, const void* address, int32_t kind, const EntryPointDescriptor* descriptor);
  void exit();
  void event(int32_t kind, const Place& place);

  Status run_cycles();
  // Reads and runs commands until one resumes the program (or the input ends: quit).
  void prompt();
  Flow execute(const std::string& line);

  bool hooks_on() const { return eventsOn_ || localOn_; }
  void set_local(bool on);
  void check_watches(const std::string& context);
  std::string read_text(const Symbol& symbol, std::string& error) const;
  void message(const std::string& text) { out_ << text << "\n"; }

  Flow cmd_break(const std::vector<std::string>& args);
  Flow cmd_delete(const std::vector<std::string>& args);
  Flow cmd_list(const std::vector<std::string>& args);
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
  Flow cmd_events(const std::vector<std::string>& args);
  Flow cmd_local(const std::vector<std::string>& args);
  Flow cmd_help(const std::vector<std::string>& args);
  Flow cmd_quit(const std::vector<std::string>& args);

  Plc& plc_;
  const DebugOptions& options_;
  std::istream& in_;
  std::ostream& out_;

  Mode mode_ = Mode::Idle;
  std::optional<std::size_t> depth_;   // Next and Finish
  uint64_t remaining_ = 0;             // Cycles
  bool inCycle_ = false;
  uint64_t cycle_ = 0;                 // the running cycle, or the next one between cycles
  int64_t timeNs_ = 0;                 // the running (or last) cycle's time
  std::vector<Place> stack_;           // entered with kind 6 and not yet left, outermost first

  std::vector<Breakpoint> breakpoints_;
  int nextBreakpoint_ = 1;
  std::vector<Watch> watches_;
  bool eventsOn_ = false;
  bool localOn_ = false;
};

// ---- variables and names -----------------------------------------------------------------------

// A variable by name ("IntRamp.Value") or by offset and type ("284:BOOL").
Result<Symbol> variable(std::string_view text) {
  const auto colon = text.find(':');
  if (colon == std::string_view::npos) {
    auto symbol = find_symbol(text);
    if (!symbol) return symbol.error();
    return **symbol;
  }
  const auto offset = whole_number<uint32_t>(text.substr(0, colon));
  if (!offset) return usage_error("'" + std::string(text.substr(0, colon)) + "' is not a data-area offset");
  const std::string_view typeText = text.substr(colon + 1);
  for (ValueType type : {ValueType::Bool, ValueType::Int, ValueType::Uint, ValueType::Real, ValueType::Time}) {
    if (same_name(typeText, type_name(type))) {
      return Symbol{std::to_string(*offset) + ":" + std::string(type_name(type)), *offset, type, false};
    }
  }
  return usage_error("unknown type '" + std::string(typeText) + "' (types: BOOL, INT, UINT, REAL, TIME)");
}

// "284:BOOL (IntRamp.Reached)" for an offset that a known variable of that type starts at.
std::string shown_name(const Symbol& symbol) {
  if (symbol.name.find(':') == std::string::npos) return symbol.name;
  for (const Symbol& known : symbols()) {
    if (known.offset == symbol.offset && known.type == symbol.type) return symbol.name + " (" + known.name + ")";
  }
  return symbol.name;
}

const Record* find_record(std::string_view name) {
  for (const Record& record : records())
    if (same_name(record.name, name)) return &record;
  return nullptr;
}

const BlockType* find_block_type(std::string_view name) {
  for (const BlockType& type : block_types())
    if (same_name(type.name, name)) return &type;
  return nullptr;
}

// Names of blocks, instances and variables close to `name`, for a message.
std::string suggestions_for(std::string_view name) {
  const std::size_t threshold = std::max<std::size_t>(1, name.size() / 3);
  std::vector<std::pair<std::size_t, std::string>> scored;
  auto consider = [&](std::string_view candidate) {
    const std::size_t distance = edit_distance(name, candidate);
    if (distance <= threshold) scored.emplace_back(distance, std::string(candidate));
  };
  for (const BlockType& type : block_types()) consider(type.name);
  for (const Record& record : records()) consider(record.name);
  // The symbol table's own choice also offers fields by their last part ("Rate" for IntRamp.Rate).
  for (const std::string& close : closest_names(name))
    scored.emplace_back(std::min(threshold, edit_distance(name, close)), close);
  std::stable_sort(scored.begin(), scored.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<std::string> names;
  for (const auto& [distance, candidate] : scored) {
    if (std::find(names.begin(), names.end(), candidate) == names.end()) names.push_back(candidate);
    if (names.size() == 3) break;
  }
  if (names.empty()) return "";
  std::string text = "; did you mean ";
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) text += i + 1 == names.size() ? " or " : ", ";
    text += names[i];
  }
  return text + "?";
}

// ---- the session -------------------------------------------------------------------------------

Status Session::run() {
  if (auto status = plc_.initialise(0); !status) return status;
  if (auto status = write_assignments(plc_, options_.assignments); !status) return status;
  if (auto status = select_clock(false); !status) return status;
  if (auto access = plc_.variable_access(); !access) {
    message("note: " + access.error().message + "; print, set and watch will refuse");
  }
  kxdbg_set_handler(&on_enter, &on_exit, this);
  plc_.set_hooks(true);
  eventsOn_ = true;
  InterruptGuard interrupt;

  message("initialised (cold start), events on; cycle 0 is next, at t=0s, every " + format_seconds(options_.periodNs) +
          "s on the simulated clock");
  message("type 'help' for the commands");
  for (;;) {
    prompt();
    if (mode_ == Mode::Quit) break;
    if (auto status = run_cycles(); !status) return status;
    if (mode_ == Mode::Quit) break;
  }
  message("debugger ends after " + plural(cycle_, "cycle", "cycles"));
  return ok_status();
}

Status Session::run_cycles() {
  for (;;) {
    if (cycle_ > 0) {
      if (auto status = advance_clock(options_.periodNs); !status) return status;
    }
    timeNs_ = latch_cycle();
    stack_.clear();
    inCycle_ = true;
    plc_.cycle();
    inCycle_ = false;
    stack_.clear();
    const uint64_t done = cycle_++;
    if (mode_ == Mode::Quit) return ok_status();

    check_watches("cycle " + std::to_string(done) + ", at its end");
    const bool interrupted = gInterrupted != 0;
    bool stop = interrupted;
    switch (mode_) {
      case Mode::Step:
      case Mode::Next:
      case Mode::Finish: stop = true; break;
      case Mode::Cycles: stop = stop || --remaining_ == 0; break;
      case Mode::Idle:
      case Mode::Continue:
      case Mode::Quit: break;
    }
    if (!stop) continue;
    if (interrupted) message("interrupted");
    gInterrupted = 0;
    message("end of cycle " + std::to_string(done) + " (t=" + format_seconds(timeNs_) + "s)");
    if (kxdbg_cycle_error_count() != 0) {
      message("cycle " + std::to_string(done) + ": error " + std::to_string(kxdbg_cycle_first_error()) + " (" +
              std::to_string(kxdbg_cycle_error_count()) + " recorded)");
    }
    mode_ = Mode::Idle;
    return ok_status();
  }
}

void Session::prompt() {
  mode_ = Mode::Idle;
  for (;;) {
    out_ << kPrompt << std::flush;
    std::string line;
    if (!std::getline(in_, line)) {
      out_ << "\n";
      cmd_quit({});
      return;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (options_.echo) out_ << line << "\n";
    if (execute(line) == Flow::Resume) {
      gInterrupted = 0;
      return;
    }
  }
}

Flow Session::execute(const std::string& line) {
  const std::vector<std::string> words = words_of(line);
  if (words.empty() || words[0][0] == '#') return Flow::Stay;
  for (const Command& command : commands()) {
    if (same_name(words[0], command.name) || (!command.alias.empty() && same_name(words[0], command.alias))) {
      return (this->*command.handler)({words.begin() + 1, words.end()});
    }
  }
  std::string text = "unknown command '" + words[0] + "'";
  for (const Command& command : commands()) {
    if (edit_distance(words[0], command.name) <= 2) {
      text += "; did you mean '" + std::string(command.name) + "'?";
      break;
    }
  }
  message(text + " ('help' lists the commands)");
  return Flow::Stay;
}

// ---- events ------------------------------------------------------------------------------------

void KX_CDECL Session::on_enter(void* user, int32_t typeId, void* address, int32_t kind,
                                EntryPointDescriptor* descriptor) {
  // Runs inside the module's hook call: nothing may escape from here.
  auto* session = static_cast<Session*>(user);
  try {
    session->enter(typeId, address, kind, descriptor);
  } catch (...) {
    session->mode_ = Mode::Quit;
  }
}

void KX_CDECL Session::on_exit(void* user, EntryPointDescriptor*) {
  auto* session = static_cast<Session*>(user);
  try {
    session->exit();
  } catch (...) {
    session->mode_ = Mode::Quit;
  }
}

void Session::enter(int32_t typeId, const void* address, int32_t kind, const EntryPointDescriptor* descriptor) {
  Place place;
  place.typeId = typeId;
  place.address = address;
  const auto* base = descriptor != nullptr ? descriptor->dataArea : nullptr;
  const auto* at = static_cast<const uint8_t*>(address);
  if (base != nullptr && at >= base && at < base + descriptor->dataSize) {
    place.offset = static_cast<uint32_t>(at - base);
    place.name = name_for_event(typeId, *place.offset);
  }
  if (kind == KX_EVENT_ENTRY) stack_.push_back(place);
  event(kind, place);
}

void Session::exit() {
  Place place;   // an ExitHook with no block open (hooks switched on inside a block) names nothing
  if (!stack_.empty()) {
    place = std::move(stack_.back());
    stack_.pop_back();
  }
  event(kExit, place);
}

void Session::event(int32_t kind, const Place& place) {
  if (mode_ == Mode::Quit) return;
  if (!watches_.empty()) check_watches("cycle " + std::to_string(cycle_) + ", seen at " + event_text(kind, place));
  // 'cycle N' does not stop inside a cycle, not even for Ctrl-C (that stops at the cycle's end).
  if (mode_ == Mode::Cycles) return;

  Breakpoint* hit = nullptr;
  for (Breakpoint& breakpoint : breakpoints_) {
    if (breakpoint.matches(kind, place)) {
      hit = &breakpoint;
      break;
    }
  }
  bool stop = hit != nullptr || gInterrupted != 0;
  switch (mode_) {
    case Mode::Step: stop = true; break;
    case Mode::Next: stop = stop || stack_.size() <= depth_.value_or(0); break;
    case Mode::Finish: stop = stop || (kind == kExit && depth_ && stack_.size() <= *depth_); break;
    default: break;
  }
  if (!stop) return;

  if (hit != nullptr) {
    ++hit->hits;
    message("breakpoint " + std::to_string(hit->number) + ": " + hit->label());
  } else if (gInterrupted != 0) {
    message("interrupted");
  }
  gInterrupted = 0;
  message("stopped: cycle " + std::to_string(cycle_) + ", " + event_text(kind, place));
  prompt();
}

void Session::set_local(bool on) {
  for (EntryPointDescriptor* descriptor : plc_.entry_points()) descriptor->localDebugFlag = on ? 1u : 0u;
  localOn_ = on;
}

std::string Session::read_text(const Symbol& symbol, std::string& error) const {
  auto bytes = plc_.read(symbol);
  if (!bytes) {
    error = bytes.error().message;
    return {};
  }
  return format_value(symbol.type, bytes->view(), BoolStyle::Word);
}

void Session::check_watches(const std::string& context) {
  for (Watch& watch : watches_) {
    std::string error;
    std::string now = read_text(watch.symbol, error);
    if (!error.empty() || now == watch.value) continue;
    message("watch " + shown_name(watch.symbol) + ": " + watch.value + " -> " + now + " (" + context + ")");
    watch.value = std::move(now);
  }
}

// ---- commands ----------------------------------------------------------------------------------

const std::vector<Session::Command>& Session::commands() {
  static const std::vector<Command> list = {
      {"break", "b", "break BLOCK|INSTANCE|VARIABLE, break typeid N",
       "stop at the entry (kind 6) of every block of a type (Ramp_Int, TON), of one instance or record (IntRamp, "
       "IntRamp.Clock), or of the operation whose hook address is a variable (IntRamp.Rate); 'typeid N' stops at "
       "every event of a type identifier, exits included",
       &Session::cmd_break},
      {"delete", "", "delete [N]", "delete breakpoint N, or every breakpoint", &Session::cmd_delete},
      {"list", "", "list", "the breakpoints, numbered, with their hits", &Session::cmd_list},
      {"step", "s", "step", "run to the next event (between cycles: the first event of the next cycle)",
       &Session::cmd_step},
      {"next", "n", "next", "run to the next event at the same block depth or above, stepping over blocks",
       &Session::cmd_next},
      {"finish", "", "finish", "run until the current block's ExitHook", &Session::cmd_finish},
      {"continue", "c", "continue", "run to the next breakpoint; the cycles run on (Ctrl-C stops)",
       &Session::cmd_continue},
      {"cycle", "", "cycle [N]",
       "run N cycles (default 1) to their end without stopping; inside a cycle, the cycle in progress is the first",
       &Session::cmd_cycle},
      {"where", "bt", "where", "the blocks and operations entered and not yet left, innermost first",
       &Session::cmd_where},
      {"print", "p", "print NAME|OFFSET:TYPE|INSTANCE",
       "a variable's value (IntRamp.Value, 284:BOOL), or every field of an instance (IntRamp)", &Session::cmd_print},
      {"set", "", "set NAME|OFFSET:TYPE VALUE", "write a variable (BOOL TRUE/FALSE, INT, UINT, REAL, TIME as T#1s)",
       &Session::cmd_set},
      {"watch", "", "watch NAME|OFFSET:TYPE", "show the variable's old and new value whenever it changes between events",
       &Session::cmd_watch},
      {"unwatch", "", "unwatch [NAME]", "stop watching a variable, or every variable", &Session::cmd_unwatch},
      {"events", "", "events on|off",
       "the global hook switch; while off (and local off) the module makes no hook calls: no breakpoint fires",
       &Session::cmd_events},
      {"local", "", "local on|off", "the entry point's own hook switch (localDebugFlag)", &Session::cmd_local},
      {"help", "h", "help [COMMAND]", "the commands, or one command", &Session::cmd_help},
      {"quit", "q", "quit", "end the session (a held cycle runs out first, without stops)", &Session::cmd_quit},
  };
  return list;
}

Flow Session::cmd_break(const std::vector<std::string>& args) {
  Breakpoint breakpoint;
  if (args.size() == 2 && same_name(args[0], "typeid")) {
    const auto id = whole_number<int32_t>(args[1]);
    if (!id || block_name(*id).empty()) {
      message("'" + args[1] + "' is not a type identifier of this module (3 to 34; 1 and 2 are not used)");
      return Flow::Stay;
    }
    breakpoint.target = Breakpoint::Target::TypeId;
    breakpoint.typeId = *id;
  } else if (args.size() != 1) {
    message("usage: break BLOCK|INSTANCE|VARIABLE, or break typeid N");
    return Flow::Stay;
  } else if (const BlockType* type = find_block_type(args[0])) {
    breakpoint.target = Breakpoint::Target::BlockType;
    breakpoint.typeId = type->typeId;
    breakpoint.name = std::string(type->name);
  } else if (const Record* record = find_record(args[0])) {
    breakpoint.target = Breakpoint::Target::Record;
    breakpoint.typeId = record->typeId;
    breakpoint.offset = record->offset;
    breakpoint.name = record->name;
  } else if (auto symbol = find_symbol(args[0])) {
    breakpoint.target = Breakpoint::Target::Variable;
    breakpoint.offset = (*symbol)->offset;
    breakpoint.name = (*symbol)->name;
  } else {
    message("no block, instance or variable named '" + args[0] + "'" + suggestions_for(args[0]) +
            " ('softplc vars' lists the variables)");
    return Flow::Stay;
  }
  breakpoint.number = nextBreakpoint_++;
  breakpoints_.push_back(breakpoint);
  message("breakpoint " + std::to_string(breakpoint.number) + ": " + breakpoint.description());
  if (!hooks_on()) message("note: events are off, so it cannot fire until 'events on'");
  return Flow::Stay;
}

Flow Session::cmd_delete(const std::vector<std::string>& args) {
  if (args.empty()) {
    message("deleted " + plural(breakpoints_.size(), "breakpoint", "breakpoints"));
    breakpoints_.clear();
    return Flow::Stay;
  }
  const int number = args.size() == 1 ? whole_number<int>(args[0]).value_or(0) : 0;
  const auto found = std::find_if(breakpoints_.begin(), breakpoints_.end(),
                                  [&](const Breakpoint& b) { return b.number == number; });
  if (found == breakpoints_.end()) {
    message(args.size() == 1 ? "no breakpoint " + args[0] + " ('list' shows them)" : "usage: delete [N]");
    return Flow::Stay;
  }
  message("deleted breakpoint " + std::to_string(found->number));
  breakpoints_.erase(found);
  return Flow::Stay;
}

Flow Session::cmd_list(const std::vector<std::string>&) {
  if (breakpoints_.empty()) message("no breakpoints");
  for (const Breakpoint& breakpoint : breakpoints_) {
    message(std::to_string(breakpoint.number) + "  " + breakpoint.description() + ", " +
            plural(breakpoint.hits, "hit", "hits"));
  }
  return Flow::Stay;
}

Flow Session::cmd_step(const std::vector<std::string>&) {
  mode_ = Mode::Step;
  if (!hooks_on()) message("events are off: the cycle runs to its end");
  return Flow::Resume;
}

Flow Session::cmd_next(const std::vector<std::string>&) {
  // Between cycles there is no depth to keep: the first event of the next cycle, as 'step'.
  mode_ = inCycle_ ? Mode::Next : Mode::Step;
  depth_ = stack_.size();
  if (!hooks_on()) message("events are off: the cycle runs to its end");
  return Flow::Resume;
}

Flow Session::cmd_finish(const std::vector<std::string>&) {
  if (!inCycle_) {
    message("no block is running; 'step' starts the next cycle");
    return Flow::Stay;
  }
  mode_ = Mode::Finish;
  depth_ = stack_.empty() ? std::nullopt : std::optional<std::size_t>(stack_.size() - 1);
  if (stack_.empty()) message("no block is open: the cycle runs to its end");
  return Flow::Resume;
}

Flow Session::cmd_continue(const std::vector<std::string>&) {
  if (breakpoints_.empty()) {
    message("no breakpoints, so 'continue' would not stop; set one with 'break', or run cycles with 'cycle N'");
    return Flow::Stay;
  }
  if (!hooks_on()) {
    message("events are off: the module makes no hook calls, so no breakpoint can fire; 'events on' first");
    return Flow::Stay;
  }
  mode_ = Mode::Continue;
  return Flow::Resume;
}

Flow Session::cmd_cycle(const std::vector<std::string>& args) {
  uint64_t count = 1;
  if (!args.empty()) {
    const auto n = args.size() == 1 ? whole_number<uint64_t>(args[0]) : std::nullopt;
    if (!n || *n == 0) {
      message("usage: cycle [N], N a whole number of at least 1");
      return Flow::Stay;
    }
    count = *n;
  }
  mode_ = Mode::Cycles;
  remaining_ = count;
  return Flow::Resume;
}

Flow Session::cmd_where(const std::vector<std::string>&) {
  if (!inCycle_) {
    message("no cycle is running; cycle " + std::to_string(cycle_) + " is next");
    return Flow::Stay;
  }
  if (stack_.empty()) message("no block is open");
  for (std::size_t i = 0; i < stack_.size(); ++i) {
    message("#" + std::to_string(i) + "  " + stack_[stack_.size() - 1 - i].text());
  }
  return Flow::Stay;
}

Flow Session::cmd_print(const std::vector<std::string>& args) {
  if (args.size() != 1) {
    message("usage: print NAME|OFFSET:TYPE|INSTANCE");
    return Flow::Stay;
  }
  std::vector<Symbol> shown;
  if (const Record* record = find_record(args[0])) {
    const std::string prefix = record->name + ".";
    for (const Symbol& symbol : symbols()) {
      if (symbol.name.compare(0, prefix.size(), prefix) == 0) shown.push_back(symbol);
    }
  } else {
    auto symbol = variable(args[0]);
    if (!symbol) {
      message(symbol.error().message);
      return Flow::Stay;
    }
    shown.push_back(*symbol);
  }
  for (const Symbol& symbol : shown) {
    std::string error;
    const std::string value = read_text(symbol, error);
    message(error.empty() ? shown_name(symbol) + " = " + value : error);
    if (!error.empty()) break;
  }
  return Flow::Stay;
}

Flow Session::cmd_set(const std::vector<std::string>& args) {
  if (args.size() != 2) {
    message("usage: set NAME|OFFSET:TYPE VALUE");
    return Flow::Stay;
  }
  auto symbol = variable(args[0]);
  if (!symbol) {
    message(symbol.error().message);
    return Flow::Stay;
  }
  auto value = parse_value(symbol->type, args[1]);
  if (!value) {
    message(symbol->name + ": " + value.error().message);
    return Flow::Stay;
  }
  auto bytes = encode(*value, plc_.ticks_per_second());
  if (!bytes) {
    message(symbol->name + ": " + bytes.error().message);
    return Flow::Stay;
  }
  if (auto status = plc_.write(*symbol, bytes->view()); !status) {
    message(status.error().message);
    return Flow::Stay;
  }
  std::string error;
  message(shown_name(*symbol) + " = " + read_text(*symbol, error));
  // What the user wrote is not a change the program made.
  for (Watch& watch : watches_) watch.value = read_text(watch.symbol, error);
  return Flow::Stay;
}

Flow Session::cmd_watch(const std::vector<std::string>& args) {
  if (args.empty()) {
    if (watches_.empty()) message("no watches");
    for (const Watch& watch : watches_) message(shown_name(watch.symbol) + " = " + watch.value);
    return Flow::Stay;
  }
  if (args.size() != 1) {
    message("usage: watch NAME|OFFSET:TYPE");
    return Flow::Stay;
  }
  auto symbol = variable(args[0]);
  if (!symbol) {
    message(symbol.error().message);
    return Flow::Stay;
  }
  std::string error;
  std::string value = read_text(*symbol, error);
  if (!error.empty()) {
    message(error);
    return Flow::Stay;
  }
  for (const Watch& watch : watches_) {
    if (watch.symbol.offset == symbol->offset && watch.symbol.type == symbol->type) {
      message("already watching " + shown_name(watch.symbol));
      return Flow::Stay;
    }
  }
  message("watching " + shown_name(*symbol) + " = " + value);
  watches_.push_back({*symbol, std::move(value)});
  return Flow::Stay;
}

Flow Session::cmd_unwatch(const std::vector<std::string>& args) {
  if (args.empty()) {
    message("removed " + plural(watches_.size(), "watch", "watches"));
    watches_.clear();
    return Flow::Stay;
  }
  auto symbol = args.size() == 1 ? variable(args[0]) : Result<Symbol>(usage_error("usage: unwatch [NAME]"));
  if (!symbol) {
    message(symbol.error().message);
    return Flow::Stay;
  }
  const auto found = std::find_if(watches_.begin(), watches_.end(), [&](const Watch& w) {
    return w.symbol.offset == symbol->offset && w.symbol.type == symbol->type;
  });
  if (found == watches_.end()) {
    message("not watching " + symbol->name);
    return Flow::Stay;
  }
  message("no longer watching " + shown_name(found->symbol));
  watches_.erase(found);
  return Flow::Stay;
}

// "on" or "off"; anything else gives none.
std::optional<bool> on_off(const std::vector<std::string>& args) {
  if (args.size() != 1) return std::nullopt;
  if (same_name(args[0], "on")) return true;
  if (same_name(args[0], "off")) return false;
  return std::nullopt;
}

Flow Session::cmd_events(const std::vector<std::string>& args) {
  if (args.empty()) {
    message(std::string("events are ") + (eventsOn_ ? "on" : "off") + " (local " + (localOn_ ? "on" : "off") + ")");
    return Flow::Stay;
  }
  const auto on = on_off(args);
  if (!on) {
    message("usage: events on|off");
    return Flow::Stay;
  }
  plc_.set_hooks(*on);
  eventsOn_ = *on;
  if (*on) {
    message("events on");
  } else if (localOn_) {
    message("events off; the entry point's local switch is on, so the events still come");
  } else {
    message("events off: the module makes no hook calls now, so no breakpoint can fire and step, next and finish "
            "stop only at the end of a cycle, until 'events on'");
  }
  return Flow::Stay;
}

Flow Session::cmd_local(const std::vector<std::string>& args) {
  if (args.empty()) {
    message(std::string("local is ") + (localOn_ ? "on" : "off"));
    return Flow::Stay;
  }
  const auto on = on_off(args);
  if (!on) {
    message("usage: local on|off");
    return Flow::Stay;
  }
  set_local(*on);
  if (*on || eventsOn_) {
    message(std::string("local ") + (*on ? "on" : "off") + "; events come " +
            (*on ? "whatever the global switch is" : "through the global switch"));
  } else {
    message("local off, and events are off: the module makes no hook calls, so no breakpoint can fire");
  }
  return Flow::Stay;
}

// `text` in lines of at most `width` characters, each after `indent`.
std::string wrapped(std::string_view text, std::size_t indent, std::size_t width) {
  std::string result;
  std::string line;
  for (const std::string& word : words_of(std::string(text))) {
    if (!line.empty() && indent + line.size() + 1 + word.size() > width) {
      result += std::string(indent, ' ') + line + "\n";
      line.clear();
    }
    line += (line.empty() ? "" : " ") + word;
  }
  return result + std::string(indent, ' ') + line + "\n";
}

Flow Session::cmd_help(const std::vector<std::string>& args) {
  for (const Command& command : commands()) {
    if (!args.empty() && !same_name(args[0], command.name) && !same_name(args[0], command.alias)) continue;
    out_ << command.usage << (command.alias.empty() ? "" : " (or " + std::string(command.alias) + ")") << "\n"
         << wrapped(command.help, 4, 100);
    if (!args.empty()) return Flow::Stay;
  }
  if (!args.empty()) message("no command '" + args[0] + "' ('help' lists the commands)");
  return Flow::Stay;
}

Flow Session::cmd_quit(const std::vector<std::string>&) {
  mode_ = Mode::Quit;
  // The held cycle runs out without hook calls.
  plc_.set_hooks(false);
  set_local(false);
  return Flow::Resume;
}

}  // namespace

Status debug(Plc& plc, const DebugOptions& options, std::istream& in, std::ostream& out) {
  Session session(plc, options, in, out);
  return session.run();
}

}  // namespace softplc

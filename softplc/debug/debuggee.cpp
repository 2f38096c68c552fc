#include "softplc/debug/debuggee.h"

#include <algorithm>
#include <chrono>

#include "kxrt.h"
#include "softplc/engine/interrupt.h"
#include "softplc/symbols/names.h"
#include "softplc/util/text.h"

namespace softplc {

namespace {

// The live channels' view of a stop: held from here until the front end lets the program go on.
class HeldForChannels {
 public:
  HeldForChannels(RunStatus* status, HeldAt at) : status_(status) {
    if (status_ != nullptr) status_->hold(std::move(at));
  }
  ~HeldForChannels() {
    if (status_ != nullptr) status_->resume();
  }
  HeldForChannels(const HeldForChannels&) = delete;
  HeldForChannels& operator=(const HeldForChannels&) = delete;

 private:
  RunStatus* status_;
};

}  // namespace

std::string event_text(int32_t kind, const Place& place) {
  if (kind == kEventExit) return "exit " + place.text();
  return "enter(" + std::to_string(kind) + ") " + place.text();
}

Debuggee::Debuggee(Run& run, DebugFront& front)
    : run_(run),
      engine_(run.engine()),
      front_(front),
      places_(engine_.plc().symbols()),
      source_(engine_.plc().symbols()) {
  run.add_front_end(*this);
}

Debuggee::~Debuggee() {
  if (!handling_) return;
  kxdbg_set_handler(nullptr, nullptr, nullptr);
  plc().set_hooks(false);
  plc().set_local_hooks(false);
}

Status Debuggee::start() {
  if (auto status = run_.start(); !status) return status;
  handle_events();
  plc().set_hooks(true);
  return ok_status();
}

void Debuggee::handle_events() {
  if (handling_) return;
  kxdbg_set_handler(&on_enter, &on_exit, this);
  handling_ = true;
}

void Debuggee::hold(const Stop& stop, HeldAt at) {
  const auto began = std::chrono::steady_clock::now();
  {
    const HeldForChannels held(run_.status(), std::move(at));
    front_.stopped(stop);
  }
  engine_.note_hold(std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - began).count());
}

Status Debuggee::run() {
  driving_ = true;
  Stop stop;   // before the first cycle
  for (;;) {
    hold(stop, softplc::held_at(source_, nullptr, false, stop.cycle, "before cycle " + std::to_string(stop.cycle)));
    if (stepper_.mode() == Stepper::Mode::Quit) return ok_status();
    auto next = run_cycles();
    if (!next) return next.error();
    if (stepper_.mode() == Stepper::Mode::Quit) return ok_status();
    stop = *next;
  }
}

Result<Stop> Debuggee::run_cycles() {
  for (;;) {
    stack_.clear();
    inCycle_ = true;
    auto ran = engine_.run_cycle();
    inCycle_ = false;
    stack_.clear();
    if (!ran) return ran.error();
    Stop stop;
    stop.interrupted = interrupted();
    if (*ran) {
      const CycleCalls calls = engine_.runtime().cycle_calls();
      stop.ended = Stop::Ended{cycle_, engine_.last_time_ns(), calls.errorCount(), calls.firstError()};
      ++cycle_;
    }
    stop.cycle = cycle_;
    if (stepper_.mode() == Stepper::Mode::Quit) return stop;
    const bool watchStop = *ran && check_watches("cycle " + std::to_string(cycle_ - 1) + ", at its end");
    if (*ran && !stepper_.stop_at_cycle_end(watchStop, stop.interrupted)) continue;
    stepper_.idle();
    clear_interruption();
    // The program stops between two cycles: what the live channels wrote meanwhile is applied now.
    if (Exchange* exchange = run_.exchange(); exchange != nullptr && *ran) exchange->serve_requests();
    return stop;
  }
}

void KX_CDECL Debuggee::on_enter(void* user, int32_t typeId, void* address, int32_t kind,
                                 EntryPointDescriptor* descriptor) {
  // Runs inside the module's hook call: nothing may escape from here.
  auto* debuggee = static_cast<Debuggee*>(user);
  try {
    const Place place = debuggee->places_.resolve(typeId, address, descriptor);
    const SourceLocation* source = place.offset ? debuggee->source_.find(typeId, *place.offset, kind) : nullptr;
    debuggee->stack_.enter(kind, place, source);
    debuggee->event(kind, place, {place, source, source != nullptr ? source->line() : 0});
  } catch (...) {
    debuggee->stepper_.quit();
  }
}

void KX_CDECL Debuggee::on_exit(void* user, EntryPointDescriptor*) {
  auto* debuggee = static_cast<Debuggee*>(user);
  try {
    // An ExitHook with no block open (hooks switched on inside a block) names nothing.
    Frame frame = debuggee->stack_.exit_frame();
    frame.line = frame.source != nullptr ? frame.source->exit_line() : 0;
    debuggee->event(kEventExit, frame.place, frame);
  } catch (...) {
    debuggee->stepper_.quit();
  }
}

void Debuggee::event(int32_t kind, const Place& place, const Frame& frame) {
  front_.poll();
  const Stepper::Mode mode = stepper_.mode();
  if (mode == Stepper::Mode::Quit) return;
  const bool watchStop =
      !watches_.empty() && check_watches("cycle " + std::to_string(cycle_) + ", seen at " + event_text(kind, place));
  const Breakpoint* hit = nullptr;
  if (mode != Stepper::Mode::Cycles) {
    hit = breakpoints_.hit(kind, place, [this](const Breakpoint& b) { return condition_holds(b); });
    // A logpoint tells its message and lets the program go on.
    if (hit != nullptr && !hit->logMessage.empty()) {
      front_.logged(*hit, interpolate(hit->logMessage, hit->scope));
      hit = nullptr;
    }
  }
  Stop stop;
  stop.paused = pause_.exchange(false, std::memory_order_acq_rel);
  // Following a run it does not drive, a signal ends that run rather than stopping here.
  stop.interrupted = driving_ && interrupted();
  if (!stepper_.stop_at_event(kind, stack_.depth(), hit != nullptr || stop.paused, watchStop, stop.interrupted,
                              frame.line)) {
    return;
  }
  if (driving_) clear_interruption();
  stop.cycle = cycle_;
  stop.atEvent = true;
  stop.kind = kind;
  stop.place = place;
  stop.frame = frame;
  stop.breakpoint = hit;
  stop.watch = watchStop;
  held_ = frame;
  hold(stop, softplc::held_at(source_, frame.source, kind == kEventExit, cycle_, event_text(kind, place)));
  held_ = {};
}

void Debuggee::before_cycle(Engine&, uint64_t index) {
  front_.poll();
  if (driving_) return;
  cycle_ = index;
  const bool paused = pause_.exchange(false, std::memory_order_acq_rel);
  if (cycleEndStop_ || paused) {
    Stop stop = cycleEndStop_.value_or(Stop{});
    cycleEndStop_.reset();
    stop.cycle = index;
    stop.paused = paused;
    stepper_.idle();
    hold(stop, softplc::held_at(source_, nullptr, false, index, "before cycle " + std::to_string(index)));
    // What the live channels wrote while the program was held comes before the cycle.
    if (Exchange* exchange = run_.exchange(); exchange != nullptr) exchange->serve_requests();
  }
  stack_.clear();
  inCycle_ = true;
}

void Debuggee::after_cycle(Engine& engine, const CycleInfo& cycle) {
  if (driving_) return;
  inCycle_ = false;
  stack_.clear();
  cycle_ = engine.cycles();
  front_.cycle_ended(cycle);
  if (stepper_.mode() == Stepper::Mode::Quit) return;
  const bool watchStop = check_watches("cycle " + std::to_string(cycle.index) + ", at its end");
  if (!stepper_.stop_at_cycle_end(watchStop, false)) return;
  Stop stop;
  stop.watch = watchStop;
  stop.ended = Stop::Ended{cycle.index, cycle.timeNs, cycle.errorCount, cycle.firstError};
  cycleEndStop_ = stop;
}

bool Debuggee::condition_holds(const Breakpoint& breakpoint) {
  auto value = evaluate(*breakpoint.condition);
  if (!value) {
    // A condition that cannot be evaluated stops, so that the user sees why.
    front_.note("breakpoint " + std::to_string(breakpoint.number) + ": the condition " +
                breakpoint.condition->text() + " could not be evaluated: " + value.error().message);
    return true;
  }
  return value->type == ExprType::Bool && value->boolean;
}

Result<Expression> Debuggee::parse_expression(std::string_view text, std::string_view instance) {
  const NameResolver resolve = [&](std::string_view name) -> Result<Variable> {
    auto found = plc().variable(name);
    if (found || instance.empty()) return found;
    auto field = plc().variable(std::string(instance) + "." + std::string(name));
    return field ? field : found;
  };
  return Expression::parse(text, resolve, plc().ticks_per_second());
}

Result<ExprValue> Debuggee::evaluate(const Expression& expression) {
  area_.resize(plc().data_size());
  if (auto read = plc().read_area(area_); !read) return read.error();
  return expression.evaluate(area_);
}

Status Debuggee::set_condition(Breakpoint& breakpoint, std::string_view text) {
  std::string_view rest = trimmed(text, " \t");
  std::string instance = breakpoint.scope;
  // "RealRamp" or "RealRamp AND ...": one instance of a line's block.
  if (breakpoint.target == Breakpoint::Target::Line && symbols() != nullptr) {
    const std::size_t end = rest.find_first_of(" \t");
    const std::string_view first = rest.substr(0, end);
    if (const Record* record = symbols()->find_record(first)) {
      const ListingBlock* block = source_.listing() != nullptr ? source_.listing()->find_block(breakpoint.blockName) : nullptr;
      if (block == nullptr || record->typeId != block->typeId) {
        return usage_error(record->name + " is not an instance of " + breakpoint.blockName + ", whose line " +
                           std::to_string(breakpoint.line) + " this is");
      }
      const ListingStep* step = source_.listing()->step_at(breakpoint.line);
      const ListingStep* entry = source_.listing()->entry_of(*block);
      const uint32_t within = step != nullptr && step->has_events() ? step->offset : entry != nullptr ? entry->offset : 0;
      breakpoint.offsets = {record->offset + within};
      instance = record->name;
      breakpoint.scope = record->name;
      rest = end == std::string_view::npos ? std::string_view() : trimmed(rest.substr(end), " \t");
      if (!rest.empty()) {
        if (rest.size() < 4 || !same_name(rest.substr(0, 3), "AND") || (rest[3] != ' ' && rest[3] != '\t')) {
          return usage_error("after the instance " + record->name + ", write AND and the condition (" + record->name +
                             " AND Out > 5)");
        }
        rest = trimmed(rest.substr(4), " \t");
      }
      breakpoint.text += ", only in " + record->name;
    }
  }
  if (!rest.empty()) {
    auto parsed = parse_expression(rest, instance);
    if (!parsed) return usage_error("the condition " + std::string(rest) + ": " + parsed.error().message);
    if (parsed->type() != ExprType::Bool) {
      return usage_error("the condition " + std::string(rest) + " is " + std::string(expr_type_name(parsed->type())) +
                         ", not BOOL: compare it (" + std::string(rest) + " > 0)");
    }
    breakpoint.condition = std::move(parsed).value();
  }
  return ok_status();
}

std::string Debuggee::interpolate(std::string_view message, std::string_view instance) {
  std::string text;
  std::size_t at = 0;
  while (at < message.size()) {
    const std::size_t open = message.find('{', at);
    if (open == std::string_view::npos) break;
    const std::size_t close = message.find('}', open);
    if (close == std::string_view::npos) break;
    text += message.substr(at, open - at);
    const std::string_view inside = message.substr(open + 1, close - open - 1);
    auto expression = parse_expression(inside, instance);
    Result<ExprValue> value = expression ? evaluate(*expression) : Result<ExprValue>(expression.error());
    if (!value) {
      text += "{" + std::string(inside) + ": " + value.error().message + "}";
    } else if (expression->variables().size() == 1 && expression->text() == trimmed(inside, " ") &&
               plc().variable(trimmed(inside, " "))) {
      // One variable: shown as its own type shows it (a UINT, a TIME literal).
      auto shown = value_text(expression->variables().front());
      text += shown ? *shown : format_expr_value(*value, plc().ticks_per_second());
    } else {
      text += format_expr_value(*value, plc().ticks_per_second());
    }
    at = close + 1;
  }
  return text + std::string(message.substr(std::min(at, message.size())));
}

Result<std::string> Debuggee::value_text(const Variable& variable) {
  auto bytes = plc().read(variable);
  if (!bytes) return bytes.error();
  return format_for_people(variable.type, bytes->view(), plc().ticks_per_second());
}

Result<std::string> Debuggee::set_value(const Variable& variable, std::string_view text) {
  auto value = parse_value(variable.type, std::string(trimmed(text, " \t")));
  if (!value) return usage_error(variable.name + ": " + value.error().message);
  auto bytes = encode(*value, plc().ticks_per_second());
  if (!bytes) return usage_error(variable.name + ": " + bytes.error().message);
  if (auto status = plc().write(variable, bytes->view()); !status) return status.error();
  for (Watch& watch : watches_) {
    if (auto seen = plc().read(watch.variable)) watch.value = *seen;
  }
  return value_text(variable);
}

bool Debuggee::check_watches(const std::string& where) {
  bool stop = false;
  for (Watch& watch : watches_) {
    auto now = plc().read(watch.variable);
    if (!now || now->bytes == watch.value.bytes) continue;
    const Encoded before = std::exchange(watch.value, *now);
    front_.watch_changed(watch, before, where);
    stop = stop || watch.stop;
  }
  return stop;
}

void Debuggee::module_changed(Engine&) {
  places_ = PlaceResolver(symbols());
  source_ = SourceMap(symbols());
  // Watches follow their variables by name into the new module.
  std::vector<Watch> kept;
  for (Watch& watch : watches_) {
    auto now = plc().variable(watch.variable.name);
    if (now && now->type == watch.variable.type) {
      watch.variable = *now;
      kept.push_back(std::move(watch));
    } else {
      front_.watch_ended(watch);
    }
  }
  watches_ = std::move(kept);
  // Conditions find their variables again by name.
  for (Breakpoint& breakpoint : breakpoints_.all()) {
    if (!breakpoint.condition) continue;
    std::optional<Expression>& condition = breakpoint.condition;
    const NameResolver resolve = [&](std::string_view name) { return plc().variable(name); };
    if (auto rebound = condition->rebind(resolve); !rebound) {
      front_.note("breakpoint " + std::to_string(breakpoint.number) + " stops without its condition " +
                  condition->text() + " now: " + rebound.error().message);
      condition.reset();
    }
  }
  front_.module_changed();
}

}  // namespace softplc

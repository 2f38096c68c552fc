#include "softplc/debug/model.h"

#include <algorithm>

#include "softplc/util/text.h"

namespace softplc {

bool Breakpoint::matches(int32_t kind, const Place& place) const {
  switch (target) {
    case Target::BlockType: return kind == KX_EVENT_ENTRY && place.typeId == typeId;
    case Target::Record: return kind == KX_EVENT_ENTRY && place.typeId == typeId && place.offset == offset;
    case Target::Variable: return kind == KX_EVENT_ENTRY && place.offset == offset && place.name == name;
    case Target::TypeId: return place.typeId == typeId;
    case Target::Line:
      return kind == this->kind && place.typeId == typeId && place.offset &&
             std::find(offsets.begin(), offsets.end(), *place.offset) != offsets.end();
  }
  return false;
}

std::string Breakpoint::label() const { return target == Target::TypeId ? "typeid " + std::to_string(typeId) : name; }

std::string Breakpoint::description() const {
  std::string text = where();
  if (condition) text += " if " + condition->text();
  if (hitCondition) text += ", stopping at hit " + hitCondition->text();
  if (!logMessage.empty()) text += ", logging \"" + logMessage + "\"";
  return text;
}

std::string Breakpoint::where() const {
  switch (target) {
    case Target::BlockType:
      return name + ", the entry of every " + name + " block (type " + std::to_string(typeId) + ")";
    case Target::Record: return name + ", the entry of " + blockName + " at offset " + std::to_string(offset);
    case Target::Variable:
      return name + ", the entry of the " + blockName + " operation that writes it (offset " + std::to_string(offset) + ")";
    case Target::TypeId:
      return "typeid " + std::to_string(typeId) + ", every event of " + (blockName.empty() ? "it" : blockName);
    case Target::Line: return text;
  }
  return name;
}

Result<HitCondition> HitCondition::parse(std::string_view text) {
  static constexpr std::pair<std::string_view, Op> kOps[] = {
      {">=", Op::AtLeast}, {"<=", Op::AtMost}, {"==", Op::Equal}, {">", Op::Above},
      {"<", Op::Below},    {"=", Op::Equal},   {"%", Op::Every}};
  std::string_view rest = trimmed(text, " \t");
  HitCondition condition;
  for (const auto& [spelling, op] : kOps) {
    if (rest.substr(0, spelling.size()) == spelling) {
      condition.op = op;
      rest = trimmed(rest.substr(spelling.size()), " \t");
      break;
    }
  }
  const auto count = whole_number<uint64_t>(rest);
  if (!count || (*count == 0 && condition.op == Op::Every)) {
    return usage_error("the hit condition '" + std::string(text) +
                       "' is not a count: write N (the Nth hit), >= N, > N, < N, <= N or % N (every Nth)");
  }
  condition.count = *count;
  return condition;
}

bool HitCondition::stops(uint64_t hits) const {
  switch (op) {
    case Op::Equal: return hits == count;
    case Op::AtLeast: return hits >= count;
    case Op::Above: return hits > count;
    case Op::Below: return hits < count;
    case Op::AtMost: return hits <= count;
    case Op::Every: return hits % count == 0;
  }
  return true;
}

std::string HitCondition::text() const {
  static constexpr const char* kSpelling[] = {"= ", ">= ", "> ", "< ", "<= ", "% "};
  return kSpelling[static_cast<int>(op)] + std::to_string(count);
}

const Breakpoint& Breakpoints::add(Breakpoint breakpoint) {
  breakpoint.number = next_++;
  list_.push_back(std::move(breakpoint));
  return list_.back();
}

bool Breakpoints::remove(int number) {
  const auto found = std::find_if(list_.begin(), list_.end(), [&](const Breakpoint& b) { return b.number == number; });
  if (found == list_.end()) return false;
  list_.erase(found);
  return true;
}

std::size_t Breakpoints::clear() {
  const std::size_t count = list_.size();
  list_.clear();
  return count;
}

const Breakpoint* Breakpoints::hit(int32_t kind, const Place& place,
                                   const std::function<bool(const Breakpoint&)>& holds) {
  for (Breakpoint& breakpoint : list_) {
    if (!breakpoint.matches(kind, place)) continue;
    if (breakpoint.condition && holds && !holds(breakpoint)) continue;
    ++breakpoint.hits;
    // A hit that its hit condition lets pass counts, but the event goes on to the next breakpoint.
    if (breakpoint.hitCondition && !breakpoint.hitCondition->stops(breakpoint.hits)) continue;
    return &breakpoint;
  }
  return nullptr;
}

Breakpoint* Breakpoints::find(int number) {
  const auto found = std::find_if(list_.begin(), list_.end(), [&](const Breakpoint& b) { return b.number == number; });
  return found == list_.end() ? nullptr : &*found;
}

void CallStack::enter(int32_t kind, const Place& place, const SourceLocation* source) {
  // A statement of the innermost block's own body: that block runs it now. (A block's entry lies in
  // its own body, not in its caller's, whose line stays at the call.)
  if (source != nullptr && !open_.empty() && !source->step->unit_entry()) open_.back().line = source->line();
  if (kind == KX_EVENT_ENTRY) open_.push_back({place, source, source != nullptr ? source->line() : 0});
}

Frame CallStack::exit_frame() {
  if (open_.empty()) return {};
  Frame frame = open_.back();
  open_.pop_back();
  return frame;
}

void Stepper::step(uint64_t count) {
  mode_ = Mode::Step;
  count_ = count;
}

void Stepper::next(uint64_t count, std::size_t depth, bool inCycle) {
  mode_ = inCycle ? Mode::Next : Mode::Step;
  count_ = count;
  depth_ = depth;
}

void Stepper::next_line(std::size_t depth, uint32_t line, bool inCycle) {
  mode_ = inCycle && line != 0 ? Mode::NextLine : Mode::StepLine;
  count_ = 1;
  depth_ = depth;
  line_ = inCycle ? line : 0;
}

void Stepper::step_line(uint32_t line, bool inCycle) {
  mode_ = Mode::StepLine;
  count_ = 1;
  line_ = inCycle ? line : 0;
}

void Stepper::finish(std::size_t depth) {
  mode_ = Mode::Finish;
  depth_ = depth == 0 ? std::nullopt : std::optional<std::size_t>(depth - 1);
}

void Stepper::cycles(uint64_t count) {
  mode_ = Mode::Cycles;
  count_ = count;
}

bool Stepper::counted() { return count_ <= 1 || --count_ == 0; }

bool Stepper::stop_at_event(int32_t kind, std::size_t depth, bool breakpoint, bool watch, bool interrupted,
                            uint32_t line) {
  // 'cycle N' does not stop inside a cycle, not even for Ctrl-C (that stops at the cycle's end).
  if (mode_ == Mode::Quit || mode_ == Mode::Cycles) return false;
  bool stop = breakpoint || watch || interrupted;
  switch (mode_) {
    case Mode::Step: stop = stop || counted(); break;
    case Mode::Next: stop = stop || (depth <= depth_.value_or(0) && counted()); break;
    case Mode::Finish: stop = stop || (kind == kEventExit && depth_ && depth <= *depth_); break;
    // A block's exit is where its caller's statement ends, not a statement of its own: a step by
    // lines goes on to the next statement.
    case Mode::NextLine:
      stop = stop || (kind != kEventExit && line != 0 && line != line_ && depth <= depth_.value_or(0));
      break;
    case Mode::StepLine: stop = stop || (kind != kEventExit && line != 0 && line != line_); break;
    default: break;
  }
  if (stop) mode_ = Mode::Idle;
  return stop;
}

bool Stepper::stop_at_cycle_end(bool watch, bool interrupted) {
  bool stop = watch || interrupted;
  switch (mode_) {
    case Mode::Step:
    case Mode::Next: stop = stop || counted(); break;
    case Mode::NextLine:
    case Mode::StepLine:
    case Mode::Finish: stop = true; break;
    case Mode::Cycles: stop = interrupted || counted(); break;
    case Mode::Idle:
    case Mode::Continue:
    case Mode::Quit: break;
  }
  if (mode_ == Mode::Quit) return false;
  if (stop) mode_ = Mode::Idle;
  return stop;
}

}  // namespace softplc

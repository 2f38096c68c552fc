#include "softplc/dap/debugger.h"

#include <algorithm>
#include <chrono>
#include <filesystem>

#include "softplc/dap/memory.h"
#include "softplc/observe/error_tally.h"
#include "softplc/symbols/names.h"
#include "softplc/util/text.h"
#include "softplc/util/values.h"

namespace softplc::dap {

namespace {

// How long a request waits for the cycle's thread: a cycle between two events, or a period.
constexpr auto kTaskWait = std::chrono::seconds(10);
// Cycle errors told per second of the run's time; the rest are counted and told once.
constexpr uint32_t kErrorsPerSecond = 10;
constexpr int kThreadId = 1;
// How often a held program looks whether a signal asked the run to end.
constexpr auto kSignalPoll = std::chrono::milliseconds(100);

std::string text_of(const Json& arguments, const char* key) {
  const auto found = arguments.find(key);
  return found != arguments.end() && found->is_string() ? found->get<std::string>() : std::string();
}

Result<int64_t> number_of(const Json& arguments, const char* key) {
  const auto found = arguments.find(key);
  if (found == arguments.end() || !found->is_number_integer()) {
    return usage_error(std::string("the argument '") + key + "' must be a whole number");
  }
  return found->get<int64_t>();
}

const Json& list_of(const Json& arguments, const char* key) {
  static const Json empty = Json::array();
  const auto found = arguments.find(key);
  return found != arguments.end() && found->is_array() ? *found : empty;
}

bool is_direct_child(std::string_view name, std::string_view prefix) {
  return name.size() > prefix.size() + 1 && name.compare(0, prefix.size(), prefix) == 0 &&
         name[prefix.size()] == '.' && name.find('.', prefix.size() + 1) == std::string_view::npos;
}

}  // namespace

Json event(std::string_view name, Json body) {
  return {{"type", "event"}, {"event", name}, {"body", std::move(body)}};
}

Json output(std::string_view category, std::string text) {
  if (text.empty() || text.back() != '\n') text += '\n';
  return event("output", {{"category", category}, {"output", std::move(text)}});
}

Debugger::Debugger(Run& run, bool launch, bool stopOnEntry)
    : run_(run), debuggee_(run, *this), launch_(launch), stopOnEntry_(stopOnEntry) {
  const Symbols* symbols = run.engine().plc().symbols();
  threadName_ = symbols != nullptr ? symbols->entryPoint : "cycle";
  // A launched program waits before its first cycle for the editor's breakpoints.
  if (launch_) debuggee_.request_pause();
  configured_ = !launch_;
}

Debugger::~Debugger() = default;

// ---- the adapter's thread --------------------------------------------------------------------

void Debugger::send(Json message) {
  std::shared_ptr<Outlet> outlet;
  {
    std::lock_guard lock(mutex_);
    outlet = outlet_;
  }
  if (outlet) outlet->send(std::move(message));
}

bool Debugger::connected() {
  std::lock_guard lock(mutex_);
  return outlet_ != nullptr;
}

void Debugger::connect(std::shared_ptr<Outlet> outlet) {
  {
    std::lock_guard lock(mutex_);
    outlet_ = std::move(outlet);
  }
  // The hooks come on with the session: until then a controller's run pays nothing for them.
  (void)handle("softplc/attach", Json::object());
}

void Debugger::disconnect(bool terminateRun) {
  if (terminateRun) terminate();
  // Without a session the program runs on as it would without a debugger.
  (void)handle("softplc/detach", Json::object());
  std::lock_guard lock(mutex_);
  outlet_.reset();
  configured_ = true;
  if (held_) resumed_ = true;
  wake_.notify_all();
}

void Debugger::configuration_done() {
  std::lock_guard lock(mutex_);
  configured_ = true;
  wake_.notify_all();
}

void Debugger::pause() {
  std::lock_guard lock(mutex_);
  if (!held_ && !ended_) debuggee_.request_pause();
}

void Debugger::terminate() {
  {
    std::lock_guard lock(mutex_);
    if (ended_) return;
  }
  run_.engine().request_stop();
  (void)handle("softplc/quit", Json::object());
}

Result<Json> Debugger::handle(const std::string& command, const Json& arguments) {
  auto answer = std::make_shared<std::promise<Result<Json>>>();
  std::future<Result<Json>> result = answer->get_future();
  {
    std::lock_guard lock(mutex_);
    if (ended_) return runtime_error("the run has ended");
    // The task holds what it needs: it may run after this request gave up waiting.
    tasks_.push_back([this, command, arguments, answer] {
      try {
        answer->set_value(dispatch(command, arguments));
      } catch (const std::exception& e) {
        answer->set_value(runtime_error(std::string("the request failed: ") + e.what()));
      }
    });
    hasTasks_.store(true, std::memory_order_release);
  }
  wake_.notify_all();
  if (result.wait_for(kTaskWait) != std::future_status::ready) {
    return runtime_error("the program did not take the request within 10 s (its cycle thread is busy)");
  }
  return result.get();
}

Json Debugger::threads() {
  std::lock_guard lock(mutex_);
  return {{"threads", Json::array({{{"id", kThreadId}, {"name", threadName_}}})}};
}

// ---- the cycle's thread: tasks and stops -----------------------------------------------------

void Debugger::run_tasks(std::unique_lock<std::mutex>& lock) {
  while (!tasks_.empty()) {
    Task task = std::move(tasks_.front());
    tasks_.pop_front();
    if (tasks_.empty()) hasTasks_.store(false, std::memory_order_release);
    lock.unlock();
    task();
    lock.lock();
  }
}

void Debugger::poll() {
  if (!hasTasks_.load(std::memory_order_acquire)) return;
  std::unique_lock lock(mutex_);
  run_tasks(lock);
}

void Debugger::wait_held(std::unique_lock<std::mutex>& lock) {
  for (;;) {
    run_tasks(lock);
    // A signal that ends the run ends the hold too; it cannot wake this wait, so the wait looks.
    if (resumed_ || ended_ || !outlet_ || run_.engine().stop_requested()) return;
    wake_.wait_for(lock, kSignalPoll);
  }
}

void Debugger::resume() {
  // Called by a task on the cycle's thread, with the lock not held.
  std::lock_guard lock(mutex_);
  resumed_ = true;
  containers_.clear();
}

void Debugger::stopped(const Stop& stop) {
  std::unique_lock lock(mutex_);
  const bool entry = launch_ && !std::exchange(entered_, true);
  // Before the first cycle of a launch (the stop its constructor asked for): the editor sets its
  // breakpoints first.
  if (entry) {
    // (The session may not have connected yet: the launch's answer and the first cycle race.)
    while (!configured_ && !ended_ && !run_.engine().stop_requested()) {
      run_tasks(lock);
      if (configured_) break;
      wake_.wait_for(lock, kSignalPoll);
    }
    run_tasks(lock);
    if (!stopOnEntry_ || !outlet_) {
      debuggee_.stepper().resume();
      return;
    }
  } else if (!outlet_) {
    // Nobody to show the stop to (a session ended while a step was under way).
    debuggee_.stepper().resume();
    return;
  }
  held_ = true;
  resumed_ = false;
  containers_.clear();

  std::string reason = "step";
  std::string description;
  Json ids = Json::array();
  if (entry) {
    reason = "entry";
  } else if (stop.breakpoint != nullptr) {
    reason = "breakpoint";
    for (const Requested& requested : requested_) {
      if (requested.number != stop.breakpoint->number) continue;
      ids.push_back(requested.id);
      if (requested.kind == Requested::Kind::Function) reason = "function breakpoint";
    }
    description = "cycle " + std::to_string(stop.cycle) + ", breakpoint: " + stop.breakpoint->where();
  } else if (stop.watch) {
    reason = "data breakpoint";
    description = lastWatch_;
  } else if (stop.paused) {
    reason = "pause";
  }
  if (description.empty()) {
    description = stop.atEvent ? "cycle " + std::to_string(stop.cycle) + ", " + event_text(stop.kind, stop.place)
                               : "before cycle " + std::to_string(stop.cycle);
  }
  Json body = {{"reason", reason}, {"threadId", kThreadId}, {"allThreadsStopped", true}, {"description", description}};
  if (!ids.empty()) body["hitBreakpointIds"] = ids;
  if (stop.ended && stop.ended->errors != 0) {
    body["text"] = "cycle " + std::to_string(stop.ended->cycle) + ": error " + std::to_string(stop.ended->firstError) +
                   " (" + std::string(error_meaning(stop.ended->firstError)) + ")";
  }
  std::shared_ptr<Outlet> outlet = outlet_;
  lock.unlock();
  outlet->send(event("stopped", std::move(body)));
  lock.lock();
  wait_held(lock);
  held_ = false;
  resumed_ = false;
  containers_.clear();
  // A session that ended (or a run that ends) lets the program go on as without a debugger.
  if (!outlet_ || ended_ || run_.engine().stop_requested()) {
    if (debuggee_.stepper().mode() != Stepper::Mode::Quit) debuggee_.stepper().resume();
    return;
  }
  lock.unlock();
  // A clock kept in pace goes on from now.
  send(event("continued", {{"threadId", kThreadId}, {"allThreadsContinued", true}}));
}

void Debugger::watch_changed(const Watch& watch, const Encoded& before, const std::string& where) {
  const uint32_t ticks = debuggee_.plc().ticks_per_second();
  lastWatch_ = watch.variable.name + ": " + format_for_people(watch.variable.type, before.view(), ticks) + " -> " +
               format_for_people(watch.variable.type, watch.value.view(), ticks) + " (" + where + ")";
}

void Debugger::watch_ended(const Watch& watch) {
  send(output("console", "data breakpoint on " + watch.variable.name + " removed: " +
                             debuggee_.plc().module().name() + " has no such variable"));
}

void Debugger::logged(const Breakpoint& breakpoint, const std::string& text) {
  Json message = output("console", text);
  if (breakpoint.line != 0) {
    message["body"]["source"] = source_json();
    message["body"]["line"] = breakpoint.line;
  }
  send(std::move(message));
}

void Debugger::note(const std::string& text) { send(output("console", text)); }

void Debugger::cycle_ended(const CycleInfo& cycle) {
  if (cycle.errorCount == 0 || !connected()) return;
  // At most kErrorsPerSecond lines per second of the run's clock: a fault in every cycle would
  // flood the console.
  const int64_t window = cycle.timeNs / 1'000'000'000;
  if (window != errorWindowNs_) {
    if (errorsUntold_ != 0) {
      send(output("stderr", "(" + plural(errorsUntold_, "more cycle", "more cycles") + " with errors not shown)"));
    }
    errorWindowNs_ = window;
    errorsTold_ = 0;
    errorsUntold_ = 0;
  }
  if (errorsTold_ >= kErrorsPerSecond) {
    ++errorsUntold_;
    return;
  }
  ++errorsTold_;
  send(output("stderr", "cycle " + std::to_string(cycle.index) + ": error " + std::to_string(cycle.firstError) + " (" +
                            std::string(error_meaning(cycle.firstError)) + "), " +
                            plural(cycle.errorCount, "error", "errors") + " recorded"));
}

void Debugger::module_changed() {
  const Symbols* symbols = debuggee_.symbols();
  {
    std::lock_guard lock(mutex_);
    threadName_ = symbols != nullptr ? symbols->entryPoint : "cycle";
  }
  // The new module's map may put the statements on other lines: every breakpoint is made again
  // and the editor told of each.
  for (Requested& requested : requested_) {
    if (requested.number != 0) debuggee_.breakpoints().remove(requested.number);
    apply(requested);
    send(event("breakpoint", {{"reason", "changed"}, {"breakpoint", breakpoint_json(requested)}}));
  }
}

void Debugger::ended(const std::string& report, int exitStatus) {
  std::deque<Task> waiting;
  {
    std::lock_guard lock(mutex_);
    ended_ = true;
    waiting.swap(tasks_);
    hasTasks_.store(false);
  }
  wake_.notify_all();
  // Requests that wait get their answer: the run has ended.
  for (Task& task : waiting) task();
  if (!report.empty()) send(output("console", report));
  send(event("exited", {{"exitCode", exitStatus}}));
  send(event("terminated"));
}

// ---- requests ---------------------------------------------------------------------------------

Result<Json> Debugger::dispatch(const std::string& command, const Json& arguments) {
  {
    std::lock_guard lock(mutex_);
    if (ended_) return runtime_error("the run has ended");
  }
  Plc& plc = debuggee_.plc();
  if (command == "softplc/attach") {
    debuggee_.handle_events();
    plc.set_hooks(true);
    return Json::object();
  }
  if (command == "softplc/detach") {
    for (const Requested& requested : requested_)
      if (requested.number != 0) debuggee_.breakpoints().remove(requested.number);
    requested_.clear();
    debuggee_.watches().clear();
    if (debuggee_.stepper().mode() != Stepper::Mode::Quit) debuggee_.stepper().resume();
    // A controller's run goes on without hook calls; a launched one is ending.
    if (!launch_) plc.set_hooks(false);
    return Json::object();
  }
  if (command == "softplc/quit") {
    debuggee_.stepper().quit();
    plc.set_hooks(false);
    resume();
    return Json::object();
  }
  if (command == "setBreakpoints") return set_breakpoints(arguments);
  if (command == "setFunctionBreakpoints") return set_function_breakpoints(arguments);
  if (command == "dataBreakpointInfo") return data_breakpoint_info(arguments);
  if (command == "setDataBreakpoints") return set_data_breakpoints(arguments);
  if (command == "setExceptionBreakpoints") return Json{{"breakpoints", Json::array()}};
  if (command == "stackTrace") return stack_trace(arguments);
  if (command == "scopes") return scopes(arguments);
  if (command == "variables") return variables(arguments);
  if (command == "setVariable") return set_variable(arguments);
  if (command == "evaluate") return evaluate(arguments);
  if (command == "readMemory") return read_memory(arguments);
  if (command == "writeMemory") return write_memory(arguments);
  if (command == "continue" || command == "next" || command == "stepIn" || command == "stepOut") {
    return step(command, arguments);
  }
  return usage_error("unknown request '" + shown(command) + "'");
}

Result<Json> Debugger::step(const std::string& command, const Json&) {
  {
    std::lock_guard lock(mutex_);
    if (!held_) return usage_error("the program is running: it is not held at a stop");
  }
  Stepper& stepper = debuggee_.stepper();
  const std::size_t depth = debuggee_.stack().depth();
  const uint32_t line = debuggee_.held_at().line;
  const bool inCycle = debuggee_.in_cycle();
  if (command == "continue") {
    stepper.resume();
  } else if (command == "next") {
    stepper.next_line(depth, line, inCycle);
  } else if (command == "stepIn") {
    stepper.step_line(line, inCycle);
  } else if (const std::vector<Frame> open = frames(); inCycle && depth > 1 && open.size() > 1) {
    // Out of the block: to the caller's next statement.
    stepper.next_line(depth - 1, open[1].line, inCycle);
  } else {
    // In the program's own body, or between cycles: to the end of the cycle.
    stepper.finish(0);
  }
  resume();
  return command == "continue" ? Json{{"allThreadsContinued", true}} : Json::object();
}

Json Debugger::source_json() const {
  const Symbols* symbols = run_.engine().plc().symbols();
  const Listing* listing = debuggee_.source().listing();
  if (symbols == nullptr || listing == nullptr) return nullptr;
  std::error_code ec;
  const std::filesystem::path path =
      std::filesystem::absolute(std::filesystem::path(symbols->file).parent_path() / listing->file, ec);
  return {{"name", listing->file}, {"path", path.string()}};
}

// ---- breakpoints ------------------------------------------------------------------------------

void Debugger::apply(Requested& requested) {
  requested.number = 0;
  requested.verifiedLine = 0;
  requested.message.clear();
  Result<Breakpoint> made = requested.kind == Requested::Kind::Line
                                ? debuggee_.line_breakpoint({}, requested.line)
                                : debuggee_.name_breakpoint(requested.name);
  if (made && !requested.condition.empty()) {
    if (auto set = debuggee_.set_condition(*made, requested.condition); !set) made = set.error();
  }
  if (made && !requested.hitCondition.empty()) {
    auto hit = HitCondition::parse(requested.hitCondition);
    if (hit) {
      made->hitCondition = *hit;
    } else {
      made = hit.error();
    }
  }
  if (!made) {
    requested.message = made.error().message;
    return;
  }
  made->logMessage = requested.logMessage;
  const Breakpoint& added = debuggee_.breakpoints().add(std::move(made).value());
  requested.number = added.number;
  requested.verifiedLine = added.line;
  requested.message = added.description();
}

Json Debugger::breakpoint_json(const Requested& requested) const {
  Json json = {{"id", requested.id}, {"verified", requested.number != 0}, {"message", requested.message}};
  if (requested.kind == Requested::Kind::Line) {
    json["line"] = requested.number != 0 ? requested.verifiedLine : requested.line;
    if (Json source = source_json(); !source.is_null()) json["source"] = std::move(source);
  }
  return json;
}

void Debugger::remove_requested(Requested::Kind kind) {
  std::vector<Requested> kept;
  for (Requested& requested : requested_) {
    if (requested.kind != kind) {
      kept.push_back(std::move(requested));
    } else if (requested.number != 0) {
      debuggee_.breakpoints().remove(requested.number);
    }
  }
  requested_ = std::move(kept);
}

Result<Json> Debugger::set_breakpoints(const Json& arguments) {
  const Json source = arguments.value("source", Json::object());
  const std::string path = source.is_object() ? text_of(source, "path") : std::string();
  const Listing* listing = debuggee_.source().listing();
  // Breakpoints stand in the listing only.
  std::string refusal;
  if (listing == nullptr) {
    refusal = debuggee_.symbols() == nullptr ? debuggee_.plc().symbols_note() + ": the listing's lines are not known"
                                             : "the symbol file maps no listing";
  } else if (std::filesystem::path(path).filename().string() != listing->file) {
    refusal = "breakpoints stand in the program's listing " + listing->file + ", not in " +
              (path.empty() ? std::string("a source without a path") : path);
  }
  remove_requested(Requested::Kind::Line);
  Json answers = Json::array();
  for (const Json& wanted : list_of(arguments, "breakpoints")) {
    Requested requested;
    requested.id = nextId_++;
    requested.kind = Requested::Kind::Line;
    const auto line = wanted.is_object() ? wanted.find("line") : wanted.end();
    requested.line = line != wanted.end() && line->is_number_unsigned() ? line->get<uint32_t>() : 0;
    if (wanted.is_object()) {
      requested.condition = text_of(wanted, "condition");
      requested.hitCondition = text_of(wanted, "hitCondition");
      requested.logMessage = text_of(wanted, "logMessage");
    }
    if (!refusal.empty()) {
      requested.message = refusal;
    } else {
      apply(requested);
    }
    answers.push_back(breakpoint_json(requested));
    if (refusal.empty()) requested_.push_back(std::move(requested));
  }
  return Json{{"breakpoints", std::move(answers)}};
}

Result<Json> Debugger::set_function_breakpoints(const Json& arguments) {
  remove_requested(Requested::Kind::Function);
  Json answers = Json::array();
  for (const Json& wanted : list_of(arguments, "breakpoints")) {
    Requested requested;
    requested.id = nextId_++;
    requested.kind = Requested::Kind::Function;
    if (wanted.is_object()) {
      requested.name = text_of(wanted, "name");
      requested.condition = text_of(wanted, "condition");
      requested.hitCondition = text_of(wanted, "hitCondition");
    }
    apply(requested);
    answers.push_back(breakpoint_json(requested));
    requested_.push_back(std::move(requested));
  }
  return Json{{"breakpoints", std::move(answers)}};
}

Result<Json> Debugger::data_breakpoint_info(const Json& arguments) {
  const std::string name = text_of(arguments, "name");
  const auto reference = arguments.find("variablesReference");
  Result<Variable> variable = reference != arguments.end() && reference->is_number_integer() && reference->get<int>() != 0
                                  ? variable_in(reference->get<int>(), name)
                                  : debuggee_.plc().variable(name);
  if (!variable) return Json{{"dataId", nullptr}, {"description", variable.error().message}};
  return Json{{"dataId", variable->name},
              {"description", variable->name + " (" + std::string(type_name(variable->type)) + ", offset " +
                                  std::to_string(variable->offset) + ")"},
              {"accessTypes", Json::array({"write"})},
              {"canPersist", true}};
}

Result<Json> Debugger::set_data_breakpoints(const Json& arguments) {
  std::vector<Watch>& watches = debuggee_.watches();
  watches.clear();
  Json answers = Json::array();
  for (const Json& wanted : list_of(arguments, "breakpoints")) {
    const std::string id = wanted.is_object() ? text_of(wanted, "dataId") : std::string();
    auto variable = debuggee_.plc().variable(id);
    Result<Encoded> value = variable ? debuggee_.plc().read(*variable) : Result<Encoded>(variable.error());
    if (!value) {
      answers.push_back({{"verified", false}, {"message", value.error().message}});
      continue;
    }
    watches.push_back({*variable, *value, true});
    answers.push_back({{"id", nextId_++}, {"verified", true}, {"message", "stops when " + variable->name + " changes"}});
  }
  return Json{{"breakpoints", std::move(answers)}};
}

// ---- where the program is held ------------------------------------------------------------------

std::vector<Frame> Debugger::frames() const {
  if (!debuggee_.in_cycle()) return {};
  return debuggee_.stack().innermost_first();
}

Result<Json> Debugger::stack_trace(const Json&) {
  Json list = Json::array();
  const std::vector<Frame> open = frames();
  const Json source = source_json();
  const Listing* listing = debuggee_.source().listing();
  for (std::size_t i = 0; i < open.size(); ++i) {
    const Frame& frame = open[i];
    std::string name(frame.place.block.empty() ? "type " + std::to_string(frame.place.typeId) : frame.place.block);
    if (!frame.place.name.empty()) name += " " + std::string(frame.place.name);
    // The innermost frame stands where the event is (an ExitHook on its exit line).
    const uint32_t line = i == 0 && debuggee_.held_at().line != 0 ? debuggee_.held_at().line : frame.line;
    Json item = {{"id", static_cast<int>(i) + 1}, {"name", name}, {"line", line}, {"column", line != 0 ? 1 : 0}};
    if (line != 0 && !source.is_null()) {
      item["source"] = source;
      if (const ListingStep* step = listing != nullptr ? listing->step_at(line) : nullptr; step != nullptr && step->line == line) {
        item["column"] = step->column;
        item["endLine"] = step->endLine;
        item["endColumn"] = step->endColumn + 1;
      }
    }
    list.push_back(std::move(item));
  }
  if (list.empty()) {
    // Between two cycles: the program, before its next cycle.
    const Symbols* symbols = debuggee_.symbols();
    list.push_back({{"id", 1},
                    {"name", (symbols != nullptr ? symbols->program : std::string("program")) + ", before cycle " +
                                 std::to_string(debuggee_.cycle())},
                    {"line", 0},
                    {"column", 0},
                    {"presentationHint", "label"}});
  }
  const auto total = list.size();
  return Json{{"stackFrames", std::move(list)}, {"totalFrames", total}};
}

std::string Debugger::frame_instance(int frameId) const {
  const std::vector<Frame> open = frames();
  if (frameId < 1 || static_cast<std::size_t>(frameId) > open.size()) return {};
  const Frame& frame = open[static_cast<std::size_t>(frameId) - 1];
  return frame.source != nullptr ? std::string(frame.source->instance) : std::string();
}

int Debugger::container(Container::Kind kind, const std::string& record) {
  for (std::size_t i = 0; i < containers_.size(); ++i) {
    if (containers_[i].kind == kind && containers_[i].record == record) return static_cast<int>(i) + 1;
  }
  containers_.push_back({kind, record});
  return static_cast<int>(containers_.size());
}

Result<Json> Debugger::scopes(const Json& arguments) {
  const auto frameId = number_of(arguments, "frameId");
  if (!frameId) return frameId.error();
  Json list = Json::array();
  const Symbols* symbols = debuggee_.symbols();
  if (symbols == nullptr) return usage_error(debuggee_.plc().symbols_note() + ": its variables have no names");
  const std::vector<Frame> open = frames();
  if (*frameId >= 1 && static_cast<std::size_t>(*frameId) <= open.size()) {
    const Frame& frame = open[static_cast<std::size_t>(*frameId) - 1];
    const std::string instance = frame_instance(static_cast<int>(*frameId));
    if (!instance.empty()) {
      const Record* record = symbols->find_record(instance);
      list.push_back({{"name", std::string(symbols->block_name(record != nullptr ? record->typeId : 0)) + " " + instance},
                      {"presentationHint", "locals"},
                      {"variablesReference", container(Container::Kind::Record, instance)},
                      {"expensive", false}});
    }
    // An embedded timer or edge detector, or a block entered that is not the statement's instance.
    if (const Record* record = symbols->find_record(frame.place.name); record != nullptr && record->name != instance) {
      list.push_back({{"name", std::string(symbols->block_name(record->typeId)) + " " + record->name},
                      {"variablesReference", container(Container::Kind::Record, record->name)},
                      {"expensive", false}});
    }
  }
  list.push_back({{"name", "Inputs"}, {"variablesReference", container(Container::Kind::Inputs)}, {"expensive", false}});
  list.push_back({{"name", "Outputs"}, {"variablesReference", container(Container::Kind::Outputs)}, {"expensive", false}});
  return Json{{"scopes", std::move(list)}};
}

Json Debugger::variable_json(const Variable& variable) {
  auto value = debuggee_.value_text(variable);
  const std::size_t dot = variable.name.rfind('.');
  return {{"name", dot == std::string::npos ? variable.name : variable.name.substr(dot + 1)},
          {"value", value ? *value : "<" + value.error().message + ">"},
          {"type", std::string(type_name(variable.type))},
          {"evaluateName", variable.name},
          {"variablesReference", 0},
          {"memoryReference", std::to_string(variable.offset)}};
}

Result<Json> Debugger::variables(const Json& arguments) {
  const auto reference = number_of(arguments, "variablesReference");
  if (!reference) return reference.error();
  if (*reference < 1 || static_cast<std::size_t>(*reference) > containers_.size()) {
    return usage_error("no variables under reference " + std::to_string(*reference) +
                       " (references last only while the program is held at one stop)");
  }
  const Container where = containers_[static_cast<std::size_t>(*reference) - 1];
  const Symbols& symbols = *debuggee_.symbols();
  Json list = Json::array();
  if (where.kind != Container::Kind::Record) {
    const Direction wanted = where.kind == Container::Kind::Inputs ? Direction::Input : Direction::Output;
    for (const Variable* variable : symbols.program_variables())
      if (variable->direction == wanted) list.push_back(variable_json(*variable));
    return Json{{"variables", std::move(list)}};
  }
  for (const Variable& variable : symbols.variables)
    if (is_direct_child(variable.name, where.record)) list.push_back(variable_json(variable));
  // The records embedded in it: timers and edge detectors, each opened on its own.
  for (const Record& record : symbols.records) {
    if (!is_direct_child(record.name, where.record)) continue;
    list.push_back({{"name", record.name.substr(where.record.size() + 1)},
                    {"value", std::string(symbols.block_name(record.typeId))},
                    {"type", std::string(symbols.block_name(record.typeId))},
                    {"evaluateName", record.name},
                    {"variablesReference", container(Container::Kind::Record, record.name)},
                    {"memoryReference", std::to_string(record.offset)}});
  }
  return Json{{"variables", std::move(list)}};
}

Result<Variable> Debugger::variable_in(int reference, const std::string& name) {
  if (reference < 1 || static_cast<std::size_t>(reference) > containers_.size()) {
    return usage_error("no variables under reference " + std::to_string(reference));
  }
  const Container& where = containers_[static_cast<std::size_t>(reference) - 1];
  return debuggee_.plc().variable(where.kind == Container::Kind::Record ? where.record + "." + name : name);
}

Result<Json> Debugger::set_variable(const Json& arguments) {
  const auto reference = number_of(arguments, "variablesReference");
  if (!reference) return reference.error();
  auto variable = variable_in(static_cast<int>(*reference), text_of(arguments, "name"));
  if (!variable) return variable.error();
  auto now = debuggee_.set_value(*variable, text_of(arguments, "value"));
  if (!now) return now.error();
  return Json{{"value", *now}, {"type", std::string(type_name(variable->type))}, {"variablesReference", 0}};
}

Result<Json> Debugger::evaluate(const Json& arguments) {
  const std::string text(trimmed(text_of(arguments, "expression"), " \t"));
  const std::string context = text_of(arguments, "context");
  const std::string instance = frame_instance(arguments.value("frameId", 0));
  if (context == "repl") {
    const std::vector<std::string> words = words_of(text);
    if (!words.empty() && (same_name(words[0], "force") || same_name(words[0], "unforce"))) return console(text);
  }
  if (text.empty()) return usage_error("an empty expression");
  const Symbols* symbols = debuggee_.symbols();
  // An instance, or a field of the frame's: opened like a scope.
  for (const std::string& name : {text, instance.empty() ? std::string() : instance + "." + text}) {
    if (symbols == nullptr || name.empty()) continue;
    if (const Record* record = symbols->find_record(name)) {
      const std::string type(symbols->block_name(record->typeId));
      return Json{{"result", type + " " + record->name},
                  {"type", type},
                  {"variablesReference", container(Container::Kind::Record, record->name)}};
    }
  }
  auto expression = debuggee_.parse_expression(text, instance);
  if (!expression) return expression.error();
  auto value = debuggee_.evaluate(*expression);
  if (!value) return value.error();
  // One variable alone: as its own type shows it (a UINT, a TIME literal).
  if (expression->variables().size() == 1) {
    const Variable& variable = expression->variables().front();
    auto alone = debuggee_.parse_expression(variable.name);
    auto same = debuggee_.plc().variable(text);
    if (!same && !instance.empty()) same = debuggee_.plc().variable(instance + "." + text);
    if (same && same->offset == variable.offset && same->type == variable.type) {
      auto shown = debuggee_.value_text(variable);
      if (shown) {
        return Json{{"result", *shown},
                    {"type", std::string(type_name(variable.type))},
                    {"variablesReference", 0},
                    {"memoryReference", std::to_string(variable.offset)}};
      }
    }
  }
  return Json{{"result", format_expr_value(*value, debuggee_.plc().ticks_per_second())},
              {"type", std::string(expr_type_name(value->type))},
              {"variablesReference", 0}};
}

// The debug console's commands: `force NAME VALUE`, `unforce NAME`.
Result<Json> Debugger::console(const std::string& line) {
  const std::vector<std::string> words = words_of(line);
  const bool forcing = same_name(words[0], "force");
  if ((forcing && words.size() != 3) || (!forcing && words.size() != 2)) {
    return usage_error(forcing ? "usage: force NAME VALUE" : "usage: unforce NAME");
  }
  Exchange* exchange = run_.exchange();
  if (exchange == nullptr) return usage_error("this run cannot force: it has no exchange");
  auto variable = debuggee_.plc().variable(words[1]);
  if (!variable) return variable.error();
  std::future<Status> done;
  std::string result;
  if (forcing) {
    auto value = parse_value(variable->type, words[2]);
    if (!value) return usage_error(variable->name + ": " + value.error().message);
    auto bytes = encode(*value, debuggee_.plc().ticks_per_second());
    if (!bytes) return usage_error(variable->name + ": " + bytes.error().message);
    done = exchange->force(*variable, *bytes);
    // Held inside a cycle, the value is there at once; the force itself takes over when the cycle
    // ends, as the live channels' requests do.
    if (debuggee_.in_cycle()) (void)debuggee_.plc().write(*variable, bytes->view());
    result = "forced " + variable->name + " = " + format_for_people(variable->type, bytes->view(), debuggee_.plc().ticks_per_second());
  } else {
    done = exchange->release(*variable);
    result = "released " + variable->name;
  }
  if (debuggee_.in_cycle()) return Json{{"result", result + " (from the end of this cycle on)"}, {"variablesReference", 0}};
  exchange->serve_requests();
  if (done.wait_for(std::chrono::seconds(0)) == std::future_status::ready) {
    if (auto status = done.get(); !status) return status.error();
  }
  return Json{{"result", result}, {"variablesReference", 0}};
}

// ---- memory: the data area through the module's data-access exports ---------------------------

Result<uint32_t> Debugger::memory_offset(const Json& arguments) {
  const std::string reference = text_of(arguments, "memoryReference");
  int64_t base = 0;
  if (reference != "data") {
    const auto number = whole_number<uint32_t>(reference);
    if (!number) return usage_error("no memory under reference '" + shown(reference) + "' (the data area is 'data', or an offset in it)");
    base = *number;
  }
  const int64_t offset = base + arguments.value("offset", int64_t{0});
  if (offset < 0 || offset > static_cast<int64_t>(debuggee_.plc().data_size())) {
    return usage_error("offset " + std::to_string(offset) + " lies outside the data area (0 to " +
                       std::to_string(debuggee_.plc().data_size()) + " bytes)");
  }
  return static_cast<uint32_t>(offset);
}

Result<Json> Debugger::read_memory(const Json& arguments) {
  auto start = memory_offset(arguments);
  if (!start) return start.error();
  const auto count = number_of(arguments, "count");
  if (!count || *count < 0) return usage_error("readMemory needs a count of 0 or more bytes");
  const uint32_t size = debuggee_.plc().data_size();
  const auto taken = static_cast<uint32_t>(std::min<int64_t>(*count, size - *start));
  std::vector<uint8_t> area(size);
  if (auto read = debuggee_.plc().read_area(area); !read) return read.error();
  return Json{{"address", std::to_string(*start)},
              {"data", base64_encode(std::span<const uint8_t>(area).subspan(*start, taken))},
              {"unreadableBytes", *count - taken}};
}

Result<Json> Debugger::write_memory(const Json& arguments) {
  auto start = memory_offset(arguments);
  if (!start) return start.error();
  auto bytes = base64_decode(text_of(arguments, "data"));
  if (!bytes) return bytes.error();
  const uint32_t size = debuggee_.plc().data_size();
  if (bytes->size() > size - *start) {
    return usage_error(std::to_string(bytes->size()) + " bytes at offset " + std::to_string(*start) +
                       " run past the end of the data area (" + std::to_string(size) + " bytes)");
  }
  if (auto written = debuggee_.plc().write_area(*start, *bytes); !written) return written.error();
  for (Watch& watch : debuggee_.watches()) {
    if (auto seen = debuggee_.plc().read(watch.variable)) watch.value = *seen;
  }
  send(event("memory", {{"memoryReference", "data"}, {"offset", *start}, {"count", bytes->size()}}));
  return Json{{"bytesWritten", bytes->size()}};
}

}  // namespace softplc::dap

// The debugger as an editor sees it through the Debug Adapter Protocol: a front end of the program
// under the debugger (debug/debuggee.h) whose requests come from another thread than the cycle's.
//
// The program stops on the cycle's thread, inside the module's hook call (or between two cycles),
// while the adapter's thread reads requests. Whatever touches the module, its data area or the
// debugger's model (breakpoints, stack, stepper) is handed to the cycle's thread as a task: the
// cycle's thread runs the tasks while it is held at a stop, at every debug event and before every
// cycle, so that nothing reads the data area while the module runs. A resume is such a task too: it
// sets the stepper and lets the held cycle go on.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "softplc/dap/framing.h"
#include "softplc/debug/debuggee.h"

namespace softplc::dap {

// An event of the protocol.
Json event(std::string_view name, Json body = Json::object());
// An output event: "console", "stderr", ... The text gets a line end when it lacks one.
Json output(std::string_view category, std::string text);

class Debugger : public DebugFront {
 public:
  // `launch`: the session launched the run (it ends with the session), and before the first cycle
  // the program waits for the editor's configuration (configurationDone), then stops there when
  // `stopOnEntry`. Otherwise the run is a controller's that sessions attach to and leave.
  Debugger(Run& run, bool launch, bool stopOnEntry);
  ~Debugger() override;
  Debugger(const Debugger&) = delete;
  Debugger& operator=(const Debugger&) = delete;

  Debuggee& debuggee() { return debuggee_; }

  // ---- the adapter's thread ----
  // A session begins: its messages go to `outlet`. An attached session switches the hooks on.
  void connect(std::shared_ptr<Outlet> outlet);
  // The session ends: its breakpoints, data breakpoints and steps go, a held program goes on;
  // `terminate`: the run ends too.
  void disconnect(bool terminate);
  // The editor has set its breakpoints: a launched program may start.
  void configuration_done();
  // Stops the running program at its next event or before its next cycle (a held one stays held).
  void pause();
  // Ends the run after the cycle in progress; a held program goes on without stops.
  void terminate();
  // The answer to a request that needs the model, made on the cycle's thread: its body, or why
  // not. An error when the run has ended or its thread does not take the request in time.
  Result<Json> handle(const std::string& command, const Json& arguments);
  // The thread, named after the program's entry point.
  Json threads();

  // ---- the cycle's thread ----
  void stopped(const Stop& stop) override;
  void watch_changed(const Watch& watch, const Encoded& before, const std::string& where) override;
  void watch_ended(const Watch& watch) override;
  void poll() override;
  void logged(const Breakpoint& breakpoint, const std::string& text) override;
  void note(const std::string& text) override;
  void cycle_ended(const CycleInfo& cycle) override;
  void module_changed() override;
  // The run has ended: tells the session (the report as output, `exited` with the run's exit
  // status, `terminated`); requests fail from here on.
  void ended(const std::string& report, int exitStatus);

 private:
  // A breakpoint as the editor asked for it; `number`: the model's breakpoint that carries it out
  // (0: refused, `message` says why).
  struct Requested {
    enum class Kind { Line, Function };
    int id = 0;
    Kind kind = Kind::Line;
    uint32_t line = 0;
    std::string name;
    std::string condition;
    std::string hitCondition;
    std::string logMessage;
    int number = 0;
    uint32_t verifiedLine = 0;
    std::string message;
  };
  // What a variablesReference stands for during one stop.
  struct Container {
    enum class Kind { Inputs, Outputs, Record } kind = Kind::Inputs;
    std::string record;
  };
  using Task = std::function<void()>;

  void send(Json message);
  bool connected();
  // Runs the tasks queued so far (cycle thread).
  void run_tasks(std::unique_lock<std::mutex>& lock);
  // Waits at a stop, running tasks, until a task resumes the program or the session or run ends.
  void wait_held(std::unique_lock<std::mutex>& lock);
  void resume();
  void forget_session();

  // The requests, on the cycle's thread.
  Result<Json> dispatch(const std::string& command, const Json& arguments);
  Result<Json> set_breakpoints(const Json& arguments);
  Result<Json> set_function_breakpoints(const Json& arguments);
  Result<Json> data_breakpoint_info(const Json& arguments);
  Result<Json> set_data_breakpoints(const Json& arguments);
  Result<Json> stack_trace(const Json& arguments);
  Result<Json> scopes(const Json& arguments);
  Result<Json> variables(const Json& arguments);
  Result<Json> set_variable(const Json& arguments);
  Result<Json> evaluate(const Json& arguments);
  Result<Json> console(const std::string& line);
  Result<Json> read_memory(const Json& arguments);
  Result<Json> write_memory(const Json& arguments);
  Result<Json> step(const std::string& command, const Json& arguments);

  Json breakpoint_json(const Requested& requested) const;
  void apply(Requested& requested);
  void remove_requested(Requested::Kind kind);
  Json source_json() const;
  Json variable_json(const Variable& variable);
  int container(Container::Kind kind, const std::string& record = {});
  std::vector<Frame> frames() const;
  std::string frame_instance(int frameId) const;
  Result<Variable> variable_in(int reference, const std::string& name);
  Result<uint32_t> memory_offset(const Json& arguments);

  Run& run_;
  Debuggee debuggee_;
  const bool launch_;
  const bool stopOnEntry_;
  std::string threadName_;   // under mutex_: the adapter's thread reads it

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Task> tasks_;
  std::atomic<bool> hasTasks_{false};
  std::shared_ptr<Outlet> outlet_;
  bool configured_ = false;
  bool held_ = false;
  bool resumed_ = false;
  bool ended_ = false;
  bool entered_ = false;   // the first stop of a launch has come

  // The cycle's thread's own.
  std::vector<Requested> requested_;
  int nextId_ = 1;
  std::vector<Container> containers_;
  std::string lastWatch_;
  int64_t errorWindowNs_ = -1;   // the run-time second in which cycle errors were told
  uint32_t errorsTold_ = 0;
  uint64_t errorsUntold_ = 0;
};

}  // namespace softplc::dap

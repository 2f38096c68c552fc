// softplc dap: a debug adapter on standard input and output. An editor starts it, sends `launch`
// with the run's options, and the run goes on under the editor's debugger until the session ends.
// Standard output carries the protocol alone: what the run has to say goes to the editor as output
// events.
#include <condition_variable>
#include <cstdio>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <streambuf>
#include <thread>

#include "softplc/cli/commands.h"
#include "softplc/dap/adapter.h"
#include "softplc/dap/launch.h"
#include "softplc/run/run.h"
#include "softplc/util/platform.h"

namespace softplc {

namespace {

using dap::Json;

// A stream whose lines become output events.
class OutputLines : public std::streambuf {
 public:
  OutputLines(std::shared_ptr<dap::Outlet> outlet, std::string category)
      : outlet_(std::move(outlet)), category_(std::move(category)) {}

 protected:
  int overflow(int c) override {
    if (c == traits_type::eof()) return 0;
    std::lock_guard lock(mutex_);
    line_ += static_cast<char>(c);
    if (c == '\n') flush_line();
    return c;
  }
  std::streamsize xsputn(const char* text, std::streamsize count) override {
    std::lock_guard lock(mutex_);
    for (std::streamsize i = 0; i < count; ++i) {
      line_ += text[i];
      if (text[i] == '\n') flush_line();
    }
    return count;
  }

 private:
  void flush_line() {
    outlet_->send(dap::output(category_, std::move(line_)));
    line_.clear();
  }
  std::shared_ptr<dap::Outlet> outlet_;
  std::string category_;
  std::mutex mutex_;
  std::string line_;
};

// What the reading thread and the run's thread share: the launch request that the reader hands
// over, the answer to it, and the end of the session.
class Launcher final : public dap::Adapter::Host {
 public:
  Result<dap::Debugger*> start(const std::string& command, const Json& arguments) override {
    if (command != "launch") {
      return usage_error("softplc dap launches a run of its own: use 'launch'. To attach to a running controller, "
                         "start it with 'softplc run --dap PORT' and connect to that port");
    }
    std::unique_lock lock(mutex_);
    if (ended_) return runtime_error("the session has ended");
    request_ = arguments;
    answer_.reset();
    wake_.notify_all();
    wake_.wait(lock, [&] { return answer_.has_value(); });
    return *answer_;
  }
  void finished() override {
    std::lock_guard lock(mutex_);
    ended_ = true;
    wake_.notify_all();
  }

  // The run's thread: the next launch request, or none when the session ended first.
  std::optional<Json> next_launch() {
    std::unique_lock lock(mutex_);
    wake_.wait(lock, [&] { return request_.has_value() || ended_; });
    if (!request_) return std::nullopt;
    return std::exchange(request_, std::nullopt);
  }
  void answer(Result<dap::Debugger*> answer) {
    std::lock_guard lock(mutex_);
    answer_ = std::move(answer);
    wake_.notify_all();
  }
  // Waits up to `seconds` for the session to end; whether it did.
  bool wait_end(int seconds) {
    std::unique_lock lock(mutex_);
    return wake_.wait_for(lock, std::chrono::seconds(seconds), [&] { return ended_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable wake_;
  std::optional<Json> request_;
  std::optional<Result<dap::Debugger*>> answer_;
  bool ended_ = false;
};

// What the reading thread holds: it may outlive the command (it waits on standard input).
struct Session {
  std::shared_ptr<dap::Outlet> outlet;
  Launcher launcher;
  std::optional<dap::Adapter> adapter;
};

// Reads messages from standard input until it ends or its framing breaks.
void read_messages(const std::shared_ptr<Session>& session) {
  std::string received;
  char chunk[16 * 1024];
  for (;;) {
    const int first = std::cin.get();
    if (first == std::char_traits<char>::eof()) break;
    received += static_cast<char>(first);
    const std::streamsize more = std::cin.readsome(chunk, sizeof chunk);
    if (more > 0) received.append(chunk, static_cast<std::size_t>(more));
    bool broken = false;
    for (;;) {
      dap::Incoming frame = dap::next_frame(received);
      if (frame.kind == dap::Incoming::More) break;
      if (frame.kind == dap::Incoming::Fault) {
        session->outlet->send(dap::output("stderr", "softplc: the session ends: " + frame.fault));
        broken = true;
        break;
      }
      received.erase(0, frame.used);
      session->adapter->take(frame.body);
    }
    if (broken || session->adapter->over()) break;
  }
  session->adapter->end_of_input();
}

}  // namespace

int command_dap(std::ostream& err) {
  (void)err;   // what goes wrong is told to the editor
  binary_stdio();
  std::ios::sync_with_stdio(false);
  auto session = std::make_shared<Session>();
  session->outlet = std::make_shared<dap::Outlet>([](std::string_view bytes) {
    return std::fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size() && std::fflush(stdout) == 0;
  });
  session->adapter.emplace(session->outlet, session->launcher);
  // The reader waits on standard input, which nothing can interrupt on every platform: it is left to
  // end with the process.
  std::thread([session] { read_messages(session); }).detach();

  OutputLines outLines(session->outlet, "stdout");
  OutputLines errLines(session->outlet, "stderr");
  std::ostream out(&outLines);
  std::ostream errors(&errLines);
  for (;;) {
    const std::optional<Json> arguments = session->launcher.next_launch();
    if (!arguments) return kExitOk;
    auto launch = dap::launch_plan(*arguments);
    if (!launch) {
      session->launcher.answer(launch.error());
      continue;
    }
    auto run = Run::load(std::move(launch->plan), RunLog{out, errors});
    if (!run) {
      session->launcher.answer(run.error());
      continue;
    }
    out << (*run)->module_line() << "\n";
    auto debugger = std::make_unique<dap::Debugger>(**run, /*launch=*/true, launch->stopOnEntry);
    if (auto started = debugger->debuggee().start(); !started) {
      session->launcher.answer(started.error());
      continue;
    }
    if (launch->noDebug) (*run)->engine().plc().set_hooks(false);
    session->launcher.answer(debugger.get());
    (void)(*run)->run_to_limit();
    std::ostringstream report;
    const int status = print_run_report((*run)->finish(), report, report);
    debugger->ended(report.str(), status);
    // The editor answers `terminated` with `disconnect`. A session that has not ended by then keeps
    // its debugger (it only answers that the run has ended) until the process ends.
    if (session->launcher.wait_end(5)) {
      debugger.reset();
    } else {
      (void)debugger.release();
    }
    return kExitOk;
  }
}

}  // namespace softplc

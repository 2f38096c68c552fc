#include "softplc/dap/service.h"

#include <chrono>

#include "softplc/dap/adapter.h"
#include "softplc/util/text.h"

namespace softplc::dap {

namespace {

// How long a client may take to read a message before it counts as gone.
constexpr auto kSendTimeout = std::chrono::milliseconds(5000);

// Compares a secret in a time that does not depend on where it differs.
bool same_secret(std::string_view given, std::string_view secret) {
  if (given.size() != secret.size()) return false;
  unsigned char differ = 0;
  for (std::size_t i = 0; i < given.size(); ++i) differ |= static_cast<unsigned char>(given[i] ^ secret[i]);
  return differ == 0;
}

// One client's connection: its bytes become messages for its adapter, whose answers and events go
// out through the connection.
class Connection final : public net::Session, Adapter::Host {
 public:
  Connection(Service& service, const net::Connection& connection)
      : service_(service),
        outlet_(std::make_shared<Outlet>(
            [&connection](std::string_view bytes) { return connection.send_all(bytes, kSendTimeout); })),
        adapter_(outlet_, *this) {}

  ~Connection() override {
    // The connection goes: nothing more is written to it, and the session ends (the run goes on).
    outlet_->close();
    adapter_.end_of_input();
  }

  net::Step take(std::string_view received) override {
    Incoming frame = next_frame(received);
    switch (frame.kind) {
      case Incoming::More: return {};
      case Incoming::Message:
        pending_ = std::move(frame.body);
        return {net::Step::Request, frame.used, {}};
      case Incoming::Fault: break;
    }
    return {net::Step::Refuse, received.size(),
            framed(output("stderr", "softplc: the connection ends: " + frame.fault)) + framed(event("terminated"))};
  }

  net::Answer serve(const net::Connection&) override {
    adapter_.take(pending_);
    pending_.clear();
    return {{}, adapter_.over()};
  }

  std::string timed_out() override {
    return framed(output("stderr", "softplc: the connection ends: a message did not arrive whole within 5 s"));
  }

  Result<Debugger*> start(const std::string& command, const Json& arguments) override {
    if (command != "attach") {
      return usage_error("this is a running controller's debug adapter: 'attach' to it ('launch' is for softplc dap, "
                         "which starts a run of its own)");
    }
    return service_.attach(arguments);
  }

 private:
  Service& service_;
  std::shared_ptr<Outlet> outlet_;
  Adapter adapter_;
  std::string pending_;
};

}  // namespace

Service::Service(Run& run)
    : run_(run),
      debugger_(run, /*launch=*/false, /*stopOnEntry=*/false),
      server_(*this, net::ServerLimits{1, 1, std::chrono::milliseconds(0), std::chrono::milliseconds(5000),
                                       std::chrono::milliseconds(5000), kMaxMessageBytes + kMaxHeaderBytes + 4}) {}

Service::~Service() { server_.stop(); }

Result<std::string> Service::start() {
  debugger_.debuggee().handle_events();
  const RunPlan& plan = run_.plan();
  if (auto listening = server_.start(plan.dapAddress, "--dap"); !listening) return listening.error();
  std::string line = "debug adapter (DAP) on " + plan.dapAddress.text() + ": attach from an editor, one client at a time";
  if (!plan.dapToken.empty()) {
    line += "; attach needs the token";
  } else if (!plan.dapAddress.loopback()) {
    line += "; clients refused (no --dap-token)";
  }
  return line;
}

void Service::end(const std::string& report, int exitStatus) {
  if (ended_) return;
  ended_ = true;
  debugger_.ended(report, exitStatus);
  server_.stop();
}

std::string Service::report() const {
  const net::ServerCounts counts = server_.counts();
  std::string text = "debug adapter: " + plural(sessions_.load(), "session", "sessions");
  if (counts.refused != 0) text += ", " + plural(counts.refused, "client", "clients") + " refused (one at a time)";
  return text;
}

std::unique_ptr<net::Session> Service::open(const net::Connection& connection) {
  return std::make_unique<Connection>(*this, connection);
}

std::string Service::refusal() {
  return framed(output("stderr", "softplc: another debugging client is attached to this run; one client at a time")) +
         framed(event("terminated"));
}

Result<Debugger*> Service::attach(const Json& arguments) {
  const RunPlan& plan = run_.plan();
  if (!plan.dapToken.empty() || !plan.dapAddress.loopback()) {
    if (plan.dapToken.empty()) {
      return usage_error("this debug adapter listens on " + plan.dapAddress.text() +
                         ", beyond loopback: start softplc run with --dap-token TOKEN and give \"token\" in the attach "
                         "arguments");
    }
    const auto token = arguments.find("token");
    if (token == arguments.end() || !token->is_string()) {
      return usage_error("attach needs the run's token: give \"token\" in the attach arguments");
    }
    if (!same_secret(token->get<std::string>(), plan.dapToken)) return usage_error("wrong token");
  }
  ++sessions_;
  return &debugger_;
}

}  // namespace softplc::dap

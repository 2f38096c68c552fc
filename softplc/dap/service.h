// `softplc run --dap [ADDRESS:]PORT`: the debug adapter of a running controller, over TCP on the
// sockets of the live channels. An editor attaches to the run, sets its breakpoints, stops, reads
// and writes, and leaves it running when it disconnects (its breakpoints gone). One client at a
// time: a second one gets an output event that says so, and is closed. Off loopback, `attach` must
// carry the run's --dap-token.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "softplc/dap/debugger.h"
#include "softplc/live/net/server.h"

namespace softplc::dap {

class Service : public net::Protocol {
 public:
  // Joins the run as its front end: before the run starts.
  explicit Service(Run& run);
  ~Service() override;
  Service(const Service&) = delete;
  Service& operator=(const Service&) = delete;

  // After the run has started: takes the module's debug events (the hooks stay off until a client
  // attaches) and listens. Gives the line that says where.
  Result<std::string> start();
  // The run has ended: the client is told (the report, the exit status) and serving stops.
  void end(const std::string& report, int exitStatus);
  // "debug adapter: 2 sessions, 1 client refused".
  std::string report() const;

  std::unique_ptr<net::Session> open(const net::Connection& connection) override;
  std::string refusal() override;

  // For a session: the debugger once `attach` gives what it needs, or why not.
  Result<Debugger*> attach(const Json& arguments);

 private:
  Run& run_;
  Debugger debugger_;
  net::Server server_;
  std::atomic<uint64_t> sessions_{0};
  bool ended_ = false;
};

}  // namespace softplc::dap

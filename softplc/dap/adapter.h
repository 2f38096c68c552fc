// One debugging session of the Debug Adapter Protocol, apart from how its bytes travel (standard
// input and output, or a TCP connection): it answers each request, starts the session (launch or
// attach, as the transport allows) and ends it. Every request gets a response: an unknown command,
// a message that is not JSON or lacks its fields, a bad argument get one with `success: false` and
// a message; nothing a client sends ends the process.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "softplc/dap/debugger.h"
#include "softplc/dap/framing.h"

namespace softplc::dap {

class Adapter {
 public:
  // What the transport does for a session.
  class Host {
   public:
    virtual ~Host() = default;
    // "launch" or "attach" with its arguments: the run's debugger, or why not.
    virtual Result<Debugger*> start(const std::string& command, const Json& arguments) = 0;
    // The session is over (disconnect, or the end of its input).
    virtual void finished() {}
  };

  Adapter(std::shared_ptr<Outlet> outlet, Host& host) : outlet_(std::move(outlet)), host_(host) {}
  ~Adapter();
  Adapter(const Adapter&) = delete;
  Adapter& operator=(const Adapter&) = delete;

  // One message's body as it came.
  void take(std::string_view body);
  // The input ended (or the connection went): the session ends as `disconnect` ends it.
  void end_of_input();
  bool over() const { return over_; }

 private:
  void request(const Json& message);
  void respond(const Json& request, const Result<Json>& body);
  void end(bool terminate);

  std::shared_ptr<Outlet> outlet_;
  Host& host_;
  Debugger* debugger_ = nullptr;
  bool initialized_ = false;
  bool launched_ = false;   // launch (the run ends with the session) rather than attach
  bool over_ = false;
};

// What `initialize` answers: the requests and features this adapter carries out.
Json capabilities();

}  // namespace softplc::dap

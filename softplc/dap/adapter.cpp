#include "softplc/dap/adapter.h"

#include "softplc/util/text.h"

namespace softplc::dap {

Json capabilities() {
  return {{"supportsConfigurationDoneRequest", true},
          {"supportsFunctionBreakpoints", true},
          {"supportsConditionalBreakpoints", true},
          {"supportsHitConditionalBreakpoints", true},
          {"supportsLogPoints", true},
          {"supportsDataBreakpoints", true},
          {"supportsEvaluateForHovers", true},
          {"supportsSetVariable", true},
          {"supportsReadMemoryRequest", true},
          {"supportsWriteMemoryRequest", true},
          {"supportsTerminateRequest", true},
          {"supportTerminateDebuggee", true},
          {"exceptionBreakpointFilters", Json::array()}};
}

Adapter::~Adapter() {
  if (!over_) end_of_input();
}

void Adapter::take(std::string_view body) {
  if (over_) return;
  Json message = Json::parse(body, nullptr, false);
  if (message.is_discarded()) {
    respond({{"seq", 0}, {"command", ""}},
            usage_error("the message is not JSON: " + shown(body.substr(0, 200))));
    return;
  }
  if (!message.is_object() || message.value("type", Json()) != "request" || !message.contains("command") ||
      !message["command"].is_string() || !message.contains("seq") || !message["seq"].is_number_integer()) {
    Json request = {{"seq", message.is_object() && message.value("seq", Json()).is_number_integer() ? message["seq"] : Json(0)},
                    {"command", message.is_object() && message.value("command", Json()).is_string() ? message["command"] : Json("")}};
    respond(request, usage_error("not a request: a request is an object with \"type\": \"request\", a whole-number "
                                 "\"seq\" and a \"command\""));
    return;
  }
  if (message.contains("arguments") && !message["arguments"].is_object()) {
    respond(message, usage_error("the arguments of a request are an object"));
    return;
  }
  request(message);
}

void Adapter::respond(const Json& request, const Result<Json>& body) {
  Json response = {{"type", "response"},
                   {"request_seq", request.value("seq", Json(0))},
                   {"command", request.value("command", Json(""))},
                   {"success", body.ok()}};
  if (body) {
    if (!body->is_null() && !(body->is_object() && body->empty())) response["body"] = *body;
  } else {
    response["message"] = body.error().message;
    response["body"] = {{"error", {{"id", 1}, {"format", body.error().message}, {"showUser", true}}}};
  }
  outlet_->send(std::move(response));
}

void Adapter::request(const Json& message) {
  const std::string command = message["command"].get<std::string>();
  const Json arguments = message.value("arguments", Json::object());
  if (command == "initialize") {
    initialized_ = true;
    respond(message, capabilities());
    return;
  }
  if (!initialized_) {
    respond(message, usage_error("'" + shown(command) + "' before 'initialize'"));
    return;
  }
  if (command == "launch" || command == "attach") {
    if (debugger_ != nullptr) {
      respond(message, usage_error("the session has begun already"));
      return;
    }
    auto started = host_.start(command, arguments);
    if (!started) {
      respond(message, started.error());
      return;
    }
    debugger_ = *started;
    launched_ = command == "launch";
    debugger_->connect(outlet_);
    respond(message, Json::object());
    outlet_->send(event("initialized"));
    return;
  }
  if (command == "disconnect") {
    // A launched run ends with its session unless the editor asks otherwise; a controller's run
    // goes on whatever the editor asks: it is not the session's to end.
    const auto terminate = arguments.find("terminateDebuggee");
    const bool ending =
        launched_ && (terminate == arguments.end() || !terminate->is_boolean() || terminate->get<bool>());
    respond(message, Json::object());
    end(ending);
    return;
  }
  if (debugger_ == nullptr) {
    respond(message, usage_error("'" + shown(command) + "' before 'launch' or 'attach'"));
    return;
  }
  if (command == "configurationDone") {
    debugger_->configuration_done();
    respond(message, Json::object());
  } else if (command == "threads") {
    respond(message, debugger_->threads());
  } else if (command == "pause") {
    debugger_->pause();
    respond(message, Json::object());
  } else if (command == "terminate") {
    if (!launched_) {
      respond(message, usage_error("this run is a controller's: a debugging session does not end it ('disconnect' "
                                   "leaves it running)"));
      return;
    }
    respond(message, Json::object());
    debugger_->terminate();
  } else {
    respond(message, debugger_->handle(command, arguments));
  }
}

void Adapter::end(bool terminate) {
  if (over_) return;
  over_ = true;
  if (debugger_ != nullptr) debugger_->disconnect(terminate);
  host_.finished();
}

void Adapter::end_of_input() {
  // A launched run ends with its session; a controller's runs on.
  end(launched_);
}

}  // namespace softplc::dap

#include "softplc/dap/framing.h"

#include "softplc/util/text.h"

namespace softplc::dap {

namespace {

Incoming fault(std::string why) {
  Incoming frame;
  frame.kind = Incoming::Fault;
  frame.fault = std::move(why);
  return frame;
}

}  // namespace

Incoming next_frame(std::string_view received) {
  const std::size_t end = received.find("\r\n\r\n");
  if (end == std::string_view::npos) {
    if (received.size() > kMaxHeaderBytes) return fault("a message header longer than " + std::to_string(kMaxHeaderBytes) + " bytes");
    return {};
  }
  if (end > kMaxHeaderBytes) return fault("a message header longer than " + std::to_string(kMaxHeaderBytes) + " bytes");
  std::optional<std::size_t> length;
  for (std::string_view header = received.substr(0, end); !header.empty();) {
    const std::size_t eol = header.find("\r\n");
    const std::string_view line = header.substr(0, eol);
    header = eol == std::string_view::npos ? std::string_view() : header.substr(eol + 2);
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) return fault("a header line without a colon: '" + shown(line) + "'");
    if (!equal_ignoring_case(trimmed(line.substr(0, colon), " \t"), "Content-Length")) continue;   // others are ignored
    const auto value = whole_number<std::size_t>(trimmed(line.substr(colon + 1), " \t"));
    if (!value) return fault("Content-Length is not a whole number: '" + shown(line) + "'");
    if (length && *length != *value) return fault("two different Content-Length headers");
    length = value;
  }
  if (!length) return fault("a message header without Content-Length");
  if (*length > kMaxMessageBytes) {
    return fault("a message of " + std::to_string(*length) + " bytes, more than the " +
                 std::to_string(kMaxMessageBytes) + " bytes taken");
  }
  const std::size_t start = end + 4;
  if (received.size() - start < *length) return {};
  Incoming frame;
  frame.kind = Incoming::Message;
  frame.used = start + *length;
  frame.body = std::string(received.substr(start, *length));
  return frame;
}

std::string framed(const Json& message) {
  // Invalid UTF-8 in a text (a value that is not ours) is replaced rather than thrown.
  const std::string body = message.dump(-1, ' ', false, Json::error_handler_t::replace);
  return "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

void Outlet::send(Json message) {
  std::lock_guard lock(mutex_);
  if (!writer_) return;
  message["seq"] = seq_++;
  if (!writer_(framed(message))) writer_ = nullptr;
}

void Outlet::close() {
  std::lock_guard lock(mutex_);
  writer_ = nullptr;
}

bool Outlet::closed() {
  std::lock_guard lock(mutex_);
  return !writer_;
}

}  // namespace softplc::dap

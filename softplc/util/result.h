// A small result type for the host: either a value or an error message for the user, plus the
// kind of failure, which decides the exit status.
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace softplc {

enum class ErrorKind {
  usage,     // the command line is wrong: option, argument, variable name, value
  runtime,   // the module, the runtime or a file failed
};

struct Error {
  ErrorKind kind = ErrorKind::runtime;
  std::string message;
};

inline Error usage_error(std::string message) { return {ErrorKind::usage, std::move(message)}; }
inline Error runtime_error(std::string message) { return {ErrorKind::runtime, std::move(message)}; }

template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::move(value)) {}
  Result(Error error) : state_(std::move(error)) {}

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }

  T& value() & { return std::get<0>(state_); }
  const T& value() const& { return std::get<0>(state_); }
  T&& value() && { return std::get<0>(std::move(state_)); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

  const Error& error() const { return std::get<1>(state_); }

 private:
  std::variant<T, Error> state_;
};

// For operations that give nothing back but may fail.
struct Done {};
using Status = Result<Done>;
inline Status ok_status() { return Done{}; }

}  // namespace softplc

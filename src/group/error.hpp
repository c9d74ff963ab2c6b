// Failure types of the core. The core never talks to Python: it throws these,
// and only src/module/ turns them into Python exceptions.
#pragma once

#include <stdexcept>
#include <string>
#include <utility>

namespace nacrel {

// A failed precondition that ends the current operation with a message
// (for example "assertion failed: point.is_on_curve()"). Reaches Python as
// PanicException with exactly this message.
class InternalFailure : public std::exception {
 public:
  explicit InternalFailure(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& message() const noexcept { return message_; }

 private:
  std::string message_;
};

// An input beyond a documented size limit of the library (for example a bit
// length above the largest supported one). Reaches Python as ValueError.
class LimitError : public std::exception {
 public:
  explicit LimitError(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& message() const noexcept { return message_; }

 private:
  std::string message_;
};

// Prefix of every failure that reports an error value which was not expected.
inline constexpr const char* kUnwrapPrefix = "called `Result::unwrap()` on an `Err` value: ";

[[noreturn]] inline void fail(std::string message) { throw InternalFailure(std::move(message)); }

// Stops with "assertion failed: COND" when cond is false.
inline void ensure(bool cond, const char* condition_text) {
  if (!cond) fail(std::string("assertion failed: ") + condition_text);
}

}  // namespace nacrel

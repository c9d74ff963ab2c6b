// Helpers of the core tests for reading internal failures.
#pragma once

#include <string>

#include "group/error.hpp"

namespace test_util {

// Message of the internal failure that f raises, or "" if it does not fail.
template <class F>
std::string failure_of(F f) {
  try {
    f();
  } catch (const nacrel::InternalFailure& e) {
    return e.message();
  }
  return "";
}

// "called `Result::unwrap()` on an `Err` value: MSG at line L column C" -> MSG.
inline std::string unwrapped(const std::string& message) {
  const std::string prefix = nacrel::kUnwrapPrefix;
  if (message.rfind(prefix, 0) != 0) return "<no unwrap prefix: " + message + ">";
  std::string rest = message.substr(prefix.size());
  size_t at = rest.rfind(" at line ");
  if (at == std::string::npos || rest.find(" column ", at) == std::string::npos) return "<no position: " + message + ">";
  return rest.substr(0, at);
}

}  // namespace test_util

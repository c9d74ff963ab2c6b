// Shared helpers of the libFuzzer harnesses. A harness catches only the
// failure types the core documents for the entry point it drives; any other
// exception escapes and ends the run as a crash, and a broken property calls
// finding(), which aborts with a message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "group/error.hpp"

namespace fuzz {

[[noreturn]] inline void finding(const std::string& what) {
  std::fprintf(stderr, "fuzz finding: %s\n", what.c_str());
  std::abort();
}

inline void require(bool cond, const char* what) {
  if (!cond) finding(what);
}

inline std::string_view text_of(const uint8_t* data, size_t size) {
  return std::string_view(reinterpret_cast<const char*>(data), size);
}

// Runs f; true when it returns, false when it stops with InternalFailure.
// A text decoder stops only with the unwrap message, which names the reading
// error and its position; with want_unwrap set anything else is a finding.
template <class F>
bool succeeds(F&& f, bool want_unwrap) {
  try {
    f();
    return true;
  } catch (const nacrel::InternalFailure& e) {
    if (want_unwrap) {
      const std::string& m = e.message();
      if (m.rfind(nacrel::kUnwrapPrefix, 0) != 0 || m.find(" at line ") == std::string::npos)
        finding("decoder stopped without the unwrap message: " + m);
    }
    return false;
  }
}

// Reads a record with read(text) (a stop must carry the unwrap message); when
// it reads, the text write(out) must read back to a record that writes the
// same text. True when the first read succeeded.
template <class Record, class Read, class Write>
bool read_record(std::string_view text, Record& out, Read read, Write write, const char* what) {
  if (!succeeds([&] { out = read(text); }, true)) return false;
  const std::string written = write(out);
  Record again;
  succeeds([&] { again = read(written); }, true);
  require(write(again) == written, what);
  return true;
}

}  // namespace fuzz

// Shared by the fuzz targets: decoding the fuzzer's bytes into hostile
// numbers, capturing what the module writes to standard error, and the
// checks every target applies after a call.
#ifndef QUIBRA_FUZZ_SUPPORT_H
#define QUIBRA_FUZZ_SUPPORT_H

#include <cfloat>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <string>
#include <vector>

#include "standin_host/standin.h"

namespace fuzz {

// A finding: print why, then abort so that libFuzzer keeps the input.
[[noreturn]] inline void fail(const char* what, const std::string& detail = {}) {
  std::fprintf(stderr, "\nFUZZ CHECK FAILED: %s\n%s\n", what, detail.c_str());
  std::abort();
}

inline void require(bool ok, const char* what, const std::string& detail = {}) {
  if (!ok) fail(what, detail);
}

// Reads the input front to back; past its end every read yields zeros, so
// any byte string decodes to something.
class reader {
 public:
  reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }

  // Uniform enough in [0, bound].
  std::size_t upto(std::size_t bound) { return bound == 0 ? 0 : byte() % (bound + 1); }

  double raw_double() {
    std::uint64_t bits = 0;
    for (int i = 0; i < 8; ++i) bits = (bits << 8) | byte();
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
  }

  // One value, weighted toward what breaks numerical code: NaN, both
  // infinities, signed zeros, subnormals, the extremes of the range, small
  // integers and fractions, and raw bit patterns for everything else.
  double value(std::size_t index) {
    const std::uint8_t k = byte();
    const double sign = (k & 0x10) != 0 ? -1.0 : 1.0;
    switch (k % 16) {
      case 0: return std::numeric_limits<double>::quiet_NaN();
      case 1: return sign * std::numeric_limits<double>::infinity();
      case 2: return sign * 0.0;
      case 3: return sign * std::numeric_limits<double>::denorm_min() * (1 + byte());
      case 4: return sign * DBL_MIN * (1 + byte());
      case 5: return sign * DBL_MAX / (1 + byte());
      case 6: return sign * std::ldexp(1.0 + byte() / 256.0, 900 + byte() % 124);
      case 7: return sign * std::ldexp(1.0 + byte() / 256.0, -1000 + byte() % 100);
      case 8: return static_cast<double>(static_cast<int>(byte()) - 128);
      case 9: return sign * byte() / 256.0;
      case 10: return static_cast<double>(index);  // an ascending ramp
      case 11: return static_cast<double>(index) + byte() / 64.0;
      case 12: return sign * (1.0 + std::ldexp(byte(), -52));  // 1 + a few ulps
      default: return raw_double();
    }
  }

  // `count` values; a marker byte can start a long run of one value.
  std::vector<double> values(std::size_t count) {
    std::vector<double> out;
    out.reserve(count);
    while (out.size() < count) {
      if ((byte() & 0x0f) == 0x0f && !out.empty()) {
        const double v = out.back();
        for (std::size_t run = upto(count); run > 0 && out.size() < count; --run) out.push_back(v);
      } else {
        out.push_back(value(out.size()));
      }
    }
    return out;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

// Everything the module writes through the C stream `stderr` while this
// lives. Sanitizer and libFuzzer reports bypass the stream (they write to
// file descriptor 2 directly), so a crash is still reported.
class stderr_capture {
 public:
  stderr_capture() {
    saved_ = stderr;
    stream_ = open_memstream(&buffer_, &length_);
    if (stream_ == nullptr) fail("open_memstream");
    stderr = stream_;
  }
  ~stderr_capture() { finish(); }
  stderr_capture(const stderr_capture&) = delete;
  stderr_capture& operator=(const stderr_capture&) = delete;

  std::string finish() {
    if (stream_ != nullptr) {
      std::fclose(stream_);
      stream_ = nullptr;
      stderr = saved_;
      text_.assign(buffer_, length_);
      std::free(buffer_);
      buffer_ = nullptr;
    }
    return text_;
  }

 private:
  FILE* saved_ = nullptr;
  FILE* stream_ = nullptr;
  char* buffer_ = nullptr;
  std::size_t length_ = 0;
  std::string text_;
};

// Byte equality of two arrays; empty vectors have no data pointer to compare.
template <typename T>
bool same_bytes(const std::vector<T>& a, const std::vector<T>& b) {
  return a.size() == b.size() &&
         (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(T)) == 0);
}

// The same doubles bit for bit, but that any NaN matches any NaN: which NaN
// an operation on two NaNs gives is the hardware's choice.
inline bool same_values(const std::vector<double>& a, const std::vector<double>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const bool nan = a[i] != a[i] && b[i] != b[i];
    if (!nan && std::memcmp(&a[i], &b[i], sizeof a[i]) != 0) return false;
  }
  return true;
}

inline bool starts_with(const std::string& s, const char* prefix) {
  return s.compare(0, std::strlen(prefix), prefix) == 0;
}

// Text made of whole lines, each starting with one of `prefixes`.
inline void require_lines(const std::string& text, std::initializer_list<const char*> prefixes,
                          const char* channel) {
  if (text.empty()) return;
  require(text.back() == '\n', "output does not end with a newline", channel + (": " + text));
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    const std::string line = text.substr(start, end - start);
    bool known = false;
    for (const char* p : prefixes) known = known || starts_with(line, p);
    require(known, "unexpected output line", channel + (": " + line));
    start = end + 1;
  }
}

// The numerical diagnostics the kernels may write to standard error.
inline void require_diagnostics(const std::string& err) {
  require_lines(err,
                {"Error: Singular matrix inversion attempted.",
                 "Warning: Unstable equation system [", "Confounding weighting ("},
                "stderr");
}

// Storage audit of a call: no double or foreign free, nothing outside the call.
inline void require_clean_storage(const standin::outcome& o) {
  std::string all;
  for (const auto& f : o.faults) all += f + "\n";
  require(o.faults.empty(), "storage fault", all);
}

}  // namespace fuzz

#endif

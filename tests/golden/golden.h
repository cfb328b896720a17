// The golden file: calls of the module with their exact inputs and the
// exact bit patterns of their results. Line format:
//   case NAME
//   in ROWS COLS HEX...     one line per input argument, in order
//   text WORD               or, for an option's name or keyword, a char row
//   out ROWS COLS HEX...    the result
// HEX is a double's IEEE 754 bit pattern as 16 hex digits.
#ifndef QUIBRA_TESTS_GOLDEN_H
#define QUIBRA_TESTS_GOLDEN_H

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace golden {

struct matrix {
  std::size_t rows = 0;
  std::size_t cols = 0;
  std::vector<double> values;  // column-major
  bool is_text = false;        // a char row input: `text` alone counts
  std::string text;
};

struct call_case {
  std::string name;
  std::vector<matrix> inputs;
  matrix output;
};

inline std::string to_hex(double v) {
  std::uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(bits));
  return text;
}

inline double from_hex(const std::string& hex) {
  const std::uint64_t bits = std::stoull(hex, nullptr, 16);
  double v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

inline void write_matrix(std::ostream& os, const char* tag, const matrix& m) {
  if (m.is_text) {
    os << "text " << m.text << '\n';
    return;
  }
  os << tag << ' ' << m.rows << ' ' << m.cols;
  for (double v : m.values) os << ' ' << to_hex(v);
  os << '\n';
}

inline matrix read_matrix(std::istringstream& is) {
  matrix m;
  is >> m.rows >> m.cols;
  std::string hex;
  while (is >> hex) m.values.push_back(from_hex(hex));
  return m;
}

inline std::vector<call_case> read_file(const std::string& path) {
  std::vector<call_case> cases;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream is(line);
    std::string tag;
    is >> tag;
    if (tag == "case") {
      cases.emplace_back();
      is >> cases.back().name;
    } else if (tag == "in") {
      cases.back().inputs.push_back(read_matrix(is));
    } else if (tag == "text") {
      matrix m;
      m.is_text = true;
      is >> m.text;
      cases.back().inputs.push_back(m);
    } else if (tag == "out") {
      cases.back().output = read_matrix(is);
    }
  }
  return cases;
}

}  // namespace golden

#endif

#include "numeric/lanes.h"

#include <cstdlib>
#include <cstring>

namespace {

// QUIBRA_MAX_LANES = 2 or 4, for tests only: the module runs as a
// processor without the wider registers would, so that one machine also
// tests what a narrower one runs. Any other value caps nothing.
int lanes_cap() {
  const char* cap = std::getenv("QUIBRA_MAX_LANES");
  if (cap == nullptr) return MAX_LANES;
  if (std::strcmp(cap, "2") == 0) return 2;
  if (std::strcmp(cap, "4") == 0) return 4;
  return MAX_LANES;
}

}  // namespace

int supported_lanes() {
#if QUIBRA_WIDE_LANES
  // The run-time's own check, made once: it also asks the operating system
  // whether it saves the wide registers.
  static const int widest = [] {
    const int granted = __builtin_cpu_supports("avx512f")                                 ? 8
                        : __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma") ? 4
                                                                                          : 2;
    const int cap = lanes_cap();
    return granted < cap ? granted : cap;
  }();
  return widest;
#else
  return 2;
#endif
}

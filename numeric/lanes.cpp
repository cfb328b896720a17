#include "numeric/lanes.h"

int supported_lanes() {
#if QUIBRA_WIDE_LANES
  // The run-time's own check, made once: it also asks the operating system
  // whether it saves the wide registers.
  static const int widest =
      __builtin_cpu_supports("avx512f")                                      ? 8
      : __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma") ? 4
                                                                             : 2;
  return widest;
#else
  return 2;
#endif
}

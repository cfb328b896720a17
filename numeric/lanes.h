// Several doubles per vector register: 2 (SSE2, every x86-64), 4 (AVX2) or
// 8 (AVX-512). Every operation acts on each lane alone with ordinary IEEE
// 754 double arithmetic, so a lane computes bit for bit what the same
// scalar code computes, whatever the width; this only does several at once.
// Code for the wider registers is compiled per function (see WIDE_LANES)
// and chosen at run time, so the module still runs on any x86-64.
#ifndef QUIBRA_NUMERIC_LANES_H
#define QUIBRA_NUMERIC_LANES_H

#include <bit>
#include <cstdint>
#include <cstring>
#include <utility>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#if defined(__x86_64__)
// The compilers note that 4- and 8-lane values would pass between functions
// differently under AVX; they never do: the wide paths inline every call
// that takes or returns one (flatten).
#pragma GCC diagnostic ignored "-Wpsabi"
#endif

typedef double v2d __attribute__((vector_size(16)));
typedef std::int64_t v2i __attribute__((vector_size(16)));
typedef double v4d __attribute__((vector_size(32)));
typedef std::int64_t v4i __attribute__((vector_size(32)));
typedef double v8d __attribute__((vector_size(64)));
typedef std::int64_t v8i __attribute__((vector_size(64)));

// The widest lane count there is.
inline constexpr int MAX_LANES = 8;

template <int L>
struct lanes_of;
template <>
struct lanes_of<2> {
  using d = v2d;
  using i = v2i;
};
template <>
struct lanes_of<4> {
  using d = v4d;
  using i = v4i;
};
template <>
struct lanes_of<8> {
  using d = v8d;
  using i = v8i;
};

// Lane k of v, and a value in every lane.
inline double lane(double v, int) { return v; }
template <typename T>
inline double lane(const T& v, int k) {
  return v[k];
}
template <typename T>
constexpr int LANES = sizeof(T) / sizeof(double);
// Exchanges lane k of a and b, leaving the other lanes alone.
inline void swap_lane(double& a, double& b, int) { std::swap(a, b); }
template <typename T>
inline void swap_lane(T& a, T& b, int k) {
  const double t = a[k];
  a[k] = b[k];
  b[k] = t;
}
// Copied, not computed: the sign of a zero must survive. As integers, so
// that the compiler makes one broadcast of it (an initializer of equal
// doubles it fills lane by lane).
template <typename T>
inline T splat(double v) {
  if constexpr (LANES<T> == 1) {
    return v;
  } else {
    typedef std::int64_t I __attribute__((vector_size(sizeof(T))));
    return (T)(I{} + std::bit_cast<std::int64_t>(v));
  }
}

// |v| in every lane: the sign bit cleared.
inline double magnitude(double v) { return __builtin_fabs(v); }
template <typename T>
inline T magnitude(const T& v) {
  typedef std::int64_t I __attribute__((vector_size(sizeof(T))));
  return (T)((I)v & ~(I)splat<T>(-0.0));
}

// The vector whose lane k is p[k][i]. Eight lanes are joined from two
// halves in registers: the compiler would otherwise store the halves and
// load the whole, a load that cannot take its data from the two stores
// and waits for them to reach the cache, in every window point's sums.
template <typename T>
inline T gather(const double* const p[], std::int64_t i) {
  if constexpr (LANES<T> == 8) {
    const v4d lo = gather<v4d>(p, i);
    const v4d hi = gather<v4d>(p + 4, i);
    return __builtin_shufflevector(lo, hi, 0, 1, 2, 3, 4, 5, 6, 7);
  } else {
    double v[LANES<T>] = {};
    for (int k = 0; k < LANES<T>; ++k) v[k] = p[k][i];
    T t;
    std::memcpy(&t, v, sizeof t);
    return t;
  }
}

// Function attributes that compile a function body for 4 or 8 lanes per
// register: the whole call tree inlined (flatten) under the wider
// instruction set, fused multiply-add included. -ffp-contract=off keeps
// the compiler from fusing anything itself; only fused() below does, where
// the code asks for a single rounding on purpose.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define QUIBRA_WIDE_LANES 1
#define QUIBRA_AVX2 __attribute__((target("avx2,fma"), flatten))
#define QUIBRA_AVX512 __attribute__((target("avx512f"), flatten))
#else
#define QUIBRA_WIDE_LANES 0
#endif

// Runs f() in L lanes' code: for 4 and 8 lanes as a function of its own,
// compiled for their instruction set and flattened as the wide paths are.
// The wide paths call their heavy parts through it. Flattened into one
// body, a width's fits made a function of 300 KB that took g++ two
// minutes: its register liveness and its CSE after allocation grow faster
// than the body. A call per group of queries costs nothing next to the
// group's sums.
template <int L>
struct lane_code {
  template <typename F>
  static void run(const F& f) {
    f();
  }
};
#if QUIBRA_WIDE_LANES
template <>
struct lane_code<4> {
  template <typename F>
  [[gnu::noinline]] QUIBRA_AVX2 static void run(const F& f) {
    f();
  }
};
template <>
struct lane_code<8> {
  template <typename F>
  [[gnu::noinline]] QUIBRA_AVX512 static void run(const F& f) {
    f();
  }
};
#endif

// Whether lanes of type T have fused multiply-add: the wide paths, which
// run only where the processor has it (supported_lanes).
template <typename T>
constexpr bool HAS_FUSED = QUIBRA_WIDE_LANES&& LANES<T> >= 4;

#if QUIBRA_WIDE_LANES && !defined(__clang__)
// a * b + c rounded once, lane by lane. Inlined into the wide paths, whose
// instruction set it shares; anywhere else it is an ordinary call.
__attribute__((target("avx2,fma"))) inline v4d fused(v4d a, v4d b, v4d c) {
  return (v4d)_mm256_fmadd_pd((__m256d)a, (__m256d)b, (__m256d)c);
}
__attribute__((target("avx512f"))) inline v8d fused(v8d a, v8d b, v8d c) {
  return (v8d)_mm512_fmadd_pd((__m512d)a, (__m512d)b, (__m512d)c);
}
#elif QUIBRA_WIDE_LANES
// clang passes no wide vector to a function of another instruction set;
// lane by lane it fuses inside the wide paths, and calls the library's
// exact fma elsewhere.
template <typename T>
inline T fused(const T& a, const T& b, const T& c) {
  T r;
  for (int k = 0; k < LANES<T>; ++k) r[k] = __builtin_fma(a[k], b[k], c[k]);
  return r;
}
#endif

// a / b, correctly rounded, lane by lane, with rb = 1 / b correctly
// rounded. Where the lanes have fused multiply-add, without a division:
// q0 = a rb, the exact remainder e = a - q0 b (one rounding of an exact
// value), and q0 + e rb rounded once is the rounded quotient (Markstein's
// theorem: rb within half an ulp of 1 / b, q0 within an ulp of a / b). It
// needs every step in the normal range, which the callers ensure (the
// 2-lane path takes other data: smoother/fits/run.cpp); the tests and a fuzzer
// check it against the division.
template <typename T>
inline T quotient(const T& a, const T& b, const T& rb) {
  if constexpr (HAS_FUSED<T>) {
    const T q0 = a * rb;
    const T e = fused(-q0, b, a);
    return fused(e, rb, q0);
  } else {
    (void)rb;
    return a / b;
  }
}

// The widest lane count this processor runs: 8 with AVX-512F, 4 with AVX2
// and FMA (and the operating system's support for their registers), else 2;
// at most QUIBRA_MAX_LANES (2 or 4) where that is set, for tests only.
int supported_lanes();

#endif

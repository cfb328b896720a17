// The solve of the local fits' normal equations: the normal system from
// the power sums, its Gauss-Jordan inverse with partial pivoting, the
// coefficients. These print nothing: they tell what they met in a
// fit_trouble, and the caller decides when and whether to write it.
// numeric/reference/polyfit.h writes the same arithmetic out one fit at a
// time, as the reference these are tested against.
#ifndef QUIBRA_NUMERIC_SOLVE_H
#define QUIBRA_NUMERIC_SOLVE_H

#include <cstdint>

// The most coefficients a fit may have (degree 100). The normal system alone
// needs (degree + 1)^2 doubles per fit, and beyond that the power sums
// would overflow. Every fit rejects larger counts, and the call's argument
// check is derived from this.
inline constexpr std::int32_t MAX_NCOEF = 101;

// Accumulators a kernel of `nc` coefficients (0: any, up to MAX_NCOEF)
// keeps, `per` times nc less one: 2 for the power sums, 3 with the
// right-hand sides too.
constexpr int accumulators(int nc, int per) { return per * (nc > 0 ? nc : MAX_NCOEF) - 1; }

// What one local solve met. `singular`: no inverse, the fit fails.
// `unstable`: the inverse failed its product check, first at entry `worst`;
// the fit stands. `inaccurate`: it passed, but rounding may have moved the
// value by more than a trusted share of the data's magnitude
// (numeric/value_error.h); `error` is that estimate. Both unstable kinds
// are reported alike; the fit stands.
struct fit_trouble {
  bool singular = false;
  bool unstable = false;
  bool inaccurate = false;
  // The sums came from moved moments ('Method' 'fast') and this fit is too
  // sensitive for their rounding (numeric/value_error.h): it is made again
  // from direct sums, whose result and trouble replace these.
  bool recheck = false;
  double worst = 0.0;
  double error = 0.0;
};

// A fit's trouble kept in a byte until its line is written: which line, if
// any (the number on an unstable line is found again by fitting again).
enum : std::uint8_t { TROUBLE_NONE, TROUBLE_SINGULAR, TROUBLE_UNSTABLE };

inline std::uint8_t trouble_kind_of(const fit_trouble& t) {
  if (t.singular) return TROUBLE_SINGULAR;
  return t.unstable || t.inaccurate ? TROUBLE_UNSTABLE : TROUBLE_NONE;
}

// Writes t's line on standard error, if it has one: "Error: Singular matrix
// inversion attempted." or "Warning: Unstable equation system [worst]"
// (for an inaccurate fit, [error]).
void write_trouble(const fit_trouble& t);

// The normal system in m (ncoef + 1 rows of ncoef) from normal_sums'
// result (numeric/normal_sums.h): the Hankel matrix of the power sums, then
// the right-hand side, every entry times `keep` (1 - smoothing weight) when
// ncoef >= 2.
void fill_normal_system(double** m, std::int32_t ncoef, const double* sums, double keep);

// Gauss-Jordan inverse of the n-by-n matrix a into inv, with w as room
// for the working copy (both n rows of n; contents overwritten and row
// pointers possibly exchanged; small orders work on the stack instead).
// No inverse when the result is singular.
fit_trouble gauss_jordan(double* const* a, double** w, double** inv, std::int32_t n);

// coef[i] = sum over k of inv[i][k] b[k], in ascending k.
void solve_coefficients(double* const* inv, const double* b, double* coef, std::int32_t n);

#endif

// Where each query's window lies among the model's sorted points, its
// bandwidth, and the coordinate its polynomial is fitted in, for a group
// of L queries (one per vector lane).
#ifndef QUIBRA_SMOOTHER_WINDOWS_H
#define QUIBRA_SMOOTHER_WINDOWS_H

#include <cstdint>

#include "numeric/lanes.h"
#include "smoother/model.h"

namespace local_fit {

// Where a query's window lies, the span of its abscissae, and its bandwidth.
struct placement {
  std::int32_t start;
  double lo;
  double hi;
  double h;
};

// `hint`: a start to search from (find_window_start_near), the last one.
inline placement place(const smooth_model* model, double xq, std::int32_t& hint) {
  const double* xs = model->x;
  placement p{0, xs[0], xs[model->count - 1], 0.0};
  if (model->f < 1.0) {
    p.start = hint = find_window_start_near(xq, model->window, model->count, xs, hint);
    p.lo = xs[p.start];
    p.hi = xs[p.start + model->window - 1];
  }
  // Distance to the farther end, so that end gets weight 0.
  p.h = (xq - p.lo) > (p.hi - xq) ? (xq - p.lo) : (p.hi - xq);
  return p;
}

// Each lane's window in a group: where it lies, its bandwidth h, and the
// coordinate its query is fitted in, c = (x - z) / sc. Inside its window's
// span a query is its own centre (z = q, sc = h, cq = 0); outside, z is
// the span's middle and the query sits at cq.
template <int L>
struct group_windows {
  using vd = typename lanes_of<L>::d;
  const double* xs[L];
  const double* ys[L];
  const double* rs[L];
  const double* vs[L];  // the variances' weights: rs unless the model says otherwise
  vd q;
  vd h;
  vd z;
  vd sc;
  double cq[L];
  bool at_zero[L];
  std::int32_t start[L];
  bool outside = false;  // some wanted lane's query lies outside its span
};

template <int L>
inline group_windows<L> place_group(const smooth_model* model, const double xq[L], int used,
                                    std::int32_t& hint) {
  group_windows<L> g;
  for (int k = 0; k < L; ++k) {
    const placement p = place(model, xq[k], hint);
    g.start[k] = p.start;
    g.xs[k] = model->x + p.start;
    g.ys[k] = model->y + p.start;
    g.rs[k] = model->weights != nullptr ? model->weights + p.start : nullptr;
    g.vs[k] = model->variance_weights != nullptr ? model->variance_weights + p.start : g.rs[k];
    g.q[k] = xq[k];
    g.h[k] = p.h;
    g.at_zero[k] = !(xq[k] < p.lo || xq[k] > p.hi);
    g.outside = g.outside || (k < used && !g.at_zero[k]);
    const double at = g.at_zero[k] ? xq[k] : p.lo + (p.hi - p.lo) * 0.5;
    g.z[k] = at;
    g.sc[k] = (at - p.lo) > (p.hi - at) ? (at - p.lo) : (p.hi - at);
    g.cq[k] = g.at_zero[k] ? 0.0 : (xq[k] - at) / g.sc[k];
  }
  return g;
}

// The model points an edge fit takes, [first, end): the window's points and
// every point tied with its first or last abscissa beyond it, so that the
// fit does not depend on which of the tied points the window happened to
// take (their input order).
struct tie_range {
  std::int32_t first;
  std::int32_t end;
};

inline tie_range tied_range(const smooth_model* model, std::int32_t start) {
  const double* x = model->x;
  const std::int32_t last = start + model->window - 1;
  return tie_range{start + 1 - tie_reach(x, start, -1, start + 1),
                   last + tie_reach(x, last, 1, model->count - last)};
}

}  // namespace local_fit

#endif

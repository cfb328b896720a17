// How many queries share a vector register by default: of the widths the
// processor runs (2, 4 or 8 lanes), the one that sums fastest here. Every
// width gives the same bits, so only the time depends on the choice.
#ifndef QUIBRA_SMOOTHER_WIDTHS_H
#define QUIBRA_SMOOTHER_WIDTHS_H

// Timed once per process, at the first call that asks (a few milliseconds):
// a wider register is not faster on every processor (a narrower one may
// run at a higher clock, or have more units for it).
int fastest_lanes();

#endif

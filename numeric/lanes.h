// Two doubles per register. Every operation acts on each lane alone with
// ordinary IEEE 754 double arithmetic, so a lane computes bit for bit what
// the same scalar code computes; this only does two of them at once.
#ifndef QUIBRA_NUMERIC_LANES_H
#define QUIBRA_NUMERIC_LANES_H

#include <cstdint>

typedef double v2d __attribute__((vector_size(16)));
typedef std::int64_t v2i __attribute__((vector_size(16)));

#endif

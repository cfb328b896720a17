// A call the user interrupts (Ctrl-C): the calling thread asks the host
// between chunks of work and, once no worker runs, ends the smoother's work
// by throwing call_interrupted. The gateway turns it into the host's error
// exit. Nothing needs releasing on the way: all storage is the host's
// call-scoped storage, which it reclaims with the call.
#ifndef QUIBRA_SMOOTHER_INTERRUPT_H
#define QUIBRA_SMOOTHER_INTERRUPT_H

#include "host/services.h"

struct call_interrupted {};

// Throws call_interrupted when the user asked to interrupt. Calling thread
// only, with no worker running.
inline void stop_if_interrupted() {
  if (host_interrupt_pending()) throw call_interrupted{};
}

#endif

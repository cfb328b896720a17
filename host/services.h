// What the smoother and the kernels take from the host beyond storage: a
// console line, the host's inverse incomplete beta and whether the user
// asked to interrupt. Like storage.h it names no host array, so it needs no
// host header. Calling thread only.
#ifndef QUIBRA_HOST_SERVICES_H
#define QUIBRA_HOST_SERVICES_H

// Writes one formatted line to the host console.
void host_printf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The host's inverse of the regularized incomplete beta function: x with
// I_x(a, b) = y, through its interpreter's betaincinv; NaN when the host
// has none or it fails.
double host_betaincinv(double y, double a, double b);

// Whether the user asked to interrupt the call (Ctrl-C) and the host has
// not yet handled it. Cheap enough to ask between chunks of work; false in
// a host that offers no such query.
bool host_interrupt_pending();

// Ends the call as the host's error exit does, with "Interrupted." under
// quibra:interrupted: the user interrupted it. Calling thread only, with no
// worker running; nothing needs releasing, all storage being the host's
// call-scoped storage.
[[noreturn]] void host_interrupted();

#endif

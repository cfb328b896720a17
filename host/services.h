// What the smoother and the kernels take from the host beyond storage: a
// console line and the host's inverse incomplete beta. Like storage.h it
// names no host array, so it needs no host header. Calling thread only.
#ifndef QUIBRA_HOST_SERVICES_H
#define QUIBRA_HOST_SERVICES_H

// Writes one formatted line to the host console.
void host_printf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The host's inverse of the regularized incomplete beta function: x with
// I_x(a, b) = y, through its interpreter's betaincinv; NaN when the host
// has none or it fails.
double host_betaincinv(double y, double a, double b);

#endif

// A deliberately faulty MEX function, built only by the safety checks to
// prove that memcheck sees the reads a module makes inside Octave: it reads
// one double past the end of an mxMalloc block. If memcheck stays silent
// here, a clean memcheck run of quibra proves nothing.
#include <mex.h>

void mexFunction(int, mxArray* plhs[], int, const mxArray*[]) {
  double* block = static_cast<double*>(mxMalloc(4 * sizeof(double)));
  for (int i = 0; i < 4; ++i) block[i] = i;
  const volatile double past = block[4];
  plhs[0] = mxCreateDoubleScalar(past);
  mxFree(block);
}

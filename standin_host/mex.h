/* Stand-in for the MEX host's mex.h: exactly the declarations the module
   uses, with the host's own prototypes, so that code built against it also
   builds against the real header. Test code only; never linked into the
   module that a host loads. */
#ifndef QUIBRA_STANDIN_MEX_H
#define QUIBRA_STANDIN_MEX_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct mxArray_tag mxArray;
typedef int64_t mwSize;
typedef int64_t mwIndex;
typedef unsigned char mxLogical;
typedef enum { mxREAL = 0, mxCOMPLEX = 1 } mxComplexity;

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);

bool mxIsDouble(const mxArray* ptr);
bool mxIsComplex(const mxArray* ptr);
bool mxIsSparse(const mxArray* ptr);
bool mxIsChar(const mxArray* ptr);
bool mxIsClass(const mxArray* ptr, const char* name);
size_t mxGetM(const mxArray* ptr);
size_t mxGetN(const mxArray* ptr);
double* mxGetPr(const mxArray* ptr);
mxArray* mxCreateDoubleMatrix(mwSize nr, mwSize nc, mxComplexity flag);
mxArray* mxCreateDoubleScalar(double val);
mxArray* mxCreateLogicalMatrix(mwSize m, mwSize n);
mxArray* mxCreateString(const char* str);
mxArray* mxCreateStructMatrix(mwSize rows, mwSize cols, int num_keys, const char** keys);
mxLogical* mxGetLogicals(const mxArray* ptr);
bool mxIsLogical(const mxArray* ptr);
mwSize mxGetNumberOfDimensions(const mxArray* ptr);
const mwSize* mxGetDimensions(const mxArray* ptr);
int mxSetDimensions(mxArray* ptr, const mwSize* dims, mwSize ndims);
mxArray* mxCreateCellMatrix(mwSize m, mwSize n);
void mxSetCell(mxArray* ptr, mwIndex i, mxArray* value);
void mxSetField(mxArray* ptr, mwIndex index, const char* key, mxArray* val);
int mxGetString(const mxArray* ptr, char* buf, mwSize buflen);
char* mxArrayToString(const mxArray* ptr);

int mexCallMATLAB(int nargout, mxArray* argout[], int nargin, mxArray* argin[], const char* fname);
void mexErrMsgIdAndTxt(const char* id, const char* s, ...);
void mexWarnMsgIdAndTxt(const char* id, const char* s, ...);
int mexPrintf(const char* fmt, ...);

void* mxMalloc(size_t n);
void mxFree(void* ptr);

#ifdef __cplusplus
}
#endif

#endif

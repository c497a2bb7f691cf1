#pragma once

namespace qm {

// In-place radix-2 transforms on 1-based arrays of doubles.
//
// fftComplex: data[1..2 * nn] holds nn complex values as (re, im) pairs. isign +1 computes
// the sums of data[k] * exp(+2 PI i j k / nn); isign -1 the conjugate sums (no scaling).
//
// fftReal: isign +1 turns data[1..n] into the packed spectrum: data[1] = bin 0 (real),
// data[2] = bin n / 2 (real), data[2k + 1], data[2k + 2] = re, im of bin k for k = 1..n/2 - 1.
// isign -1 turns a packed spectrum into n / 2 times the sequence it came from.
//
// Both return 1, or 0 (data untouched) when the length is not a power of two (fftReal: at least
// 2), data is null or isign is not +1 or -1. Neither allocates.
int fftComplex(double* data, long nn, int isign);
int fftReal(double* data, long n, int isign);

bool IsPowerOfTwo(long n);
// The smallest power of two >= n (1 for n <= 1), or 0 when it would not fit in a long.
long NextPowerOfTwo(long n);

}  // namespace qm

#pragma once

// The transform kernels of PitchFftPlan, for any lane type: double (one frame) or a vector of
// doubles (one frame per lane, the same arithmetic in every lane). They have internal linkage
// on purpose: a file compiled for a wider instruction set includes them too, and its copies
// must never stand in for the plain ones.

#include "dsp/pitch_internal.h"

namespace qm {

namespace {

template <class T>
void ForwardBitReversed(const PitchFftTables& w, T* a) {
    const long nc = w.n / 2;
    // Decimation in frequency, forward sign: x, y -> x + y, (x - y) * w; two stages (h and
    // h / 2) per pass over the data.
    auto butterfly = [](T& xr, T& xi, T& yr, T& yi, double wr, double wi) {
        const T dr = xr - yr;
        const T di = xi - yi;
        xr += yr;
        xi += yi;
        yr = wr * dr - wi * di;
        yi = wr * di + wi * dr;
    };
    long h = nc / 2;
    for (; h >= 2; h /= 4) {
        const long q = h / 2;
        const double* c1 = w.cos + (h - 1);
        const double* s1 = w.sin + (h - 1);
        const double* c2 = w.cos + (q - 1);
        const double* s2 = w.sin + (q - 1);
        for (long g = 0; g < nc; g += 2 * h) {
            T* p = a + 2 * g;
            for (long k = 0; k < q; ++k) {
                T* q0 = p + 2 * k;
                T* q1 = q0 + 2 * q;
                T* q2 = q1 + 2 * q;
                T* q3 = q2 + 2 * q;
                T r0 = q0[0], i0 = q0[1], r1 = q1[0], i1 = q1[1];
                T r2 = q2[0], i2 = q2[1], r3 = q3[0], i3 = q3[1];
                butterfly(r0, i0, r2, i2, c1[k], s1[k]);
                butterfly(r1, i1, r3, i3, c1[k + q], s1[k + q]);
                butterfly(r0, i0, r1, i1, c2[k], s2[k]);
                butterfly(r2, i2, r3, i3, c2[k], s2[k]);
                q0[0] = r0, q0[1] = i0, q1[0] = r1, q1[1] = i1;
                q2[0] = r2, q2[1] = i2, q3[0] = r3, q3[1] = i3;
            }
        }
    }
    if (h == 1) {
        // Last stage: every twiddle is exactly 1.
        for (long g = 0; g < 2 * nc; g += 4) {
            const T xr = a[g], xi = a[g + 1];
            a[g] = xr + a[g + 2];
            a[g + 1] = xi + a[g + 3];
            a[g + 2] = xr - a[g + 2];
            a[g + 3] = xi - a[g + 3];
        }
    }
}

// Decimation in time, inverse sign, from bit-reversed input to natural order.
template <class T>
void InverseFromBitReversed(const PitchFftTables& w, T* a) {
    const long nc = w.n / 2;
    const double sinSign = -1.0;
    // First stage: every twiddle is exactly 1.
    for (long g = 0; g < 2 * nc; g += 4) {
        const T tr = a[g + 2];
        const T ti = a[g + 3];
        a[g + 2] = a[g] - tr;
        a[g + 3] = a[g + 1] - ti;
        a[g] += tr;
        a[g + 1] += ti;
    }
    // Two radix-2 stages per pass over the data (h and 2h): the same butterflies, with the
    // intermediate values kept in registers instead of written back in between.
    auto butterfly = [sinSign](T& xr, T& xi, T& yr, T& yi, double wr, double ws) {
        const double wi = sinSign * ws;
        const T tr = wr * yr - wi * yi;
        const T ti = wr * yi + wi * yr;
        yr = xr - tr;
        yi = xi - ti;
        xr += tr;
        xi += ti;
    };
    long h = 2;
    for (; 2 * h < nc; h *= 4) {
        const double* c1 = w.cos + (h - 1);
        const double* s1 = w.sin + (h - 1);
        const double* c2 = w.cos + (2 * h - 1);
        const double* s2 = w.sin + (2 * h - 1);
        for (long g = 0; g < nc; g += 4 * h) {
            T* p = a + 2 * g;
            for (long k = 0; k < h; ++k) {
                T* q0 = p + 2 * k;
                T* q1 = q0 + 2 * h;
                T* q2 = q1 + 2 * h;
                T* q3 = q2 + 2 * h;
                T r0 = q0[0], i0 = q0[1], r1 = q1[0], i1 = q1[1];
                T r2 = q2[0], i2 = q2[1], r3 = q3[0], i3 = q3[1];
                butterfly(r0, i0, r1, i1, c1[k], s1[k]);
                butterfly(r2, i2, r3, i3, c1[k], s1[k]);
                butterfly(r0, i0, r2, i2, c2[k], s2[k]);
                butterfly(r1, i1, r3, i3, c2[k + h], s2[k + h]);
                q0[0] = r0, q0[1] = i0, q1[0] = r1, q1[1] = i1;
                q2[0] = r2, q2[1] = i2, q3[0] = r3, q3[1] = i3;
            }
        }
    }
    if (h < nc) {
        const double* wc = w.cos + (h - 1);
        const double* ws = w.sin + (h - 1);
        for (long g = 0; g < nc; g += 2 * h) {
            T* x = a + 2 * g;
            T* y = x + 2 * h;
            for (long k = 0; k < h; ++k)
                butterfly(x[2 * k], x[2 * k + 1], y[2 * k], y[2 * k + 1], wc[k], ws[k]);
        }
    }
}

template <class T>
void PowerSpectrumRoundTrip(const PitchFftTables& w, T* data) {
    const long n = w.n;
    const long nc = n / 2;
    const long* rev = w.reversed;
    ForwardBitReversed(w, data + 1);
    // Each pair of bins k and n/2 - k: split into the real spectrum, square, and re-join for
    // the inverse, with the forward (c2 = -0.5) and inverse (c2 = +0.5, conjugate) twiddles.
    // The power spectrum is real, so the inverse split's imaginary inputs are zero. Bins sit
    // at their bit-reversed positions.
    for (long k = 1; k < nc / 2; ++k) {
        const long i1 = 2 * rev[k] + 1;
        const long i2 = i1 + 1;
        const long i3 = 2 * rev[nc - k] + 1;
        const long i4 = i3 + 1;
        const double wr = w.unpackCos[k + 1];
        const double wi = w.unpackSin[k + 1];
        const T h1r = 0.5 * (data[i1] + data[i3]);
        const T h1i = 0.5 * (data[i2] - data[i4]);
        const T h2r = 0.5 * (data[i2] + data[i4]);
        const T h2i = -0.5 * (data[i1] - data[i3]);
        const T ar = h1r + wr * h2r - wi * h2i;
        const T ai = h1i + wr * h2i + wi * h2r;
        const T br = h1r - wr * h2r + wi * h2i;
        const T bi = -h1i + wr * h2i + wi * h2r;
        const T pa = ar * ar + ai * ai;
        const T pb = br * br + bi * bi;
        const T g1r = 0.5 * (pa + pb);
        const T g2i = 0.5 * (pa - pb);
        data[i1] = g1r + wi * g2i;
        data[i2] = wr * g2i;
        data[i3] = g1r - wi * g2i;
        data[i4] = wr * g2i;
    }
    // Bin n/4 is its own partner: both splits leave it alone, only its power is taken.
    const long mid = 2 * rev[nc / 2] + 1;
    data[mid] = data[mid] * data[mid] + data[mid + 1] * data[mid + 1];
    data[mid + 1] = T{};
    // Bin 0 (reversed position 0) carries the DC and Nyquist values.
    const T h1r = data[1];
    const T p0 = (h1r + data[2]) * (h1r + data[2]);
    const T pn = (h1r - data[2]) * (h1r - data[2]);
    data[1] = 0.5 * (p0 + pn);
    data[2] = 0.5 * (p0 - pn);
    InverseFromBitReversed(w, data + 1);
}

}  // namespace

#if defined(QUILLMAR_PITCH_FFT_AVX)
// The four-lane kernel compiled for AVX (pitch_fft_avx.cpp); only to be called when
// PitchFftPlan::WideLanesAvailable().
void PowerSpectrumRoundTripAvx(const PitchFftTables& tables, FrameQuad* data);
#endif

}  // namespace qm

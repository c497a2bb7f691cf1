#include "dsp/fft.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "dsp/constants.h"

namespace qm {

namespace {

// Butterfly positions whose twiddle factors are held at once (two small stack arrays).
constexpr long kTwiddleRun = 64;

}  // namespace

bool IsPowerOfTwo(long n) {
    return n > 0 && (n & (n - 1)) == 0;
}

long NextPowerOfTwo(long n) {
    long p = 1;
    while (p < n) {
        if (p > std::numeric_limits<long>::max() / 2)
            return 0;
        p *= 2;
    }
    return p;
}

int fftComplex(double* data, long nn, int isign) {
    if (data == nullptr || !IsPowerOfTwo(nn) || (isign != 1 && isign != -1) ||
        nn > std::numeric_limits<long>::max() / 2) {
        return 0;
    }
    const long n = 2 * nn;
    long j = 1;
    for (long i = 1; i < n; i += 2) {
        if (j > i) {
            std::swap(data[j], data[i]);
            std::swap(data[j + 1], data[i + 1]);
        }
        long m = nn;
        while (m >= 2 && j > m) {
            j -= m;
            m /= 2;
        }
        j += m;
    }
    long mmax = 2;
    while (n > mmax) {
        const long istep = 2 * mmax;
        const double theta = kDspTwoPi / (isign * mmax);
        // The twiddle recurrence w <- w * exp(i theta), with cos(theta) - 1 as -2 sin^2(theta / 2)
        // to keep its rounding small.
        const double wtemp0 = std::sin(0.5 * theta);
        const double wpr = -2.0 * wtemp0 * wtemp0;
        const double wpi = std::sin(theta);
        double wr = 1.0;
        double wi = 0.0;
        // The twiddles of a run of butterfly positions come from the recurrence first, then
        // every block of the array is swept for the whole run: the same butterflies with the
        // same factors as one sweep per position, but over neighbouring memory instead of
        // strides across the whole array, which for long transforms is what costs the time.
        for (long m0 = 1; m0 < mmax; m0 += 2 * kTwiddleRun) {
            const long run = std::min(kTwiddleRun, (mmax - m0 + 1) / 2);
            double runWr[kTwiddleRun];
            double runWi[kTwiddleRun];
            for (long c = 0; c < run; ++c) {
                runWr[c] = wr;
                runWi[c] = wi;
                const double wtemp = wr;
                wr = wr * wpr - wi * wpi + wr;
                wi = wi * wpr + wtemp * wpi + wi;
            }
            for (long block = 0; block < n; block += istep) {
                double* lo = data + block + m0;
                double* hi = lo + mmax;
                for (long c = 0; c < run; ++c) {
                    const double tr = runWr[c];
                    const double ti = runWi[c];
                    const double tempr = tr * hi[2 * c] - ti * hi[2 * c + 1];
                    const double tempi = tr * hi[2 * c + 1] + ti * hi[2 * c];
                    hi[2 * c] = lo[2 * c] - tempr;
                    hi[2 * c + 1] = lo[2 * c + 1] - tempi;
                    lo[2 * c] += tempr;
                    lo[2 * c + 1] += tempi;
                }
            }
        }
        mmax = istep;
    }
    return 1;
}

int fftReal(double* data, long n, int isign) {
    if (data == nullptr || n < 2 || !IsPowerOfTwo(n) || (isign != 1 && isign != -1))
        return 0;
    // The n real values go through an n / 2-point complex transform; c1 and c2 split (or join)
    // its result into the spectra of the even and the odd samples.
    double theta = kDspPi / static_cast<double>(n / 2);
    const double c1 = 0.5;
    double c2 = 0.0;
    if (isign == 1) {
        c2 = -0.5;
        fftComplex(data, n / 2, 1);
    } else {
        c2 = 0.5;
        theta = -theta;
    }
    const double wtemp0 = std::sin(0.5 * theta);
    const double wpr = -2.0 * wtemp0 * wtemp0;
    const double wpi = std::sin(theta);
    double wr = 1.0 + wpr;
    double wi = wpi;
    for (long i = 2; i <= n / 4; ++i) {
        const long i1 = 2 * i - 1;
        const long i2 = i1 + 1;
        const long i3 = n + 3 - i2;
        const long i4 = i3 + 1;
        const double h1r = c1 * (data[i1] + data[i3]);
        const double h1i = c1 * (data[i2] - data[i4]);
        const double h2r = -c2 * (data[i2] + data[i4]);
        const double h2i = c2 * (data[i1] - data[i3]);
        data[i1] = h1r + wr * h2r - wi * h2i;
        data[i2] = h1i + wr * h2i + wi * h2r;
        data[i3] = h1r - wr * h2r + wi * h2i;
        data[i4] = -h1i + wr * h2i + wi * h2r;
        const double wtemp = wr;
        wr = wr * wpr - wi * wpi + wr;
        wi = wi * wpr + wtemp * wpi + wi;
    }
    const double h1r = data[1];
    if (isign == 1) {
        data[1] = h1r + data[2];
        data[2] = h1r - data[2];
    } else {
        data[1] = c1 * (h1r + data[2]);
        data[2] = c1 * (h1r - data[2]);
        fftComplex(data, n / 2, -1);
    }
    return 1;
}

}  // namespace qm

#include "dsp/fft.h"

#include <cmath>
#include <limits>
#include <utility>

#include "dsp/constants.h"

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
        const double wtemp0 = std::sin(0.5 * theta);
        const double wpr = -2.0 * wtemp0 * wtemp0;
        const double wpi = std::sin(theta);
        double wr = 1.0;
        double wi = 0.0;
        for (long m = 1; m < mmax; m += 2) {
            for (long i = m; i <= n; i += istep) {
                const long k = i + mmax;
                const double tempr = wr * data[k] - wi * data[k + 1];
                const double tempi = wr * data[k + 1] + wi * data[k];
                data[k] = data[i] - tempr;
                data[k + 1] = data[i + 1] - tempi;
                data[i] += tempr;
                data[i + 1] += tempi;
            }
            const double wtemp = wr;
            wr = wr * wpr - wi * wpi + wr;
            wi = wi * wpr + wtemp * wpi + wi;
        }
        mmax = istep;
    }
    return 1;
}

int fftReal(double* data, long n, int isign) {
    if (data == nullptr || n < 2 || !IsPowerOfTwo(n) || (isign != 1 && isign != -1))
        return 0;
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

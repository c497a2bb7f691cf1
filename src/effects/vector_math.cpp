#include "effects/vector_math.h"

#include <cmath>
#include <cstring>
#include <numbers>

namespace qm {

namespace {

typedef float Floats __attribute__((vector_size(16)));
typedef int32_t Ints __attribute__((vector_size(16)));
typedef double Doubles __attribute__((vector_size(16)));
typedef int64_t Longs __attribute__((vector_size(16)));

template <typename V, typename T>
V Load(const T* p) {
    V v;
    std::memcpy(&v, p, sizeof(v));
    return v;
}

template <typename V, typename T>
void Store(T* p, V v) {
    std::memcpy(p, &v, sizeof(v));
}

template <typename V, typename M>
V Select(M mask, V yes, V no) {
    return reinterpret_cast<V>((mask & reinterpret_cast<M>(yes)) |
                               (~mask & reinterpret_cast<M>(no)));
}

Floats Splat(float v) {
    return Floats{v, v, v, v};
}

Doubles Splat2(double v) {
    return Doubles{v, v};
}

// Clears the sign bit.
Floats Abs(Floats v) {
    return reinterpret_cast<Floats>(reinterpret_cast<Ints>(v) &
                                    Ints{0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF});
}

// atan of a in [0, 1]: fold (0.268, 1] onto |t| <= tan(pi/12) around pi/6, where the odd
// Taylor series to t^11 is exact to 3e-9.
Floats AtanUnit(Floats a) {
    constexpr float kTanPi12 = 0.26794919f;
    constexpr float kInvSqrt3 = 0.57735027f;
    const Ints far = a > Splat(kTanPi12);
    const Floats folded = (a - Splat(kInvSqrt3)) / (Splat(1.0f) + a * Splat(kInvSqrt3));
    const Floats t = Select(far, folded, a);
    const Floats base = Select(far, Splat(static_cast<float>(std::numbers::pi / 6.0)), Splat(0.0f));
    const Floats t2 = t * t;
    // atan t = t - t^3/3 + t^5/5 - ... - t^11/11.
    Floats p = Splat(-1.0f / 11.0f);
    p = p * t2 + Splat(1.0f / 9.0f);
    p = p * t2 + Splat(-1.0f / 7.0f);
    p = p * t2 + Splat(1.0f / 5.0f);
    p = p * t2 + Splat(-1.0f / 3.0f);
    return base + (t + t * t2 * p);
}

Floats Atan2Lanes(Floats y, Floats x) {
    const Floats ax = Abs(x);
    const Floats ay = Abs(y);
    const Ints steep = ay > ax;
    const Floats num = Select(steep, ax, ay);
    const Floats den = Select(steep, ay, ax);
    // 0/0 (a silent bin) gives phase 0, as atan2 does.
    const Floats a = Select(den > Splat(0.0f), num / den, Splat(0.0f));
    Floats r = AtanUnit(a);
    r = Select(steep, Splat(static_cast<float>(std::numbers::pi / 2.0)) - r, r);
    const Ints signX = reinterpret_cast<Ints>(x) < Ints{0, 0, 0, 0};
    r = Select(signX, Splat(static_cast<float>(std::numbers::pi)) - r, r);
    // The sign bit of y, put onto the result: atan2 is odd in y.
    const Ints signY = reinterpret_cast<Ints>(y) & Ints{INT32_MIN, INT32_MIN, INT32_MIN, INT32_MIN};
    return reinterpret_cast<Floats>(reinterpret_cast<Ints>(r) ^ signY);
}

// Phases beyond this (and NaN) are left to the library; only hours of sound get there.
constexpr double kFastReduction = 1.0e9;

// Reduces two phases to x = n * pi/2 + r, |r| <= pi/4, in double precision; pi/2 is split so
// that n times its high part is exact for every n below 2^20.
void Reduce(Doubles x, Doubles& r, Longs& n) {
    constexpr double kTwoOverPi = 2.0 / std::numbers::pi;
    constexpr double kHalfPiHigh = 1.5707963267341256;
    constexpr double kHalfPiLow = 6.077100506506192e-11;
    constexpr double kRound = 6755399441055744.0;  // 1.5 * 2^52: adding it rounds to integer
    const Doubles q = (x * Splat2(kTwoOverPi) + Splat2(kRound)) - Splat2(kRound);
    r = (x - q * Splat2(kHalfPiHigh)) - q * Splat2(kHalfPiLow);
    n = __builtin_convertvector(q, Longs);
}

// cos and sin of four phases: reduction in double, Taylor polynomials in float on the
// reduced argument (truncation below 2e-9 on |r| <= pi/4).
void CosSinLanes(const float* phase, float* cosOut, float* sinOut) {
    Doubles r0, r1;
    Longs n0, n1;
    Reduce(Doubles{phase[0], phase[1]}, r0, n0);
    Reduce(Doubles{phase[2], phase[3]}, r1, n1);
    const Floats r = {static_cast<float>(r0[0]), static_cast<float>(r0[1]),
                      static_cast<float>(r1[0]), static_cast<float>(r1[1])};
    // The quadrant, n mod 4.
    const Ints q = {static_cast<int32_t>(n0[0] & 3), static_cast<int32_t>(n0[1] & 3),
                    static_cast<int32_t>(n1[0] & 3), static_cast<int32_t>(n1[1] & 3)};
    const Floats r2 = r * r;
    // Taylor coefficients: sin -1/11!, 1/9!, -1/7!, 1/5!, -1/3!; cos 1/12!, -1/10!, 1/8!,
    // -1/6!, 1/4!, -1/2!.
    Floats sp = Splat(-2.5052108e-08f);
    sp = sp * r2 + Splat(2.7557319e-06f);
    sp = sp * r2 + Splat(-1.9841270e-04f);
    sp = sp * r2 + Splat(8.3333333e-03f);
    sp = sp * r2 + Splat(-1.6666667e-01f);
    const Floats sinR = r + r * r2 * sp;
    Floats cp = Splat(2.0876757e-09f);
    cp = cp * r2 + Splat(-2.7557319e-07f);
    cp = cp * r2 + Splat(2.4801587e-05f);
    cp = cp * r2 + Splat(-1.3888889e-03f);
    cp = cp * r2 + Splat(4.1666667e-02f);
    cp = cp * r2 + Splat(-0.5f);
    const Floats cosR = Splat(1.0f) + r2 * cp;
    const Ints zero = {0, 0, 0, 0};
    const Ints swap = (q & Ints{1, 1, 1, 1}) != zero;
    const Floats sinBase = Select(swap, cosR, sinR);
    const Floats cosBase = Select(swap, sinR, cosR);
    const Ints sinNeg = (q & Ints{2, 2, 2, 2}) != zero;
    const Ints cosNeg = ((q + Ints{1, 1, 1, 1}) & Ints{2, 2, 2, 2}) != zero;
    Store(sinOut, Select(sinNeg, -sinBase, sinBase));
    Store(cosOut, Select(cosNeg, -cosBase, cosBase));
}

}  // namespace

void PhaseOfBins(const float* y, const float* x, float* out, uint32_t count) {
    uint32_t k = 0;
    for (; k + 4 <= count; k += 4)
        Store(out + k, Atan2Lanes(Load<Floats>(y + k), Load<Floats>(x + k)));
    for (; k < count; ++k)
        out[k] = static_cast<float>(std::atan2(static_cast<double>(y[k]), x[k]));
}

void CosSinOfPhases(const float* phase, float* cosOut, float* sinOut, uint32_t count) {
    uint32_t k = 0;
    for (; k + 4 <= count; k += 4) {
        const Floats x = Abs(Load<Floats>(phase + k));
        const Ints fast = x < Splat(static_cast<float>(kFastReduction));
        if (fast[0] & fast[1] & fast[2] & fast[3]) {
            CosSinLanes(phase + k, cosOut + k, sinOut + k);
            continue;
        }
        for (uint32_t j = k; j < k + 4; ++j) {
            cosOut[j] = static_cast<float>(std::cos(static_cast<double>(phase[j])));
            sinOut[j] = static_cast<float>(std::sin(static_cast<double>(phase[j])));
        }
    }
    for (; k < count; ++k) {
        cosOut[k] = static_cast<float>(std::cos(static_cast<double>(phase[k])));
        sinOut[k] = static_cast<float>(std::sin(static_cast<double>(phase[k])));
    }
}

}  // namespace qm

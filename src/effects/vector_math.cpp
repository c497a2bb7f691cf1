#include "effects/vector_math.h"

#include <cmath>
#include <cstring>
#include <numbers>

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
    const Ints signY = reinterpret_cast<Ints>(y) & Ints{INT32_MIN, INT32_MIN, INT32_MIN, INT32_MIN};
    return reinterpret_cast<Floats>(reinterpret_cast<Ints>(r) ^ signY);
}

// Phases beyond this are reduced by the library (only hours of sound get there).
constexpr double kFastReduction = 1.0e9;

void CosSinPair(Doubles x, Doubles& c, Doubles& s) {
    // x = n * pi/2 + r with |r| <= pi/4; pi/2 split so that n * kHalfPiHigh is exact.
    constexpr double kTwoOverPi = 2.0 / std::numbers::pi;
    constexpr double kHalfPiHigh = 1.5707963267341256;
    constexpr double kHalfPiLow = 6.077100506506192e-11;
    constexpr double kRound = 6755399441055744.0;  // 1.5 * 2^52
    const Doubles n = (x * Splat2(kTwoOverPi) + Splat2(kRound)) - Splat2(kRound);
    const Doubles r = (x - n * Splat2(kHalfPiHigh)) - n * Splat2(kHalfPiLow);
    const Doubles r2 = r * r;
    Doubles sp = Splat2(-2.5052108385441720e-08);
    sp = sp * r2 + Splat2(2.7557319223985893e-06);
    sp = sp * r2 + Splat2(-1.9841269841269841e-04);
    sp = sp * r2 + Splat2(8.3333333333333333e-03);
    sp = sp * r2 + Splat2(-1.6666666666666667e-01);
    const Doubles sinR = r + r * r2 * sp;
    Doubles cp = Splat2(2.0876756987868099e-09);
    cp = cp * r2 + Splat2(-2.7557319223985888e-07);
    cp = cp * r2 + Splat2(2.4801587301587302e-05);
    cp = cp * r2 + Splat2(-1.3888888888888889e-03);
    cp = cp * r2 + Splat2(4.1666666666666667e-02);
    cp = cp * r2 + Splat2(-0.5);
    const Doubles cosR = Splat2(1.0) + r2 * cp;
    const Longs q = __builtin_convertvector(n, Longs);
    const Longs swap = (q & Longs{1, 1}) != Longs{0, 0};
    const Doubles sinBase = Select(swap, cosR, sinR);
    const Doubles cosBase = Select(swap, sinR, cosR);
    const Longs sinNeg = (q & Longs{2, 2}) != Longs{0, 0};
    const Longs cosNeg = ((q + Longs{1, 1}) & Longs{2, 2}) != Longs{0, 0};
    s = Select(sinNeg, -sinBase, sinBase);
    c = Select(cosNeg, -cosBase, cosBase);
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
    for (uint32_t k = 0; k < count; k += 2) {
        if (k + 1 < count && std::fabs(phase[k]) < kFastReduction &&
            std::fabs(phase[k + 1]) < kFastReduction) {
            Doubles c, s;
            CosSinPair(Doubles{phase[k], phase[k + 1]}, c, s);
            cosOut[k] = static_cast<float>(c[0]);
            cosOut[k + 1] = static_cast<float>(c[1]);
            sinOut[k] = static_cast<float>(s[0]);
            sinOut[k + 1] = static_cast<float>(s[1]);
            continue;
        }
        for (uint32_t j = k; j < count && j < k + 2; ++j) {
            cosOut[j] = static_cast<float>(std::cos(static_cast<double>(phase[j])));
            sinOut[j] = static_cast<float>(std::sin(static_cast<double>(phase[j])));
        }
    }
}

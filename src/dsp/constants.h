#pragma once

namespace qm {

// The library's circle constants are these short decimal values, not the full-precision ones:
// its windows and transforms are defined with them, and the numbers it produces follow.
inline constexpr double kDspPi = 3.1415926;
inline constexpr double kDspTwoPi = 6.2831852;

}  // namespace qm

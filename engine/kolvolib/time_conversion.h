// The C interface counts time in seconds since 1904-01-01 as doubles; the engine stores
// whole Unix seconds as signed 32-bit numbers. These convert between the two.
#pragma once

#include <cmath>
#include <cstdint>

namespace kolvo {

inline constexpr double macEpochOffset = 2082844800.0;

// Truncated toward zero; a value beyond what 32 bits hold is clamped, NaN gives 0.
inline int32_t unixFromMacTime(double macSeconds) {
  double unix = std::trunc(macSeconds - macEpochOffset);
  if (std::isnan(unix)) return 0;
  if (unix >= 2147483647.0) return INT32_MAX;
  if (unix <= -2147483648.0) return INT32_MIN;
  return static_cast<int32_t>(unix);
}

inline double macFromUnixTime(int32_t unixSeconds) { return static_cast<double>(unixSeconds) + macEpochOffset; }

}  // namespace kolvo

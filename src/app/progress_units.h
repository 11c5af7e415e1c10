// The units progress is told in: a whole bar is a hundred per cent, a minute sixty seconds.
#pragma once

namespace zephor::app {

inline constexpr long kPercent = 100;
inline constexpr long kSecondsPerMinute = 60;

}  // namespace zephor::app

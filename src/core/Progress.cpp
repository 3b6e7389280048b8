#include "Progress.h"

#include <limits>

static_assert(std::numeric_limits<long double>::digits == 64,
              "progress positions need the 80-bit extended format (64-bit mantissa)");

int ProgressPosition(int done, int total) {
  // volatile keeps every intermediate in memory at extended precision, so no
  // step is fused or folded at another precision.
  volatile long double ratio =
      static_cast<long double>(total - done) / static_cast<long double>(total);
  volatile long double rest = 1.0L - ratio;
  volatile long double percent = rest * 100.0L;
  return static_cast<int>(percent);
}

// Definitions for the argument check to judge.
#include "wide/wide.h"

namespace {

struct Reader {
  // Too many: seven.
  bool take(int a, int b, int c, int d, int e, int f, int g);
};

}  // namespace

// Too many: seven, defined outside its class.
bool Reader::take(int a, int b, int c, int d, int e, int f, int g) {
  // Calls with many arguments are not declarations.
  if (spread(1, 2, 3, 4, 5, 6) > 0) return SPREAD(1, 2, 3, 4, 5, 6) > 0;
  // Too many: a lambda of six.
  auto sum = [](int p, int q, int r, int s, int t, int u) { return p + q + r + s + t + u; };
  return sum(a, b, c, d, e, f) + g > 0;
}

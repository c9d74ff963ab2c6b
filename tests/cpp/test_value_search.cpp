// Value search: the fast search must give exactly the result of the plain walk
// 0, 1, -1, 2, -2, ... (first match wins, -1 otherwise) for every input.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "group/hash_to_curve.hpp"
#include "group/point.hpp"
#include "group/scalar.hpp"
#include "group/value_search.hpp"

using namespace nacrel;

namespace {

Point times(const Point& p, int64_t v) { return p.mul_public(Scalar::from_i64(v)); }

// The plain walk with every product computed by a full multiplication; the
// products of one base are computed once and shared between targets.
class NaiveWalk {
 public:
  NaiveWalk(const Point& base, int32_t range) {
    for (int64_t i = 0; i < range; ++i) {
      pos_.push_back(times(base, i));
      neg_.push_back(times(base, -i));
    }
  }
  int32_t find(const Point& target) const {
    for (size_t i = 0; i < pos_.size(); ++i) {
      if (pos_[i] == target) return static_cast<int32_t>(i);
      if (neg_[i] == target) return -static_cast<int32_t>(i);
    }
    return -1;
  }

 private:
  std::vector<Point> pos_, neg_;
};

Point some_base() { return times(Point::generator(), 0x1234567); }

Point unrelated_point() {
  const uint8_t seed[] = {'n', 'o', ' ', 'l', 'o', 'g'};
  return generate_random_point(seed, sizeof seed);
}

}  // namespace

// Every target v*Q around the window, for windows on both sides of the switch
// from the direct walk to the table search, plus targets that are no small
// multiple at all.
TEST(ValueSearch, MatchesNaiveWalkOnSmallWindows) {
  const Point q = some_base();
  const Point stray = unrelated_point();
  for (int32_t range : {1, 2, 3, 64, 65, 66, 67, 150, 257, 1025, 1026}) {
    SCOPED_TRACE(range);
    const NaiveWalk naive(q, range);
    for (int64_t v = -int64_t(range) - 3; v <= int64_t(range) + 3; ++v) {
      const Point target = times(q, v);
      const int32_t expected = naive.find(target);
      EXPECT_EQ(find_small_multiple(q, target, range), expected) << "v = " << v;
      if (v > -range && v < range) {
        EXPECT_EQ(expected, v);
      } else {
        EXPECT_EQ(expected, -1);
      }
    }
    EXPECT_EQ(find_small_multiple(q, stray, range), naive.find(stray));
    EXPECT_EQ(find_small_multiple(q, stray, range), -1);
  }
}

// Degenerate inputs: identity base (every candidate matches the identity, so
// the first one, 0, wins), identity target, empty windows.
TEST(ValueSearch, DegenerateInputs) {
  const Point q = some_base();
  const Point id = Point::identity();
  struct Case {
    Point base, target;
    int32_t range, expected;
  };
  const Case cases[] = {
      {id, id, 5, 0},
      {id, id, 100, 0},
      {id, q, 5, -1},
      {id, q, 100, -1},
      {q, id, 1, 0},
      {q, id, 1000, 0},
      {q, q, 1, -1},  // window {0} only
      {q, q, 0, -1},
      {q, id, 0, -1},
      {id, id, 0, -1},
      {q, id, -1, -1},
      {q, times(q, -1), std::numeric_limits<int32_t>::min(), -1},
      {q, times(q, -1), 2, -1},  // the value -1 itself: indistinguishable from no match
  };
  for (const Case& c : cases) {
    const NaiveWalk naive(c.base, c.range < 0 ? 0 : c.range);
    EXPECT_EQ(find_small_multiple(c.base, c.target, c.range), c.expected) << "range " << c.range;
    EXPECT_EQ(naive.find(c.target), c.expected) << "range " << c.range;
  }
}

// Edges of larger windows, where the walk itself is too slow to run.
TEST(ValueSearch, EdgesOfLargeWindows) {
  const Point q = some_base();
  const int32_t max = std::numeric_limits<int32_t>::max();
  struct Case {
    int32_t range;
    int64_t v, expected;
  };
  const Case cases[] = {
      {1000, 999, 999},       {1000, -999, -999},     {1000, 1000, -1},       {1000, -1000, -1},
      {100000, 99999, 99999}, {100000, -99999, -99999}, {100000, 100000, -1}, {100000, 54321, 54321},
      {max, 0, 0},            {max, max - 1, max - 1}, {max, -(max - 1), -(max - 1)},
      {max, max, -1},         {max, -int64_t(max), -1}, {max, -987654321, -987654321},
      {max, int64_t(1) << 31, -1},
      // Both sides of the end of the near table search (|v| = 1024) before the whole-window one.
      {1025, 1024, 1024},     {1025, -1024, -1024},   {1025, 1025, -1},       {1026, 1025, 1025},
      {1026, -1025, -1025},   {max, 1024, 1024},      {max, -1024, -1024},    {max, 1025, 1025},
      {max, -1025, -1025},    {max, 1026, 1026},      {max, -1026, -1026},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(find_small_multiple(q, times(q, c.v), c.range), c.expected) << "range " << c.range << " v " << c.v;
  }
}

// The committed value comes back from commitment, token and secret; h and the
// public key do not enter the result.
TEST(ValueSearch, RecoversCommittedValue) {
  const Point h = Point::generator();
  const uint8_t seed[] = {1};
  const Point g = generate_random_point(seed, 1);
  const Scalar sk = Scalar::random();
  for (int32_t v : {0, 1, -1, 42, -42, 999, -999, 1000}) {
    const Scalar rho = Scalar::random();
    const Point c = g * Scalar::from_i64(v) + h * rho;
    const Point t = (h * sk) * rho;
    const int32_t expected = (v > -1000 && v < 1000) ? v : -1;
    EXPECT_EQ(recover_committed_value(c, t, g, sk, 1000), expected) << v;
  }
  // A wrong secret finds nothing (with overwhelming probability).
  const Scalar rho = Scalar::random();
  const Point c = g * Scalar::from_i64(7) + h * rho;
  EXPECT_EQ(recover_committed_value(c, (h * sk) * rho, g, Scalar::random(), 1000), -1);
}

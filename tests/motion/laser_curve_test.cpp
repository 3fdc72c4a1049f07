#include "motion/laser_curve.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <utility>
#include <vector>

#include "tests/motion/laser_curve_points.h"

namespace kelvro {
namespace {

using Points = test::CurvePoints;
using test::MakeCurve;

// Independent natural spline: the full n x n system for the knot second derivatives M,
// solved by Gaussian elimination with partial pivoting, evaluated in the moment form
//   S(x) = M_k (x_k+1 - x)^3 / 6h + M_k+1 (x - x_k)^3 / 6h
//        + (y_k / h - M_k h / 6)(x_k+1 - x) + (y_k+1 / h - M_k+1 h / 6)(x - x_k).
class ReferenceSpline {
 public:
  explicit ReferenceSpline(const Points& pts) : p_(pts) {
    const size_t n = p_.size();
    std::vector<std::vector<double>> a(n, std::vector<double>(n + 1, 0.0));
    a[0][0] = 1.0;          // M_0 = 0
    a[n - 1][n - 1] = 1.0;  // M_n-1 = 0
    for (size_t i = 1; i + 1 < n; ++i) {
      const double h0 = p_[i].first - p_[i - 1].first;
      const double h1 = p_[i + 1].first - p_[i].first;
      a[i][i - 1] = h0;
      a[i][i] = 2.0 * (h0 + h1);
      a[i][i + 1] = h1;
      a[i][n] =
          6.0 * ((p_[i + 1].second - p_[i].second) / h1 - (p_[i].second - p_[i - 1].second) / h0);
    }
    for (size_t col = 0; col < n; ++col) {
      size_t piv = col;
      for (size_t r = col + 1; r < n; ++r) {
        if (std::fabs(a[r][col]) > std::fabs(a[piv][col])) piv = r;
      }
      std::swap(a[col], a[piv]);
      for (size_t r = 0; r < n; ++r) {
        if (r == col) continue;
        const double f = a[r][col] / a[col][col];
        for (size_t k = col; k <= n; ++k) a[r][k] -= f * a[col][k];
      }
    }
    m_.resize(n);
    for (size_t i = 0; i < n; ++i) m_[i] = a[i][n] / a[i][i];
  }

  double At(double x) const {
    const size_t n = p_.size();
    if (x >= p_[n - 1].first) return p_[n - 1].second;
    size_t k = 0;
    while (k + 2 < n && x >= p_[k + 1].first) ++k;  // linear scan, not bisection
    const double x0 = p_[k].first, x1 = p_[k + 1].first;
    const double y0 = p_[k].second, y1 = p_[k + 1].second;
    const double h = x1 - x0;
    const double l = x1 - x, r = x - x0;
    return m_[k] * l * l * l / (6.0 * h) + m_[k + 1] * r * r * r / (6.0 * h) +
           (y0 / h - m_[k] * h / 6.0) * l + (y1 / h - m_[k + 1] * h / 6.0) * r;
  }

 private:
  Points p_;
  std::vector<double> m_;
};

void ExpectMatchesReference(const PreparedLaserCurve& prepared, const Points& sorted_points) {
  const ReferenceSpline ref(sorted_points);
  const double lo = sorted_points.front().first - 15.0;
  const double hi = sorted_points.back().first + 15.0;
  for (double x = lo; x <= hi; x += 0.37) {
    EXPECT_NEAR(LaserCurveAt(prepared, x), ref.At(x), 1e-9) << "x = " << x;
  }
  for (const auto& [px, py] : sorted_points) {
    EXPECT_NEAR(LaserCurveAt(prepared, px), py, 1e-9) << "knot " << px;
  }
}

TEST(LaserCurve, AgreesWithIndependentNaturalSpline) {
  const std::vector<Points> curves = {
      {{0, 0}, {100, 100}},
      {{0, 10}, {50, 80}, {100, 90}},
      {{0, 0}, {10, 40}, {25, 55}, {60, 70}, {100, 100}},
      {{0, 100}, {5, 3}, {7, 90}, {40, 12}, {41, 60}, {77, 0}, {100, 50}},
      {{0, 5}, {20, 15}, {40, 35}, {60, 60}, {80, 85}, {100, 99}},
  };
  for (const Points& pts : curves) {
    SCOPED_TRACE(pts.size());
    const PreparedLaserCurve c = BuildLaserCurve(MakeCurve(pts));
    EXPECT_FALSE(c.repaired);
    EXPECT_EQ(c.count, static_cast<int>(pts.size()));
    ExpectMatchesReference(c, pts);
  }
}

TEST(LaserCurve, TwentyPointCurve) {
  Points pts;
  for (int i = 0; i < 20; ++i) {
    const double x = i * 100.0 / 19.0;
    pts.push_back({x, 50.0 + 40.0 * std::sin(x / 9.0)});
  }
  const PreparedLaserCurve c = BuildLaserCurve(MakeCurve(pts));
  EXPECT_FALSE(c.repaired);
  ExpectMatchesReference(c, pts);
}

TEST(LaserCurve, StartCurveIsTheDiagonal) {
  const PreparedLaserCurve c = BuildLaserCurve(LaserCurve{});
  EXPECT_DOUBLE_EQ(LaserCurveAt(c, 37.5), 37.5);
  EXPECT_DOUBLE_EQ(LaserCurveAt(c, 150.0), 100.0);
  EXPECT_DOUBLE_EQ(LaserCurveAt(c, -10.0), -10.0);
}

TEST(LaserCurve, BeyondLastPointGivesLastY) {
  const PreparedLaserCurve c = BuildLaserCurve(MakeCurve({{0, 10}, {30, 70}, {100, 42}}));
  EXPECT_EQ(LaserCurveAt(c, 100.0), 42.0);
  EXPECT_EQ(LaserCurveAt(c, 150.0), 42.0);
  EXPECT_EQ(LaserCurveAt(c, std::numeric_limits<double>::infinity()), 42.0);
}

TEST(LaserCurve, BelowFirstPointExtrapolatesFirstCubicPiece) {
  const Points pts = {{0, 10}, {30, 70}, {100, 42}};
  const PreparedLaserCurve c = BuildLaserCurve(MakeCurve(pts));
  // First piece with M0 = 0: S(x) = M1 (x - 0)^3 / 6h + (10/h)(30 - x) + (70/h - M1 h/6) x.
  // Natural spline, one interior knot: M1 = 6 ((42-70)/70 - (70-10)/30) / (2 (30 + 70)).
  const double m1 = 6.0 * ((42.0 - 70.0) / 70.0 - (70.0 - 10.0) / 30.0) / 200.0;
  const double x = -10.0;
  const double h = 30.0;
  const double expected =
      m1 * x * x * x / (6.0 * h) + (10.0 / h) * (30.0 - x) + (70.0 / h - m1 * h / 6.0) * (x - 0.0);
  EXPECT_NEAR(LaserCurveAt(c, -10.0), expected, 1e-9);
  // It is a cubic, not the straight line through the first two points (which gives -10).
  EXPECT_GT(std::fabs(LaserCurveAt(c, -10.0) - (-10.0)), 1.0);
}

TEST(LaserCurve, ClampedEndSlopesAreHonoured) {
  const PreparedLaserCurve c =
      BuildLaserCurve(MakeCurve({{0, 0}, {40, 30}, {100, 100}}), 2.0, -1.0);
  const double d = 1e-6;
  EXPECT_NEAR((LaserCurveAt(c, d) - LaserCurveAt(c, 0.0)) / d, 2.0, 1e-4);
  EXPECT_NEAR((LaserCurveAt(c, 100.0 - d) - LaserCurveAt(c, 100.0 - 2 * d)) / d, -1.0, 1e-4);
}

TEST(LaserCurve, DuplicateXIsMergedIntoOnePointWithMeanY) {
  const PreparedLaserCurve c = BuildLaserCurve(MakeCurve({{0, 0}, {50, 20}, {50, 60}, {100, 100}}));
  EXPECT_TRUE(c.repaired);
  EXPECT_EQ(c.count, 3);
  ExpectMatchesReference(c, {{0, 0}, {50, 40}, {100, 100}});
}

TEST(LaserCurve, DuplicateEndPointStaysFinite) {
  const PreparedLaserCurve c =
      BuildLaserCurve(MakeCurve({{0, 0}, {30, 50}, {100, 80}, {100, 100}}));
  EXPECT_TRUE(c.repaired);
  ExpectMatchesReference(c, {{0, 0}, {30, 50}, {100, 90}});
}

TEST(LaserCurve, UnorderedPointsAreSorted) {
  const PreparedLaserCurve c = BuildLaserCurve(MakeCurve({{0, 0}, {100, 100}, {30, 10}, {70, 80}}));
  EXPECT_TRUE(c.repaired);
  ExpectMatchesReference(c, {{0, 0}, {30, 10}, {70, 80}, {100, 100}});
}

TEST(LaserCurve, AllPointsAtOneXGiveAConstant) {
  const PreparedLaserCurve c = BuildLaserCurve(MakeCurve({{50, 10}, {50, 30}, {50, 80}}));
  EXPECT_TRUE(c.repaired);
  EXPECT_EQ(c.count, 1);
  for (double x : {-100.0, 0.0, 50.0, 99.0, 1e9}) EXPECT_DOUBLE_EQ(LaserCurveAt(c, x), 40.0);
}

TEST(LaserCurve, NonFinitePointsAreDropped) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const PreparedLaserCurve c =
      BuildLaserCurve(MakeCurve({{0, 0}, {nan, 5}, {40, inf}, {60, 30}, {100, 100}}));
  EXPECT_TRUE(c.repaired);
  ExpectMatchesReference(c, {{0, 0}, {60, 30}, {100, 100}});
}

TEST(LaserCurve, CountIsLimitedToTwoToTwenty) {
  LaserCurve small = MakeCurve({{0, 20}, {100, 60}});
  for (int count : {-5, 0, 1}) {
    small.count = count;
    const PreparedLaserCurve c = BuildLaserCurve(small);
    EXPECT_TRUE(c.repaired);
    EXPECT_EQ(c.count, 2);
    EXPECT_DOUBLE_EQ(LaserCurveAt(c, 50.0), 40.0);
  }

  Points pts;
  for (int i = 0; i < 20; ++i) pts.push_back({i * 5.0, i * 5.0});
  LaserCurve big = MakeCurve(pts);
  big.count = 1000;
  const PreparedLaserCurve c = BuildLaserCurve(big);
  EXPECT_TRUE(c.repaired);
  EXPECT_EQ(c.count, 20);
  EXPECT_DOUBLE_EQ(LaserCurveAt(c, 42.5), 42.5);
  EXPECT_DOUBLE_EQ(LaserCurveAt(c, 200.0), 95.0);  // last of the 20 points
}

TEST(LaserCurve, StrangeArgumentsGiveDefinedResults) {
  const PreparedLaserCurve c = BuildLaserCurve(MakeCurve({{0, 7}, {30, 70}, {100, 42}}));
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(LaserCurveAt(c, nan), 7.0);
  EXPECT_EQ(LaserCurveAt(c, -inf), 7.0);
  // Overflowing extrapolation falls back to the first Y instead of inf or NaN.
  EXPECT_TRUE(std::isfinite(LaserCurveAt(c, -1e200)));

  const PreparedLaserCurve empty;
  EXPECT_EQ(LaserCurveAt(empty, 50.0), 0.0);

  PreparedLaserCurve broken;  // not built by BuildLaserCurve: equal X, bad count
  broken.count = 99;
  EXPECT_TRUE(std::isfinite(LaserCurveAt(broken, 0.0)));
  EXPECT_TRUE(std::isfinite(LaserCurveAt(broken, -3.0)));
}

TEST(LaserCurve, TinySpacingDoesNotProduceNaN) {
  const PreparedLaserCurve c =
      BuildLaserCurve(MakeCurve({{0, 0}, {1e-310, 100}, {2e-310, 0}, {100, 100}}));
  for (double x : {-5.0, 0.0, 1e-310, 50.0, 99.0}) {
    EXPECT_TRUE(std::isfinite(LaserCurveAt(c, x))) << x;
  }
}

}  // namespace
}  // namespace kelvro

// The correction query against an independent bilinear interpolation, its edge hold,
// continuity and exactness; the cell lookup; the plane fit against the normal equations.
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "tests/zcorr/z_map_test_support.h"

namespace kelvro::test {
namespace {

// A grid as the test knows it: lines and Z by row.
struct Grid {
  std::vector<double> xs;
  std::vector<double> ys;
  std::vector<std::vector<double>> z;  // z[row][col]
};

// Straightforward bilinear interpolation with the coordinates first held to the rectangle:
// walk to the cell, then weight the four corners.
double ReferenceBilinear(const Grid& g, double x, double y) {
  x = std::min(std::max(x, g.xs.front()), g.xs.back());
  y = std::min(std::max(y, g.ys.front()), g.ys.back());
  size_t c = 0;
  while (c + 2 < g.xs.size() && x > g.xs[c + 1]) ++c;
  size_t r = 0;
  while (r + 2 < g.ys.size() && y > g.ys[r + 1]) ++r;
  const double u = (x - g.xs[c]) / (g.xs[c + 1] - g.xs[c]);
  const double v = (y - g.ys[r]) / (g.ys[r + 1] - g.ys[r]);
  return g.z[r][c] * (1 - u) * (1 - v) + g.z[r][c + 1] * u * (1 - v) + g.z[r + 1][c] * (1 - u) * v +
         g.z[r + 1][c + 1] * u * v;
}

std::vector<double> RandomLines(std::mt19937_64& rng, size_t n, bool even) {
  std::uniform_real_distribution<double> start(-200.0, 200.0);
  std::uniform_real_distribution<double> gap(0.5, 12.0);
  std::vector<double> lines(n);
  lines[0] = start(rng);
  const double step = gap(rng);
  for (size_t i = 1; i < n; ++i) lines[i] = even ? lines[0] + step * i : lines[i - 1] + gap(rng);
  return lines;
}

Grid RandomGrid(std::mt19937_64& rng, bool even) {
  std::uniform_int_distribution<size_t> count(2, 9);
  std::uniform_real_distribution<double> height(-2.0, 2.0);
  Grid g;
  g.xs = RandomLines(rng, count(rng), even);
  g.ys = RandomLines(rng, count(rng), even);
  g.z.assign(g.ys.size(), std::vector<double>(g.xs.size()));
  for (auto& row : g.z) {
    for (double& v : row) v = height(rng);
  }
  return g;
}

class ZMapQuery : public ZMapTest {
 protected:
  void Load(const Grid& g) {
    const auto z = [&g](double x, double y) {
      size_t c = 0, r = 0;
      while (g.xs[c] != x) ++c;
      while (g.ys[r] != y) ++r;
      return g.z[r][c];
    };
    ASSERT_TRUE(LoadText(GridText(g.xs, g.ys, z))) << testing::PrintToString(Boxes());
    ASSERT_EQ(map.cols(), static_cast<int>(g.xs.size()));
    ASSERT_EQ(map.rows(), static_cast<int>(g.ys.size()));
  }
  std::mt19937_64 rng{20240611};
};

TEST_F(ZMapQuery, NoMapGivesZero) {
  EXPECT_EQ(map.ZCorrectionAt(0.0, 0.0), 0.0);
  EXPECT_EQ(map.ZCorrectionAt(std::nan(""), 1e300), 0.0);
}

TEST_F(ZMapQuery, AgreesWithIndependentBilinearOnRandomGrids) {
  for (int round = 0; round < 60; ++round) {
    const bool even = round % 2 == 0;
    const Grid g = RandomGrid(rng, even);
    Load(g);
    std::uniform_real_distribution<double> qx(g.xs.front() - 20, g.xs.back() + 20);
    std::uniform_real_distribution<double> qy(g.ys.front() - 20, g.ys.back() + 20);
    for (int k = 0; k < 400; ++k) {
      const double x = qx(rng), y = qy(rng);
      ASSERT_NEAR(map.ZCorrectionAt(x, y), ReferenceBilinear(g, x, y), 1e-12)
          << "round " << round << " at " << x << ", " << y;
    }
  }
}

TEST_F(ZMapQuery, ExactAtGridPoints) {
  for (int round = 0; round < 30; ++round) {
    const Grid g = RandomGrid(rng, round % 2 == 0);
    Load(g);
    for (size_t r = 0; r < g.ys.size(); ++r) {
      for (size_t c = 0; c < g.xs.size(); ++c) {
        ASSERT_EQ(map.ZCorrectionAt(g.xs[c], g.ys[r]), g.z[r][c]) << r << "," << c;
      }
    }
  }
}

TEST_F(ZMapQuery, ContinuousAcrossEveryCellBorder) {
  const double below = -std::numeric_limits<double>::infinity();
  const double above = std::numeric_limits<double>::infinity();
  for (int round = 0; round < 30; ++round) {
    const Grid g = RandomGrid(rng, round % 2 == 0);
    Load(g);
    std::uniform_real_distribution<double> qx(g.xs.front(), g.xs.back());
    std::uniform_real_distribution<double> qy(g.ys.front(), g.ys.back());
    for (size_t c = 1; c + 1 < g.xs.size(); ++c) {
      for (int k = 0; k < 20; ++k) {
        const double x = g.xs[c], y = qy(rng);
        const double left = map.ZCorrectionAt(std::nextafter(x, below), y);
        const double right = map.ZCorrectionAt(std::nextafter(x, above), y);
        ASSERT_NEAR(left, right, 1e-12) << "x border " << c;
        ASSERT_NEAR(left, map.ZCorrectionAt(x, y), 1e-12);
      }
    }
    for (size_t r = 1; r + 1 < g.ys.size(); ++r) {
      for (int k = 0; k < 20; ++k) {
        const double x = qx(rng), y = g.ys[r];
        const double low = map.ZCorrectionAt(x, std::nextafter(y, below));
        const double high = map.ZCorrectionAt(x, std::nextafter(y, above));
        ASSERT_NEAR(low, high, 1e-12) << "y border " << r;
        ASSERT_NEAR(low, map.ZCorrectionAt(x, y), 1e-12);
      }
    }
  }
}

// Equal up to round-off: on an x87 unit one of two results may keep extra bits.
TEST_F(ZMapQuery, HoldsTheEdgeOutsideTheRectangle) {
  for (int round = 0; round < 20; ++round) {
    const Grid g = RandomGrid(rng, round % 2 == 0);
    Load(g);
    const double x0 = g.xs.front(), x1 = g.xs.back(), y0 = g.ys.front(), y1 = g.ys.back();
    std::uniform_real_distribution<double> in_x(x0, x1), in_y(y0, y1);
    std::uniform_real_distribution<double> out(0.001, 1e6);
    for (int k = 0; k < 50; ++k) {
      const double x = in_x(rng), y = in_y(rng), d = out(rng);
      EXPECT_DOUBLE_EQ(map.ZCorrectionAt(x0 - d, y), map.ZCorrectionAt(x0, y));
      EXPECT_DOUBLE_EQ(map.ZCorrectionAt(x1 + d, y), map.ZCorrectionAt(x1, y));
      EXPECT_DOUBLE_EQ(map.ZCorrectionAt(x, y0 - d), map.ZCorrectionAt(x, y0));
      EXPECT_DOUBLE_EQ(map.ZCorrectionAt(x, y1 + d), map.ZCorrectionAt(x, y1));
    }
    // Beyond the corners: the corner points.
    EXPECT_EQ(map.ZCorrectionAt(x0 - 5, y0 - 5), g.z.front().front());
    EXPECT_EQ(map.ZCorrectionAt(x1 + 5, y0 - 5), g.z.front().back());
    EXPECT_EQ(map.ZCorrectionAt(x0 - 5, y1 + 5), g.z.back().front());
    EXPECT_EQ(map.ZCorrectionAt(x1 + 5, y1 + 5), g.z.back().back());
  }
}

TEST_F(ZMapQuery, NonFiniteAndHugeCoordinatesGiveGridValues) {
  const Grid g = RandomGrid(rng, true);
  Load(g);
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(map.ZCorrectionAt(inf, inf), g.z.back().back());
  EXPECT_EQ(map.ZCorrectionAt(-inf, -1e308), g.z.front().front());
  EXPECT_EQ(map.ZCorrectionAt(1e308, -inf), g.z.front().back());
  // NaN is held to the low edge.
  EXPECT_EQ(map.ZCorrectionAt(nan, nan), g.z.front().front());
  EXPECT_EQ(map.ZCorrectionAt(nan, inf), g.z.back().front());
  EXPECT_EQ(map.ZCorrectionAt(g.xs[1], nan), g.z.front()[1]);
}

TEST_F(ZMapQuery, FollowsTheNormalisedValues) {
  const Grid g = RandomGrid(rng, true);
  const auto z = [&g](double x, double y) {
    size_t c = 0, r = 0;
    while (g.xs[c] != x) ++c;
    while (g.ys[r] != y) ++r;
    return g.z[r][c];
  };
  ASSERT_TRUE(LoadText(GridText(g.xs, g.ys, z), kZNormalHighest));
  const double x = (g.xs.front() + g.xs.back()) / 2, y = (g.ys.front() + g.ys.back()) / 2;
  EXPECT_NEAR(map.ZCorrectionAt(x, y), ReferenceBilinear(g, x, y) - map.norm_offset(), 1e-12);
  EXPECT_EQ(map.ZCorrectionAt(g.xs[0], g.ys[0]), g.z[0][0] - map.norm_offset());
}

TEST(ZGridAxisTest, EvenAndUnevenLines) {
  ZGridAxis axis;
  axis.Assign({0.0, 5.0, 10.0, 15.0});
  EXPECT_TRUE(axis.evenly_spaced());
  axis.Assign({0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7});  // not exact in binary, but even
  EXPECT_TRUE(axis.evenly_spaced());
  axis.Assign({0.0, 5.0, 11.0, 15.0});
  EXPECT_FALSE(axis.evenly_spaced());
}

TEST(ZGridAxisTest, CellsOfBothLookups) {
  // The same coordinates give the same cells whether they are computed or searched.
  const std::vector<double> even = {-3.0, -1.0, 1.0, 3.0, 5.0};
  const std::vector<double> nudged = {-3.0, -1.0, 1.0, 3.00001, 5.0};
  ZGridAxis a, b;
  a.Assign(even);
  b.Assign(nudged);
  ASSERT_TRUE(a.evenly_spaced());
  ASSERT_FALSE(b.evenly_spaced());
  struct Case {
    double v;
    int index;
    double t;
  };
  for (const Case& c :
       {Case{-10, 0, 0.0}, Case{-3, 0, 0.0}, Case{-2, 0, 0.5}, Case{-1, 1, 0.0}, Case{0.5, 1, 0.75},
        Case{1, 2, 0.0}, Case{4, 3, 0.5}, Case{5, 3, 1.0}, Case{50, 3, 1.0}}) {
    const ZGridAxis::Cell ca = a.Locate(c.v);
    const ZGridAxis::Cell cb = b.Locate(c.v);
    EXPECT_EQ(ca.index, c.index) << c.v;
    EXPECT_DOUBLE_EQ(ca.t, c.t) << c.v;
    EXPECT_EQ(cb.index, c.index) << c.v;
    EXPECT_NEAR(cb.t, c.t, 1e-5) << c.v;
  }
}

TEST(ZGridAxisTest, RoundOffNeverPicksAWrongCell) {
  // Lines that are even within the tolerance but not on the even positions: every
  // coordinate just below or at a line lands in the cell that holds it.
  std::vector<double> lines;
  for (int i = 0; i <= 50; ++i) lines.push_back(i * 0.1 + (i % 3 == 0 ? 1e-9 : -1e-9));
  ZGridAxis axis;
  axis.Assign(lines);
  ASSERT_TRUE(axis.evenly_spaced());
  for (size_t i = 1; i + 1 < lines.size(); ++i) {
    const ZGridAxis::Cell at = axis.Locate(lines[i]);
    EXPECT_EQ(at.index, static_cast<int>(i));
    EXPECT_EQ(at.t, 0.0);
    const ZGridAxis::Cell before = axis.Locate(std::nextafter(lines[i], -1.0));
    EXPECT_EQ(before.index, static_cast<int>(i) - 1);
    EXPECT_GT(before.t, 0.99);
    EXPECT_LE(before.t, 1.0);
  }
}

// Least squares z = a·x + b·y + c by the normal equations, solved by Cramer's rule in
// extended precision (the sums of squares of uncentred coordinates lose digits in double).
struct Fit {
  double a, b, c;
};

using Real = long double;

Real Det3(const Real m[3][3]) {
  return m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
         m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
         m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
}

Fit NormalEquations(const std::vector<ZMapPoint>& pts) {
  Real sxx = 0, sxy = 0, sx = 0, syy = 0, sy = 0, n = 0, sxz = 0, syz = 0, sz = 0;
  for (const ZMapPoint& p : pts) {
    const Real x = p.x, y = p.y, z = p.z;
    sxx += x * x;
    sxy += x * y;
    sx += x;
    syy += y * y;
    sy += y;
    n += 1;
    sxz += x * z;
    syz += y * z;
    sz += z;
  }
  const Real m[3][3] = {{sxx, sxy, sx}, {sxy, syy, sy}, {sx, sy, n}};
  const Real rhs[3] = {sxz, syz, sz};
  const Real d = Det3(m);
  double out[3];
  for (int k = 0; k < 3; ++k) {
    Real mk[3][3];
    for (int i = 0; i < 3; ++i) {
      for (int j = 0; j < 3; ++j) mk[i][j] = j == k ? rhs[i] : m[i][j];
    }
    out[k] = static_cast<double>(Det3(mk) / d);
  }
  return {out[0], out[1], out[2]};
}

TEST_F(ZMapQuery, PlaneFitAgreesWithTheNormalEquations) {
  std::uniform_real_distribution<double> slope(-0.02, 0.02);
  std::uniform_real_distribution<double> offset(-3.0, 3.0);
  std::normal_distribution<double> noise(0.0, 0.01);
  for (int round = 0; round < 40; ++round) {
    Grid g = RandomGrid(rng, round % 2 == 0);
    const double a = slope(rng), b = slope(rng), c = offset(rng);
    for (size_t r = 0; r < g.ys.size(); ++r) {
      for (size_t k = 0; k < g.xs.size(); ++k)
        g.z[r][k] = a * g.xs[k] + b * g.ys[r] + c + noise(rng);
    }
    Load(g);
    const Fit fit = NormalEquations(map.points());
    double above = 0.0, below = 0.0;
    for (const ZMapPoint& p : map.points()) {
      const double plane = fit.a * p.x + fit.b * p.y + fit.c;
      EXPECT_NEAR(map.PlaneZAt(p.x, p.y), plane, 1e-9);
      above = std::max(above, p.z - plane);
      below = std::min(below, p.z - plane);
    }
    EXPECT_NEAR(map.PlaneZAt(-500.0, 700.0), fit.a * -500.0 + fit.b * 700.0 + fit.c, 1e-8);
    EXPECT_NEAR(map.dev_above(), above, 1e-9);
    EXPECT_NEAR(map.dev_below(), below, 1e-9);
  }
}

TEST(FitZPlaneTest, SteepPlanesPickTheirLargestDeterminant) {
  // A plane x = 0.5·z + 3 (nearly vertical, facing X): the fit's normal must be
  // parallel to (1, 0, -0.5).
  std::vector<ZMapPoint> pts;
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) pts.push_back({0.5 * (i * 2.0) + 3.0, j * 1.5, i * 2.0});
  }
  ZPlane plane;
  ASSERT_TRUE(FitZPlane(pts, &plane));
  EXPECT_NEAR(plane.ny / plane.nx, 0.0, 1e-12);
  EXPECT_NEAR(plane.nz / plane.nx, -0.5, 1e-12);
  for (const ZMapPoint& p : pts) {
    EXPECT_NEAR(plane.nx * p.x + plane.ny * p.y + plane.nz * p.z, plane.d,
                1e-12 * std::fabs(plane.d));
  }
}

TEST(FitZPlaneTest, TooFewOrCollinearPointsLeaveThePlane) {
  ZPlane plane{1, 2, 3, 4};
  EXPECT_FALSE(FitZPlane(std::vector<ZMapPoint>{{0, 0, 0}, {1, 1, 1}}, &plane));
  EXPECT_FALSE(
      FitZPlane(std::vector<ZMapPoint>{{0, 0, 0}, {1, 1, 1}, {2, 2, 2}, {3, 3, 3}}, &plane));
  EXPECT_EQ(plane.nx, 1.0);
  EXPECT_EQ(plane.d, 4.0);
}

}  // namespace
}  // namespace kelvro::test

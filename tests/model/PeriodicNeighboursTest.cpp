// The periodic neighbour list against a walk over every image of every mark:
// the same images within a reach, the same pairs under a policy, in skewed,
// left-handed and tiny cells, at special positions and cell faces, with
// coordinates that are no number or a negative zero.
#include "PeriodicNeighbours.h"

#include "FakeHost.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <random>
#include <set>
#include <tuple>

namespace {

using Key = std::tuple<uint32_t, int32_t, int32_t, int32_t>;

// The metric of the rows (G = A A^t): squared distances through it, not
// through Cartesian positions as the list measures them.
struct Metric {
  double g[3][3];
  explicit Metric(const CellFrame &f) {
    for (int i = 0; i < 3; i++)
      for (int j = 0; j < 3; j++)
        g[i][j] = f.axes[i][0] * f.axes[j][0] + f.axes[i][1] * f.axes[j][1] + f.axes[i][2] * f.axes[j][2];
  }
  double DistanceSq(const double d[3]) const {
    double s = 0.0;
    for (int i = 0; i < 3; i++)
      for (int j = 0; j < 3; j++)
        s += d[i] * g[i][j] * d[j];
    return s;
  }
};

// Every image of every finite mark by brute force, whole-cell shifts walked
// beyond any that could reach, with its squared distance: those within the
// reach and a little more (the rest are beyond it).
std::vector<std::pair<Key, double>> EveryImage(const CellFrame &f, const std::vector<NeighbourMarkInput> &marks,
                                               const double p[3], double reach) {
  const Metric metric(f);
  const double kept = reach * reach * 1.01 + 1e-6;
  std::vector<std::pair<Key, double>> all;
  int span[3];
  for (int k = 0; k < 3; k++) {
    const double *r = f.reciprocal[k];
    span[k] = static_cast<int>(std::ceil(reach * std::sqrt(r[0] * r[0] + r[1] * r[1] + r[2] * r[2]))) + 1;
  }
  for (uint32_t m = 0; m < marks.size(); m++) {
    const double *x = marks[m].xyz;
    if (!std::isfinite(x[0]) || !std::isfinite(x[1]) || !std::isfinite(x[2]))
      continue;
    const int base[3] = {static_cast<int>(std::lround(p[0] - x[0])), static_cast<int>(std::lround(p[1] - x[1])),
                         static_cast<int>(std::lround(p[2] - x[2]))};
    for (int a = base[0] - span[0]; a <= base[0] + span[0]; a++)
      for (int b = base[1] - span[1]; b <= base[1] + span[1]; b++)
        for (int c = base[2] - span[2]; c <= base[2] + span[2]; c++) {
          const double d[3] = {x[0] + a - p[0], x[1] + b - p[1], x[2] + c - p[2]};
          const double d2 = metric.DistanceSq(d);
          if (d2 <= kept)
            all.push_back({Key{m, a, b, c}, d2});
        }
  }
  return all;
}

// The visit's hits are the brute force's images within the reach (those
// within a hair of the sphere's surface may go either way), in mark and
// shift order, at the same distances.
void ExpectVisitIsBruteForce(PeriodicNeighbours &list, const CellFrame &f, const std::vector<NeighbourMarkInput> &marks,
                             const double p[3], double reach, const std::string &what) {
  std::vector<NeighbourHit> hits;
  ASSERT_EQ(list.Visit(p, reach, hits), NeighbourStatus::kDone) << what;
  std::map<Key, double> found;
  for (size_t k = 0; k < hits.size(); k++) {
    const NeighbourHit &h = hits[k];
    const Key key{h.mark, h.shift[0], h.shift[1], h.shift[2]};
    EXPECT_TRUE(found.emplace(key, h.d2).second) << what << ": an image visited twice";
    if (k > 0) {
      const NeighbourHit &g = hits[k - 1];
      EXPECT_LT((Key{g.mark, g.shift[0], g.shift[1], g.shift[2]}), key) << what << ": out of order";
    }
  }
  const double band = 1e-9 * (1.0 + reach * reach);
  size_t near = 0;
  for (const auto &[key, d2] : EveryImage(f, marks, p, reach)) {
    const auto it = found.find(key);
    const bool visited = it != found.end();
    if (d2 < reach * reach - band) {
      EXPECT_TRUE(visited) << what << ": mark " << std::get<0>(key) << " shift " << std::get<1>(key) << " "
                           << std::get<2>(key) << " " << std::get<3>(key) << " at " << std::sqrt(d2) << " missed";
    } else if (d2 > reach * reach + band) {
      EXPECT_FALSE(visited) << what << ": mark " << std::get<0>(key) << " at " << std::sqrt(d2) << " is beyond";
    }
    if (visited) {
      EXPECT_NEAR(it->second, d2, band) << what;
      near++;
    }
  }
  // Every hit is an image the brute force finds near the reach.
  EXPECT_EQ(near, found.size()) << what;
}

std::vector<NeighbourMarkInput> RandomMarks(size_t n, uint32_t seed, double spread) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> u(-spread, 1.0 + spread);
  std::vector<NeighbourMarkInput> marks(n);
  for (uint32_t m = 0; m < n; m++) {
    marks[m].mark.atom = marks[m].mark.site = m;
    for (double &x : marks[m].xyz)
      x = u(random);
  }
  return marks;
}

CellFrame LeftHanded(const double cell[6]) {
  double rows[3][3];
  StandardCellVectors(cell[0], cell[1], cell[2], cell[3], cell[4], cell[5], rows);
  for (double &x : rows[2])
    x = -x;
  CellFrame f;
  EXPECT_TRUE(CellFrameOfRows(rows, f));
  return f;
}

NeighbourMarkInput At(uint32_t atom, double x, double y, double z) {
  NeighbourMarkInput m;
  m.mark.atom = m.mark.site = atom;
  m.xyz[0] = x;
  m.xyz[1] = y;
  m.xyz[2] = z;
  return m;
}

// The cells the visits are tried in.
constexpr double kTriclinic[6] = {5.1, 6.3, 7.2, 75.0, 82.0, 101.0};
constexpr double kNeedle[6] = {3.0, 3.4, 40.0, 90.0, 90.0, 20.0}; // thin across a and b
constexpr double kBig[6] = {22.0, 19.0, 24.0, 90.0, 100.0, 90.0};
constexpr double kTiny[6] = {2.1, 2.6, 2.3, 70.0, 80.0, 115.0};
struct VisitCase {
  const char *what;
  CellFrame frame;
  std::vector<NeighbourMarkInput> marks;
  double reach;
};

TEST(PeriodicNeighbours, VisitsWhatEveryImageWithinTheReachIs) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  // Special positions, cell faces (given either side and a cell away, at -0
  // and a hair below 0), and a mark twice at one place.
  const std::vector<NeighbourMarkInput> special = {
      At(0, 0.0, 0.0, 0.0),          At(1, 0.5, 0.5, 0.5),    At(2, 1.0, 0.25, 0.0), At(3, -1.0, 0.5, 1.0),
      At(4, 1.0 / 3, 2.0 / 3, 0.25), At(5, 0.5, 0.0, 0.5),    At(6, 0.5, 0.0, 0.5),  At(7, 2.0, -3.0, 0.75),
      At(8, -0.0, 0.5, -0.0),        At(9, -1e-18, 0.75, 0.5)};
  const VisitCase cases[] = {
      {"triclinic", StandardCellFrame(kTriclinic), RandomMarks(40, 1, 0.0), 4.0},
      {"left-handed", LeftHanded(kTriclinic), RandomMarks(40, 2, 0.3), 4.0},
      {"needle cell", StandardCellFrame(kNeedle), RandomMarks(60, 3, 0.0), 5.5},
      {"many bins", StandardCellFrame(kBig), RandomMarks(250, 4, 0.0), 3.0},
      {"many bins, left-handed", LeftHanded(kBig), RandomMarks(250, 5, 2.0), 3.0},
      {"reach beyond the cell", StandardCellFrame(kTiny), RandomMarks(5, 6, 0.0), 7.5},
      {"special positions", StandardCellFrame(kTriclinic), special, 6.0},
      {"special positions, tiny cell", LeftHanded(kTiny), special, 5.0},
  };
  for (const VisitCase &c : cases) {
    PeriodicNeighbours list(c.frame, c.marks, c.reach);
    ASSERT_TRUE(list.Valid()) << c.what;
    // From every mark (its own position and a cell away), from points of the
    // cell's faces and corners, and at a shorter and a longer reach.
    std::vector<std::array<double, 3>> points = {
        {0.0, 0.0, 0.0}, {1.0, 1.0, 1.0}, {0.5, 0.0, 1.0}, {-0.0, 0.999999, 0.5}};
    for (size_t m = 0; m < c.marks.size() && m < 5; m++)
      points.push_back({c.marks[m].xyz[0], c.marks[m].xyz[1] + 1.0, c.marks[m].xyz[2] - 2.0});
    for (const auto &p : points)
      for (double reach : {c.reach, 0.5 * c.reach, 1.7 * c.reach})
        ExpectVisitIsBruteForce(list, c.frame, c.marks, p.data(), reach, c.what);
  }
  // A mark at no number is left out, never visited and never in the way of
  // the others; a point at no number has no neighbours.
  std::vector<NeighbourMarkInput> withNaN = RandomMarks(30, 8, 0.0);
  withNaN[3].xyz[1] = nan;
  withNaN[17].xyz[2] = std::numeric_limits<double>::infinity();
  withNaN[20].xyz[0] = 1e300;
  PeriodicNeighbours list(StandardCellFrame(kTriclinic), withNaN, 4.0);
  EXPECT_EQ(list.Skipped(), 3u);
  withNaN[20].xyz[0] = nan; // the brute force leaves it out too
  for (const NeighbourMarkInput &m : withNaN)
    if (std::isfinite(m.xyz[0]) && std::isfinite(m.xyz[1]) && std::isfinite(m.xyz[2])) {
      ExpectVisitIsBruteForce(list, StandardCellFrame(kTriclinic), withNaN, m.xyz, 4.0, "no number");
    }
  std::vector<NeighbourHit> hits;
  const double nowhere[3] = {0.5, nan, 0.5};
  EXPECT_EQ(list.Visit(nowhere, 4.0, hits), NeighbourStatus::kDone);
  EXPECT_TRUE(hits.empty());
}

// The pairs the policy keeps by brute force: from each mark, every image of
// every mark, each pair once.
std::set<std::tuple<uint32_t, uint32_t, int32_t, int32_t, int32_t>>
PairsByBruteForce(const CellFrame &f, const std::vector<NeighbourMarkInput> &marks, const NeighbourPolicy &policy,
                  double longest, const std::set<uint32_t> &crowded) {
  std::set<std::tuple<uint32_t, uint32_t, int32_t, int32_t, int32_t>> pairs;
  for (uint32_t a = 0; a < marks.size(); a++) {
    const NeighbourMark &ma = marks[a].mark;
    for (const auto &[key, d2] : EveryImage(f, marks, marks[a].xyz, longest)) {
      const auto [b, sa, sb, sc] = key;
      const NeighbourMark &mb = marks[b].mark;
      const bool positive = sa > 0 || (sa == 0 && (sb > 0 || (sb == 0 && sc > 0)));
      if (b < a || (b == a && !positive))
        continue;
      if (ma.occupancy < policy.minimumOccupancy || mb.occupancy < policy.minimumOccupancy)
        continue;
      const double limit = policy.limits[ma.kind * policy.kinds + mb.kind];
      if (!(d2 <= limit * limit) || (ma.atom == mb.atom && d2 < *policy.ownImageBelowSq))
        continue;
      if (ma.row != NeighbourMark::kNone && mb.row != NeighbourMark::kNone && !policy.mayPair(ma.row, mb.row, d2))
        continue;
      if (crowded.count(a) || crowded.count(b))
        continue;
      pairs.insert({a, b, sa, sb, sc});
    }
  }
  return pairs;
}

TEST(PeriodicNeighbours, PairsAreThoseThePolicyKeepsEachOnce) {
  const double triclinic[6] = {5.1, 6.3, 7.2, 75.0, 82.0, 101.0};
  const double tiny[6] = {2.2, 2.4, 2.6, 80.0, 85.0, 95.0};
  // Two kinds with their own limits; some marks partly occupied, some
  // alternatives of each other (rows 1 and 2 never pair below 3 A), one atom
  // given twice at one place (its own image there is itself).
  NeighbourPolicy policy;
  policy.kinds = 2;
  policy.limits = {2.6, 3.4, 3.4, 1.9};
  policy.minimumOccupancy = 0.5f;
  policy.ownImageBelowSq = 0.01;
  policy.mayPair = [](uint32_t ra, uint32_t rb, double d2) { return ra == rb || d2 >= 9.0; };
  std::vector<NeighbourMarkInput> marks = RandomMarks(50, 11, 0.5);
  for (uint32_t m = 0; m < marks.size(); m++) {
    marks[m].mark.kind = m % 3 == 0 ? 1 : 0;
    marks[m].mark.occupancy = m % 7 == 0 ? 0.25f : 1.0f;
    marks[m].mark.row = m % 5 == 0 ? 1 : m % 5 == 1 ? 2 : NeighbourMark::kNone;
  }
  marks.push_back(marks[4]);
  marks.back().xyz[0] += 1.0; // the same atom a cell on
  std::vector<NeighbourMarkInput> small = {At(0, 0.1, 0.2, 0.3), At(1, 0.6, 0.5, 0.9), At(2, 0.6, 0.5, 0.9)};
  small[2].mark.atom = 1; // one atom twice
  struct Case {
    const char *what;
    CellFrame frame;
    std::vector<NeighbourMarkInput> marks;
  };
  const Case cases[] = {{"triclinic", StandardCellFrame(triclinic), marks},
                        {"left-handed", LeftHanded(triclinic), marks},
                        {"own images in a tiny cell", StandardCellFrame(tiny), small}};
  for (const Case &c : cases) {
    PeriodicNeighbours list(c.frame, c.marks, 3.4);
    std::vector<NeighbourPair> pairs;
    std::vector<uint32_t> crowded;
    ASSERT_EQ(list.Pairs(policy, pairs, &crowded), NeighbourStatus::kDone) << c.what;
    EXPECT_TRUE(crowded.empty()) << c.what;
    std::set<std::tuple<uint32_t, uint32_t, int32_t, int32_t, int32_t>> found;
    for (size_t k = 0; k < pairs.size(); k++) {
      const NeighbourPair &p = pairs[k];
      EXPECT_TRUE(found.insert({p.a, p.b, p.shift[0], p.shift[1], p.shift[2]}).second) << c.what << ": twice";
      if (k > 0) {
        const NeighbourPair &q = pairs[k - 1];
        EXPECT_LT(std::make_tuple(q.a, q.b, q.shift[0], q.shift[1], q.shift[2]),
                  std::make_tuple(p.a, p.b, p.shift[0], p.shift[1], p.shift[2]))
            << c.what << ": out of order";
      }
    }
    EXPECT_EQ(found, PairsByBruteForce(c.frame, c.marks, policy, 3.4, {})) << c.what;
    EXPECT_GT(found.size(), 3u) << c.what;
  }
}

TEST(PeriodicNeighbours, ACrowdedMarkPairsWithNothing) {
  // A hundred and twenty marks within a few hundredths of an angstrom in a cell of ordinary
  // matter: more within the longest limit than matter holds.
  const double cell[6] = {9.0, 9.0, 9.0, 90.0, 90.0, 90.0};
  std::vector<NeighbourMarkInput> marks = RandomMarks(10, 21, 0.0);
  for (uint32_t k = 0; k < 120; k++)
    marks.push_back(At(100 + k, 0.5 + 0.00002 * k, 0.5, 0.5));
  NeighbourPolicy policy;
  policy.limits = {3.0};
  policy.ownImageBelowSq = 0.0;
  PeriodicNeighbours list(StandardCellFrame(cell), marks, 3.0);
  std::vector<NeighbourPair> pairs;
  std::vector<uint32_t> crowded;
  ASSERT_EQ(list.Pairs(policy, pairs, &crowded), NeighbourStatus::kDone);
  ASSERT_EQ(NeighbourCrowdLimit(3.0), 113u); // 4/3 pi 27 A^3 at one place per A^3
  // Brute force: a mark is crowded when more images than the limit lie
  // within the longest limit.
  std::set<uint32_t> expected;
  for (uint32_t m = 0; m < marks.size(); m++) {
    size_t within = 0;
    for (const auto &[key, d2] : EveryImage(StandardCellFrame(cell), marks, marks[m].xyz, 3.0))
      within += d2 <= 9.0;
    if (within > NeighbourCrowdLimit(3.0))
      expected.insert(m);
  }
  EXPECT_EQ(std::set<uint32_t>(crowded.begin(), crowded.end()), expected);
  EXPECT_GE(expected.size(), 120u);
  std::set<std::tuple<uint32_t, uint32_t, int32_t, int32_t, int32_t>> found;
  for (const NeighbourPair &p : pairs)
    found.insert({p.a, p.b, p.shift[0], p.shift[1], p.shift[2]});
  EXPECT_EQ(found, PairsByBruteForce(StandardCellFrame(cell), marks, policy, 3.0, expected));
  // The visit itself refuses a sphere holding more than its limit.
  std::vector<NeighbourHit> hits;
  EXPECT_EQ(list.Visit(marks[40].xyz, 3.0, hits, NeighbourCrowdLimit(3.0)), NeighbourStatus::kCrowded);
  EXPECT_TRUE(hits.empty());
}

TEST(PeriodicNeighbours, EscapeStopsOnlyASearchThatHearsIt) {
  FakeHost host;
  host.tick = 1'000'000; // every clock reading moves on a second
  const double cell[6] = {10.0, 10.0, 10.0, 90.0, 90.0, 90.0};
  const std::vector<NeighbourMarkInput> marks = RandomMarks(500, 31, 0.0);
  PeriodicNeighbours list(StandardCellFrame(cell), marks, 4.0);
  NeighbourPolicy policy;
  policy.limits = {4.0};
  policy.crowdLimit = kNoCrowdLimit;
  std::vector<NeighbourPair> pairs;
  host.cancelAnswers = {false, true};
  EXPECT_EQ(list.Pairs(policy, pairs), NeighbourStatus::kDone);
  EXPECT_EQ(host.cancelChecks, 0);
  const size_t all = pairs.size();
  ASSERT_GT(all, 10000u);
  list.HearCancelKey();
  EXPECT_EQ(list.Pairs(policy, pairs), NeighbourStatus::kStopped);
  EXPECT_EQ(host.cancelChecks, 2);
  // A caller's own step (a reader's) is asked instead, once a unit of work.
  int steps = 0;
  list.HearCancelKey([&] { return ++steps > 5000; });
  std::vector<NeighbourHit> hits;
  EXPECT_EQ(list.Visit(marks[0].xyz, 9.0, hits), NeighbourStatus::kStopped);
  EXPECT_EQ(steps, 5001);
  EXPECT_TRUE(hits.size() < all);
}

// The unordered visit finds what the brute force finds, each image once at
// its distance, before and after the marks are numbered by bin (the hits
// then told by the number each mark was given), in the cells the ordered
// visit is tried in; it stops when its step says so.
TEST(PeriodicNeighbours, AnUnorderedVisitFindsEveryImageWithinTheReach) {
  const std::vector<NeighbourMarkInput> special = {
      At(0, 0.0, 0.0, 0.0), At(1, 1.0, 0.25, 0.0),  At(2, -1.0, 0.5, 1.0),    At(3, 0.5, 0.0, 0.5),
      At(4, 0.5, 0.0, 0.5), At(5, 2.0, -3.0, 0.75), At(6, -1e-18, 0.75, 0.5), At(7, -0.0, 0.5, -0.0)};
  const VisitCase cases[] = {
      {"triclinic", StandardCellFrame(kTriclinic), RandomMarks(40, 11, 0.0), 4.0},
      {"left-handed, beyond the cell", LeftHanded(kTriclinic), RandomMarks(40, 12, 1.5), 4.0},
      {"needle cell", StandardCellFrame(kNeedle), RandomMarks(60, 13, 0.0), 5.5},
      {"many bins, runs wrapping round", StandardCellFrame(kBig), RandomMarks(300, 14, 0.0), 2.5},
      {"reach beyond the cell", StandardCellFrame(kTiny), RandomMarks(5, 15, 0.0), 7.5},
      {"special positions", LeftHanded(kTiny), special, 5.0},
  };
  for (const VisitCase &c : cases)
    for (bool byBin : {false, true}) {
      const std::string what = std::string(c.what) + (byBin ? ", numbered by bin" : "");
      PeriodicNeighbours list(c.frame, c.marks, c.reach);
      if (byBin)
        list.NumberMarksByBin();
      const double points[][3] = {{0.0, 0.0, 0.0}, {0.999999, -0.0, 0.5}, {0.3, 1.7, -2.2}};
      for (const auto &p : points)
        for (double reach : {c.reach, 0.4 * c.reach, 1.6 * c.reach}) {
          std::vector<NeighbourHit> hits;
          ASSERT_EQ(list.VisitUnordered(p, reach, hits), NeighbourStatus::kDone) << what;
          std::map<Key, double> found;
          for (const NeighbourHit &h : hits)
            EXPECT_TRUE(found.emplace(Key{list.Mark(h.mark).atom, h.shift[0], h.shift[1], h.shift[2]}, h.d2).second)
                << what << ": an image visited twice";
          const double band = 1e-9 * (1.0 + reach * reach);
          size_t near = 0;
          for (const auto &[key, d2] : EveryImage(c.frame, c.marks, p, reach)) {
            const auto it = found.find(key);
            if (d2 < reach * reach - band) {
              EXPECT_TRUE(it != found.end())
                  << what << ": mark " << std::get<0>(key) << " at " << std::sqrt(d2) << " missed";
            } else if (d2 > reach * reach + band) {
              EXPECT_TRUE(it == found.end()) << what << ": mark " << std::get<0>(key) << " is beyond";
            }
            if (it != found.end()) {
              EXPECT_NEAR(it->second, d2, band) << what;
              near++;
            }
          }
          EXPECT_EQ(near, found.size()) << what;
        }
    }
  // Numbered by bin, each mark keeps what it was given.
  const double cell[6] = {10.0, 10.0, 10.0, 90.0, 90.0, 90.0};
  std::vector<NeighbourMarkInput> marks = RandomMarks(200, 16, 0.0);
  for (NeighbourMarkInput &m : marks)
    m.mark.kind = m.mark.atom * 7;
  PeriodicNeighbours list(StandardCellFrame(cell), marks, 2.0);
  list.NumberMarksByBin();
  std::set<uint32_t> given;
  for (uint32_t m = 0; m < marks.size(); m++) {
    EXPECT_EQ(list.Mark(m).kind, list.Mark(m).atom * 7);
    given.insert(list.Mark(m).atom);
  }
  EXPECT_EQ(given.size(), marks.size());
  int steps = 0;
  list.HearCancelKey([&] { return ++steps > 100; });
  std::vector<NeighbourHit> hits;
  EXPECT_EQ(list.VisitUnordered(marks[0].xyz, 9.0, hits), NeighbourStatus::kStopped);
  EXPECT_EQ(steps, 101);
}

} // namespace

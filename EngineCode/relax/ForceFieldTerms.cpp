#include "ForceFieldTerms.h"

#include "RelaxElementTable.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <new>
#include <numbers>

namespace {

// Defaults for a symbol the element table lacks.
constexpr float kDefaultRadius = 1.0f;
constexpr double kDefaultCosTheta0 = -0.33331324756;
constexpr float kDefaultLJX = 3.0f;
constexpr float kDefaultZStar = 0.0001f;

bool Is(const RelaxAtom &a, const char *two) { return a.symbol[0] == two[0] && a.symbol[1] == two[1]; }
bool IsHD(const RelaxAtom &a) { return Is(a, "H ") || Is(a, "D "); }
bool IsHalogen(const RelaxAtom &a) { return Is(a, "F ") || Is(a, "Cl") || Is(a, "Br") || Is(a, "I "); }
int N(const RelaxAtom &a) { return static_cast<int>(a.neighbours.size()); }

// Finds run atoms by their atom index.
class SlotIndex {
public:
  explicit SlotIndex(const RelaxMoleculeData &record) {
    int32_t top = -1;
    for (const RelaxAtom &a : record.atoms)
      top = std::max(top, a.atomIndex);
    slots_.assign(static_cast<size_t>(top + 1), -1);
    for (int32_t s = 0; s < record.AtomCount(); ++s) {
      int32_t idx = record.atoms[s].atomIndex;
      if (idx >= 0 && slots_[idx] < 0)
        slots_[idx] = s;
    }
  }
  int32_t operator()(int32_t atomIndex) const {
    return atomIndex >= 0 && atomIndex < static_cast<int32_t>(slots_.size()) ? slots_[atomIndex] : -1;
  }

private:
  std::vector<int32_t> slots_;
};

// The neighbour atom at position `k` of a's neighbours list, or nullptr.
const RelaxAtom *Neighbour(const RelaxMoleculeData &record, const SlotIndex &slots, const RelaxAtom &a, int k) {
  if (k >= N(a))
    return nullptr;
  int32_t s = slots(a.neighbours[k]);
  return s < 0 ? nullptr : &record.atoms[s];
}

int CountNeighbours(const RelaxMoleculeData &record, const SlotIndex &slots, const RelaxAtom &a,
                    bool (*pred)(const RelaxAtom &)) {
  int count = 0;
  for (int k = 0; k < N(a); ++k)
    if (const RelaxAtom *b = Neighbour(record, slots, a, k); b && pred(*b))
      ++count;
  return count;
}

template <typename Count> void WriteCount(RelaxMoleculeData &record, const char *format, Count count) {
  char line[kRelaxMessageLength];
  std::snprintf(line, sizeof line, format, count);
  RelaxWriteLine(record, line);
}

double CosOfDegrees(double degrees) {
  if (degrees == 90.0)
    return 0.0;
  if (degrees == 180.0)
    return -1.0;
  return std::cos(degrees * std::numbers::pi / 180.0);
}

// ---- Bonded pairs ------------------------------------------------------------

// The hydroxyl rule for the O `o` with two neighbours.
void HydroxylRule(const RelaxMoleculeData &record, const SlotIndex &slots, const RelaxAtom &o, PairTerm &pair) {
  const RelaxAtom *p = Neighbour(record, slots, o, 0);
  const RelaxAtom *q = Neighbour(record, slots, o, 1);
  auto either = [&](bool (*pred)(const RelaxAtom &)) { return (p && pred(*p)) || (q && pred(*q)); };
  if (either([](const RelaxAtom &a) { return Is(a, "C "); })) {
    pair.p0 = 3.662;
    pair.p1 = kRelaxOverrideP1;
    pair.r0 = 0.95f;
  } else if (p && q && IsHD(*p) && IsHD(*q)) {
    pair.r0 = 0.9584f;
  } else if (either([](const RelaxAtom &a) { return Is(a, "O "); })) {
    pair.r0 = 0.95f;
  } else if (either([](const RelaxAtom &a) { return Is(a, "N "); })) {
    pair.r0 = 0.964f;
  } else if (either([](const RelaxAtom &a) { return Is(a, "Cl") || Is(a, "B "); })) {
    pair.r0 = 0.97f;
  }
}

// The environment overrides of a bonded pair, first match wins, A being the
// atom with the lower atom index. False when no row matches.
bool PairOverride(const RelaxMoleculeData &record, const SlotIndex &slots, const RelaxAtom &A, const RelaxAtom &B,
                  PairTerm &pair) {
  auto R = [&](float r0) {
    pair.r0 = r0;
    return true;
  };
  auto RP = [&](float r0, double p0) {
    pair.r0 = r0;
    pair.p0 = p0;
    pair.p1 = kRelaxOverrideP1;
    return true;
  };
  auto isAl = [](const RelaxAtom &a) { return Is(a, "Al"); };
  auto isC = [](const RelaxAtom &a) { return Is(a, "C "); };
  const int nA = N(A), nB = N(B);
  const bool hA = IsHD(A), hB = IsHD(B);

  if (Is(A, "C ")) {
    if (Is(B, "C ")) {
      if (nA == 3)
        return nB == 2 ? RP(1.31f, 5.375) : nB == 3 ? RP(1.33f, 3.6) : RP(1.5f, 3.024);
      return nB == 2 ? RP(1.47f, 2.64) : nB == 3 ? RP(1.5f, 3.024) : RP(1.52f, 2.155);
    }
    if (hB)
      return nA == 3 ? RP(1.1f, 2.472) : RP(1.11f, 2.275);
    if (Is(B, "O ")) {
      if (nA == 3)
        return nB == 1 ? RP(1.21f, 4.847) : RP(1.35f, 2.88);
      return RP(1.41f, 2.736);
    }
    if (Is(B, "Al") && nA != 3)
      return R(CountNeighbours(record, slots, A, isAl) == 2 ? 2.14f : 1.97f);
    return false;
  }
  if (hA) {
    if (Is(B, "C "))
      return nB == 2 ? RP(1.08f, 2.865) : nB == 3 ? RP(1.1f, 2.472) : RP(1.11f, 2.275);
    if (Is(B, "O ") && nB == 2) {
      HydroxylRule(record, slots, B, pair);
      return true;
    }
    if (Is(B, "N "))
      return R(nB == 2 ? 1.02f : 1.017f);
    static constexpr struct {
      const char *sym;
      float r0;
    } kHydrides[] = {{"S ", 1.336f}, {"F ", 0.917f},   {"Cl", 1.274f}, {"Br", 1.414f}, {"I ", 1.609f},
                     {"Al", 1.72f},  {"Ga", 1.572f},   {"Ge", 1.5251f}, {"As", 1.519f}, {"Se", 1.46f},
                     {"Te", 1.69f},  {"Bi", 1.7759f}};
    for (const auto &row : kHydrides)
      if (Is(B, row.sym))
        return R(row.r0);
    if (Is(B, "Be") && nB == 2)
      return R(1.33376f);
    return false;
  }
  if (Is(A, "O ")) {
    if (Is(B, "Si"))
      return R(1.6f);
    if (nA == 2) {
      if (Is(B, "C "))
        return nB == 3 ? RP(1.35f, 2.88) : RP(1.41f, 2.736);
      if (hB) {
        HydroxylRule(record, slots, A, pair);
        return true;
      }
      if (Is(B, "O ")) {
        const RelaxAtom *p = Neighbour(record, slots, A, 0), *q = Neighbour(record, slots, A, 1);
        if ((p && isC(*p)) || (q && isC(*q)))
          return RP(1.45f, 1.896);
        if ((p && IsHD(*p)) || (q && IsHD(*q)))
          return R(1.474f);
        return false;
      }
      if (Is(B, "N "))
        return R(1.406f);
      if (Is(B, "Cl"))
        return R(1.693f);
      if (Is(B, "B "))
        return R(1.36f);
      return false;
    }
    if (nA == 1) {
      if (Is(B, "C "))
        return RP(1.21f, 4.847);
      if (Is(B, "O "))
        return R(1.21f);
      if (Is(B, "N "))
        return R(1.205f);
    }
    return false;
  }
  if (Is(A, "N ")) {
    if (hB)
      return R(nA == 2 ? 1.02f : 1.017f);
    if (Is(B, "O ")) {
      if (nB == 2)
        return R(1.406f);
      if (nB == 1)
        return R(1.205f);
      return false;
    }
    if (Is(B, "N ")) {
      if (nA == 1)
        return R(1.13f);
      if (nA == 2)
        return nB == 1 ? R(1.13f) : nB == 2 ? R(1.24f) : false;
      return R(1.45f); // nA >= 3 (nA == 0 cannot hold a bond)
    }
    return false;
  }
  if (Is(A, "P "))
    return Is(B, "P ") ? R(2.219f) : false;
  if (Is(A, "S ")) {
    if (hB)
      return R(1.336f);
    if (Is(B, "F ") && (B.special == 1 || B.special == 2))
      return R(B.special == 1 ? 1.646f : 1.545f);
    return false;
  }
  if (Is(A, "F ")) {
    if (hB)
      return R(0.917f);
    if (Is(B, "S ") && (A.special == 1 || A.special == 2))
      return R(A.special == 1 ? 1.646f : 1.545f);
    if (Is(B, "Si"))
      return R(1.71f);
    if (Is(B, "Al"))
      return R(1.63f);
    return false;
  }
  if (Is(A, "Cl"))
    return hB ? R(1.274f) : Is(B, "O ") ? R(1.693f) : false;
  if (Is(A, "Br"))
    return hB ? R(1.414f) : false;
  if (Is(A, "I ")) {
    if (hB)
      return R(1.609f);
    if (Is(B, "Al"))
      return nB != 4 ? R(2.4486f) : nA == 1 ? R(2.4566f) : R(2.6708f);
    return false;
  }
  if (Is(A, "Si"))
    return Is(B, "O ") ? R(1.6f) : Is(B, "F ") ? R(1.71f) : false;
  if (Is(A, "Al")) {
    if (Is(B, "C "))
      return R(CountNeighbours(record, slots, B, isAl) == 2 ? 2.14f : 1.97f);
    if (hB)
      return R(1.72f);
    if (Is(B, "F "))
      return R(1.63f);
    if (Is(B, "I "))
      return nA != 4 ? R(2.4486f) : N(B) == 1 ? R(2.4566f) : R(2.6708f);
    return false;
  }
  if (Is(A, "Be"))
    return nA == 2 && hB ? R(1.33376f) : false;
  if (Is(A, "B "))
    return Is(B, "O ") ? R(1.36f) : false;
  if (hB) {
    // Se-H takes the same 1.46 Å in either atom order.
    static constexpr struct {
      const char *sym;
      float r0;
    } kHeavy[] = {{"Ga", 1.572f}, {"Ge", 1.5251f}, {"As", 1.519f}, {"Se", 1.46f}, {"Te", 1.69f}, {"Bi", 1.7759f}};
    for (const auto &row : kHeavy)
      if (Is(A, row.sym))
        return R(row.r0);
  }
  return false;
}

} // namespace

// ---- Per-atom typing ------------------------------------------------------------

void AssignElementData(RelaxMoleculeData &record) {
  for (RelaxAtom &a : record.atoms) {
    a.special = 0;
    a.r = kDefaultRadius;
    a.cosTheta0 = kDefaultCosTheta0;
    a.ljX = kDefaultLJX;
    a.ljD = 0.0;
    a.zStar = kDefaultZStar;
    a.formalCharge = 0.0f;
    if (const RelaxElementRow *row = FindRelaxElementRow(a.symbol)) {
      a.r = row->r;
      a.cosTheta0 = row->cosTheta0;
      a.ljX = row->x;
      a.ljD = row->d;
      a.zStar = row->zStar;
      a.formalCharge = row->formalCharge;
    }
  }
}

void SpecialAtomOptions(RelaxMoleculeData &record) {
  const SlotIndex slots(record);
  for (RelaxAtom &a : record.atoms) {
    if (N(a) != 4 || !(Is(a, "S ") || Is(a, "Se") || Is(a, "Te")))
      continue;
    int32_t s[4];
    bool allHalogens = true;
    for (int k = 0; k < 4; ++k) {
      s[k] = slots(a.neighbours[k]);
      allHalogens = allHalogens && s[k] >= 0 && IsHalogen(record.atoms[s[k]]);
    }
    if (!allHalogens)
      continue;
    for (int k = 0; k < 4; ++k)
      record.atoms[s[k]].special = k < 2 ? 1 : 2;
  }
}

void AssignLennardJones(RelaxMoleculeData &record) {
  const SlotIndex slots(record);
  auto set = [](RelaxAtom &a, float x, double d) {
    a.ljX = x;
    a.ljD = d;
  };
  for (RelaxAtom &a : record.atoms) {
    const int n = N(a);
    if (Is(a, "C ")) {
      if (n == 2)
        set(a, 4.01f, 0.002093528);
      else if (n == 3)
        set(a, 3.92f, 0.002777552);
      else if (n == 4)
        set(a, 3.83f, 0.0018137);
    } else if (IsHD(a)) {
      if (n != 1)
        continue;
      const RelaxAtom *b = Neighbour(record, slots, a, 0);
      if (!b)
        continue;
      if (Is(*b, "C ")) {
        set(a, 3.26f, 0.001150404);
      } else if (Is(*b, "N ")) {
        set(a, 2.866f, 0.0);
      } else if (Is(*b, "O ") && N(*b) == 2) {
        // A hydroxyl H of an acid or ester-like environment loses its well.
        for (int k = 0; k < 2; ++k) {
          const RelaxAtom *c = Neighbour(record, slots, *b, k);
          if (!c || !Is(*c, "C "))
            continue;
          int oxygens = CountNeighbours(record, slots, *c, [](const RelaxAtom &x) { return Is(x, "O "); });
          int carbonsOrH =
              CountNeighbours(record, slots, *c, [](const RelaxAtom &x) { return Is(x, "C ") || IsHD(x); });
          if ((oxygens == 1 && carbonsOrH == 3) || (oxygens == 2 && carbonsOrH == 1)) {
            set(a, 2.866f, 0.0);
            break;
          }
        }
      }
    } else if (Is(a, "O ")) {
      if (n == 1)
        set(a, 3.37f, 0.0049229);
      else if (n == 2)
        set(a, 3.45f, 0.004466884);
    } else if (Is(a, "N ")) {
      if (n == 1) {
        set(a, 3.68f, 0.003129928);
      } else {
        int h = CountNeighbours(record, slots, a, IsHD);
        if (h == 1)
          set(a, 3.78f, 0.004591252);
        else if (h >= 2)
          set(a, 3.71f, 0.011991148);
        else
          set(a, 3.72f, 0.002933012);
      }
    }
  }
}

// ---- Bonded pairs ------------------------------------------------------------------

namespace {

void SelectPair(const RelaxMoleculeData &record, const SlotIndex &slots, PairTerm &pair) {
  const RelaxAtom &A = record.atoms[pair.slotA];
  const RelaxAtom &B = record.atoms[pair.slotB];
  pair.r0 = A.r + B.r;
  const double r0 = pair.r0;
  pair.p0 = kRelaxPairP0;
  pair.p1 = kRelaxBondConstant * A.zStar * B.zStar / (r0 * r0 * r0) / kRelaxPairP1Divisor;
  PairOverride(record, slots, A, B, pair);
}

} // namespace

int PairPotentialSelection(const RelaxMoleculeData &record, PairTerm &pair) {
  SelectPair(record, SlotIndex(record), pair);
  return 0;
}

const std::vector<PairTerm> *FindPairs(RelaxMoleculeData &record) {
  try {
    const SlotIndex slots(record);
    std::vector<PairTerm> pairs;
    for (int32_t s = 0; s < record.AtomCount(); ++s) {
      if (RelaxStopRequested(record))
        return nullptr;
      for (int32_t b : record.atoms[s].neighbours)
        if (b > record.atoms[s].atomIndex) {
          PairTerm t;
          t.atomA = record.atoms[s].atomIndex;
          t.atomB = b;
          t.slotA = s;
          pairs.push_back(t);
        }
    }
    WriteCount(record, "Number of bonded pairs: %d", static_cast<int>(pairs.size()));
    for (PairTerm &t : pairs) {
      if (RelaxStopRequested(record))
        return nullptr;
      t.slotB = slots(t.atomB);
      if (t.slotB < 0 || t.slotB == t.slotA) {
        RelaxWriteLine(record, "Failed at PairPotentialSelection()");
        RelaxWriteLine(record, "Cannot find second atom in bonded pair.");
        return nullptr;
      }
      SelectPair(record, slots, t);
    }
    record.pairs = std::move(pairs);
    return &record.pairs;
  } catch (const std::bad_alloc &) {
    RelaxWriteLine(record, "malloc failed at FindPairs()");
    return nullptr;
  }
}

// ---- Three-body angles -------------------------------------------------------------

namespace {

void SelectThree(const RelaxMoleculeData &record, const SlotIndex &slots, ThreeBodyTerm &angle) {
  const RelaxAtom &J = record.atoms[angle.slotJ];
  const RelaxAtom &I = record.atoms[angle.slotI];
  const RelaxAtom &K = record.atoms[angle.slotK];
  const double c0 = J.cosTheta0;
  const double rIJ = kRelaxAngleRadiusScale * (I.r + J.r);
  const double rJK = kRelaxAngleRadiusScale * (J.r + K.r);
  const double rIK = std::sqrt(rIJ * rIJ + rJK * rJK - 2 * rIJ * rJK * c0);
  angle.k = static_cast<float>(kRelaxBondConstant * I.zStar * K.zStar / std::pow(rIK, 5) *
                               (3 * rIJ * rJK * (1 - c0 * c0) - rIK * rIK * c0));
  angle.cosTheta0 = c0;

  auto deg = [&](double d) { angle.cosTheta0 = CosOfDegrees(d); };
  auto either = [&](bool (*pred)(const RelaxAtom &)) { return pred(I) || pred(K); };
  auto isN = [](const RelaxAtom &a) { return Is(a, "N "); };
  auto isHalogenPair = IsHalogen(I) && IsHalogen(K);
  auto allNeighboursHD = [&] { return CountNeighbours(record, slots, J, IsHD) == N(J); };
  const int n = N(J);
  if (n == 2) {
    if (IsHD(J)) {
      deg(Is(I, "Al") && Is(K, "Al") ? 141.0 : 83.5);
    } else if (Is(J, "O ")) {
      if (!IsHD(I) && !IsHD(K))
        deg(either([](const RelaxAtom &a) { return Is(a, "Si"); }) ? 146.0 : 104.51);
      else if (IsHD(I) && IsHD(K))
        deg(104.45);
      else if (either([](const RelaxAtom &a) { return Is(a, "O "); }))
        deg(94.8);
      else if (either([](const RelaxAtom &a) { return Is(a, "Cl"); }))
        deg(103.0);
      else
        deg(104.51);
    } else if (Is(J, "N ")) {
      if (!either(isN))
        deg(111.2);
      else if (either(IsHD))
        deg(109.0);
      else if (isN(I))
        deg(N(I) == 2 || N(K) == 2 ? 171.0 : 180.0);
      else
        deg(111.2);
    } else if (Is(J, "S ")) {
      deg(Is(I, "S ") && Is(K, "S ") ? 109.5 : 92.1);
    } else if (Is(J, "Se")) {
      deg(IsHD(I) && IsHD(K) ? 91.0 : 90.6);
    } else if (Is(J, "Te")) {
      deg(IsHD(I) && IsHD(K) ? 90.0 : 90.25);
    } else {
      deg(180.0);
    }
  } else if (n == 3) {
    if (Is(J, "C ")) {
      deg(120.0);
      angle.k = 3.148f;
    } else if (Is(J, "N ")) {
      if (!IsHD(I) || !IsHD(K)) {
        deg(120.0);
      } else if (allNeighboursHD()) {
        deg(107.8);
      } else {
        deg(106.4);
        angle.k = 7.552f;
      }
    } else if (Is(J, "P ")) {
      deg(93.8);
    } else if (Is(J, "As")) {
      deg(allNeighboursHD() ? 91.8 : 92.1);
    } else if (Is(J, "Sb")) {
      deg(91.6);
    } else if (Is(J, "Bi")) {
      if (allNeighboursHD())
        deg(90.48);
    } else {
      deg(120.0);
    }
  } else if (n == 4) {
    if (Is(J, "C ")) {
      deg(109.5);
      angle.k = 8.364f;
    } else if (Is(J, "S ") || Is(J, "Se") || Is(J, "Te")) {
      const int a = std::min(I.special, K.special), b = std::max(I.special, K.special);
      if (isHalogenPair && a == 1 && b == 1)
        deg(173.1);
      else if (isHalogenPair && a == 1 && b == 2)
        deg(89.0);
      else if (isHalogenPair && a == 2 && b == 2)
        deg(101.6);
      else
        deg(109.5);
    } else if (Is(J, "Al")) {
      if (Is(I, "Br") && Is(K, "Br") && N(I) == 4 && N(K) == 4)
        deg(120.0);
    } else if (J.cosTheta0 != 0.0) {
      deg(109.5);
    }
  } else if (n == 6) {
    deg(90.0);
  }
}

} // namespace

int ThreePotentialSelection(const RelaxMoleculeData &record, ThreeBodyTerm &angle) {
  SelectThree(record, SlotIndex(record), angle);
  return 0;
}

const std::vector<ThreeBodyTerm> *FindThrees(RelaxMoleculeData &record) {
  try {
    const SlotIndex slots(record);
    long count = 0;
    for (const RelaxAtom &a : record.atoms)
      if (N(a) >= 2)
        count += static_cast<long>(N(a)) * (N(a) - 1) / 2;
    WriteCount(record, "Number of three-body angles: %d", static_cast<int>(count));
    std::vector<ThreeBodyTerm> threes;
    threes.reserve(static_cast<size_t>(count));
    for (int32_t s = 0; s < record.AtomCount(); ++s) {
      if (RelaxStopRequested(record))
        return nullptr;
      const RelaxAtom &J = record.atoms[s];
      for (int i = 0; i < N(J); ++i)
        for (int k = i + 1; k < N(J); ++k) {
          ThreeBodyTerm t;
          t.atomJ = J.atomIndex;
          t.atomI = J.neighbours[i];
          t.atomK = J.neighbours[k];
          t.slotJ = s;
          t.slotI = slots(t.atomI);
          t.slotK = slots(t.atomK);
          if (t.slotI < 0 || t.slotK < 0 || t.slotI == t.slotK) {
            RelaxWriteLine(record, "Failed at ThreePotentialSelection()");
            RelaxWriteLine(record, "Cannot identify atoms in three-body term.");
            return nullptr;
          }
          SelectThree(record, slots, t);
          threes.push_back(t);
        }
    }
    record.threes = std::move(threes);
    return &record.threes;
  } catch (const std::bad_alloc &) {
    RelaxWriteLine(record, "malloc failed at FindThrees()");
    return nullptr;
  }
}

// ---- Inversions ---------------------------------------------------------------------

int InverPotentialSelection(const RelaxMoleculeData &, InversionTerm &term) {
  term.k = kRelaxInversionK;
  term.cosOmega0 = kRelaxInversionCosOmega0;
  return 0;
}

namespace {

// The number of inversion terms centred on `a`: 1 for a trigonal centre
// (for the chalcogen and pnictogen families only next to a trigonal C), 4
// for a square-planar one, else 0.
int InversionTermsAt(const RelaxMoleculeData &record, const SlotIndex &slots, const RelaxAtom &a) {
  if (N(a) == 3) {
    static constexpr const char *kOnlyBesideTrigonalC[] = {"N ", "O ", "P ", "S ", "As",
                                                            "Se", "Sb", "Te", "Bi", "Po"};
    bool restricted = std::any_of(std::begin(kOnlyBesideTrigonalC), std::end(kOnlyBesideTrigonalC),
                                  [&](const char *sym) { return Is(a, sym); });
    if (!restricted)
      return 1;
    for (int k = 0; k < N(a); ++k)
      if (const RelaxAtom *b = Neighbour(record, slots, a, k); b && Is(*b, "C ") && N(*b) == 3)
        return 1;
    return 0;
  }
  if (N(a) == 4 && a.cosTheta0 > -kRelaxSquarePlanarCosTolerance && a.cosTheta0 < kRelaxSquarePlanarCosTolerance)
    return 4;
  return 0;
}

} // namespace

const std::vector<InversionTerm> *FindInversions(RelaxMoleculeData &record) {
  try {
    const SlotIndex slots(record);
    long count = 0;
    for (const RelaxAtom &a : record.atoms)
      count += InversionTermsAt(record, slots, a);
    WriteCount(record, "Number of inversion centres: %d", static_cast<int>(count));
    std::vector<InversionTerm> terms;
    terms.reserve(static_cast<size_t>(count));
    for (int32_t s = 0; s < record.AtomCount(); ++s) {
      if (RelaxStopRequested(record))
        return nullptr;
      const RelaxAtom &a = record.atoms[s];
      const int m = InversionTermsAt(record, slots, a);
      if (m == 0)
        continue;
      // The neighbours in run order.
      int32_t nb[4];
      const int used = m == 1 ? 3 : 4;
      for (int k = 0; k < used; ++k) {
        nb[k] = slots(a.neighbours[k]);
        if (nb[k] < 0) {
          RelaxWriteLine(record, "Failed at InverPotentialSelection()");
          RelaxWriteLine(record, "Cannot identify atoms in inversion term.");
          return nullptr;
        }
      }
      std::sort(nb, nb + used);
      static constexpr int kTriples[4][3] = {{0, 1, 2}, {0, 1, 3}, {0, 2, 3}, {1, 2, 3}};
      for (int t = 0; t < m; ++t) {
        InversionTerm term;
        term.slotCentre = s;
        for (int k = 0; k < 3; ++k)
          term.slotL[k] = nb[kTriples[t][k]];
        InverPotentialSelection(record, term);
        terms.push_back(term);
      }
    }
    record.inversions = std::move(terms);
    return &record.inversions;
  } catch (const std::bad_alloc &) {
    RelaxWriteLine(record, "malloc failed at FindInversions()");
    return nullptr;
  }
}

// ---- Dihedrals ----------------------------------------------------------------------

namespace {

int SelectDihedral(const RelaxMoleculeData &record, const SlotIndex &slots, DihedralTerm &term) {
  const RelaxAtom &J = record.atoms[term.slotJ];
  if (N(J) == 3) {
    term.v = 50.0f;
    term.n = 2;
    term.phi0 = std::numbers::pi;
    return 0;
  }
  if (N(J) == 4) {
    const bool threeCarbons = Is(J, "C ") && CountNeighbours(record, slots, J, [](const RelaxAtom &a) {
                                               return Is(a, "C ");
                                             }) == 3;
    term.v = threeCarbons ? 0.0f : 5.0f;
    term.n = 3;
    term.phi0 = 0.0;
    return 0;
  }
  return 1;
}

} // namespace

int DihedralPotentialSelection(const RelaxMoleculeData &record, DihedralTerm &term) {
  return SelectDihedral(record, SlotIndex(record), term);
}

namespace {

// Calls `emit(I, J, K, L)` for every chain that starts at a terminal H/D, O
// or halogen. False when the run was stopped on the way.
template <typename Emit>
bool ForEachDihedral(const RelaxMoleculeData &record, const SlotIndex &slots, Emit emit) {
  for (int32_t i = 0; i < record.AtomCount(); ++i) {
    if (RelaxStopRequested(record))
      return false;
    const RelaxAtom &I = record.atoms[i];
    if (N(I) != 1 || !(IsHD(I) || Is(I, "O ") || IsHalogen(I)))
      continue;
    const int32_t j = slots(I.neighbours[0]);
    if (j < 0)
      continue;
    const RelaxAtom &J = record.atoms[j];
    if (N(J) != 3 && N(J) != 4)
      continue;
    for (int32_t kIndex : J.neighbours) {
      const int32_t k = slots(kIndex);
      if (k < 0 || k == i)
        continue;
      const RelaxAtom &K = record.atoms[k];
      if (N(K) < 2)
        continue;
      if (Is(J, "N ") && N(J) == 3 && ((Is(K, "C ") && N(K) != 3) || (Is(K, "N ") && N(K) == 3)))
        continue;
      for (int32_t lIndex : K.neighbours) {
        const int32_t l = slots(lIndex);
        if (l < 0 || l == j)
          continue;
        emit(i, j, k, l);
      }
    }
  }
  return true;
}

} // namespace

const std::vector<DihedralTerm> *FindDihedrals(RelaxMoleculeData &record) {
  try {
    const SlotIndex slots(record);
    long count = 0;
    if (!ForEachDihedral(record, slots, [&](int32_t, int32_t, int32_t, int32_t) { ++count; }))
      return nullptr;
    WriteCount(record, "Number of dihedrals: %d", static_cast<int>(count));
    std::vector<DihedralTerm> terms;
    terms.reserve(static_cast<size_t>(count));
    bool failed = false;
    const bool whole = ForEachDihedral(record, slots, [&](int32_t i, int32_t j, int32_t k, int32_t l) {
      DihedralTerm t;
      t.slotI = i;
      t.slotJ = j;
      t.slotK = k;
      t.slotL = l;
      if (SelectDihedral(record, slots, t) != 0)
        failed = true;
      terms.push_back(t);
    });
    if (!whole)
      return nullptr;
    if (failed) {
      RelaxWriteLine(record, "potential search failed at DihedralPotentialSelection()");
      return nullptr;
    }
    record.dihedrals = std::move(terms);
    return &record.dihedrals;
  } catch (const std::bad_alloc &) {
    RelaxWriteLine(record, "malloc failed at FindDihedrals()");
    return nullptr;
  }
}

// ---- Non-bonded pairs ---------------------------------------------------------------

int NonBondedPotentialSelection(const RelaxMoleculeData &record, NonBondedTerm &term) {
  const RelaxAtom &a = record.atoms[term.slotI];
  const RelaxAtom &b = record.atoms[term.slotJ];
  term.sigma = (static_cast<double>(a.ljX) + b.ljX) / 2;
  term.epsilon = std::sqrt(a.ljD * b.ljD);
  term.zz = static_cast<double>(a.zStar) * b.zStar;
  return 0;
}

namespace {

// For every slot, the number of its molecule: atoms that a path of bonds
// joins share a number. The screened Coulomb term of the effective charges
// (all positive) describes the bonding within a molecule; between molecules
// it would only push every neutral molecule away from every other.
std::vector<int32_t> MoleculeNumbers(const RelaxMoleculeData &record, const SlotIndex &slots) {
  const int32_t n = record.AtomCount();
  std::vector<int32_t> molecule(static_cast<size_t>(n));
  for (int32_t a = 0; a < n; ++a)
    molecule[a] = a;
  // Union-find over the bonds (a bond listed by one atom only still joins).
  auto root = [&](int32_t a) {
    while (molecule[a] != a)
      a = molecule[a] = molecule[molecule[a]];
    return a;
  };
  for (int32_t a = 0; a < n; ++a)
    for (int32_t idx : record.atoms[a].neighbours)
      if (const int32_t b = slots(idx); b >= 0)
        molecule[root(b)] = root(a);
  for (int32_t a = 0; a < n; ++a)
    molecule[a] = root(a);
  return molecule;
}

// Calls `emit(i, j)` for every pair i < j of run atoms that are not bonded
// (j not in i's neighbours list) and lie closer than 16 Å. False when the
// run was stopped on the way.
template <typename Emit>
bool ForEachNonBondedPair(const RelaxMoleculeData &record, const SlotIndex &slots, Emit emit) {
  const int32_t n = record.AtomCount();
  std::vector<int32_t> bondedTo(static_cast<size_t>(n), -1); // marks the neighbours of the current i
  for (int32_t i = 0; i < n; ++i) {
    if (RelaxStopRequested(record))
      return false;
    const RelaxAtom &a = record.atoms[i];
    for (int32_t idx : a.neighbours)
      if (int32_t s = slots(idx); s >= 0)
        bondedTo[s] = i;
    for (int32_t j = i + 1; j < n; ++j) {
      if (bondedTo[j] == i)
        continue;
      const RelaxAtom &b = record.atoms[j];
      const float dx = b.x - a.x, dy = b.y - a.y, dz = b.z - a.z;
      const double d2 = static_cast<double>(dx) * dx + static_cast<double>(dy) * dy + static_cast<double>(dz) * dz;
      if (d2 < kRelaxNonBondedCutoffSquared)
        emit(i, j);
    }
  }
  return true;
}

} // namespace

const std::vector<NonBondedTerm> *FindNonBonded(RelaxMoleculeData &record) {
  try {
    const SlotIndex slots(record);
    long count = 0;
    if (!ForEachNonBondedPair(record, slots, [&](int32_t, int32_t) { ++count; }))
      return nullptr;
    WriteCount(record, "Number of non-bonded interactions is: %ld", count);
    const std::vector<int32_t> molecule = MoleculeNumbers(record, slots);
    std::vector<NonBondedTerm> terms;
    terms.reserve(static_cast<size_t>(count));
    const bool whole = ForEachNonBondedPair(record, slots, [&](int32_t i, int32_t j) {
      NonBondedTerm t;
      t.slotI = i;
      t.slotJ = j;
      NonBondedPotentialSelection(record, t);
      if (molecule[i] != molecule[j])
        t.zz = 0.0;
      terms.push_back(t);
    });
    if (!whole)
      return nullptr;
    record.nonBonded = std::move(terms);
    return &record.nonBonded;
  } catch (const std::bad_alloc &) {
    RelaxWriteLine(record, "malloc failed at FindNonBonded()");
    return nullptr;
  }
}

// The five energy sums of a run (eV), the per-term energy forms they share
// with the Newton minimiser, and an index from each atom to its terms so that
// a single-atom move costs only that atom's terms.
//
// Coordinate differences are taken in single precision from the atoms'
// coordinates and the energies are summed in double.
#pragma once

#include "RelaxData.h"

#include <cstdint>
#include <vector>

// (a · b) / (|a| |b|), or 0 when either length is 0.
double CosineBetweenTwoVectors(const double a[3], const double b[3]);
// The double cross product under the name the relaxation uses.
void LCrossProduct(const double a[3], const double b[3], double out[3]);

// Each sums its list into *total and returns 0; the total is 0 for an empty
// list.
int CalculateMorseEnergy(const RelaxMoleculeData &record, double *total);
int CalculateThreesEnergy(const RelaxMoleculeData &record, double *total);
int CalculateInversionEnergy(const RelaxMoleculeData &record, double *total);
int CalculateDihedralEnergy(const RelaxMoleculeData &record, double *total);
int CalculateNonBondedEnergy(const RelaxMoleculeData &record, double *total);
// The sum of the five.
double CalculateTotalEnergy(const RelaxMoleculeData &record);

// ---- One term ------------------------------------------------------------------
// d = B - A.
double PairTermEnergy(const PairTerm &term, const double d[3]);
// a = I - J, b = K - J.
double AngleTermEnergy(const ThreeBodyTerm &term, const double a[3], const double b[3]);
// v[m] = L_m - centre.
double InversionTermEnergy(const InversionTerm &term, const double v[3][3]);
// b1 = J - I, b2 = K - J, b3 = L - K.
double DihedralTermEnergy(const DihedralTerm &term, const double b1[3], const double b2[3], const double b3[3]);
// r the distance; the Coulomb part takes the term's Z*(i) Z*(j). The screening
// erfc(0.125 r) comes from a table (within 1e-10 relative of the library
// function) out to 32 Å.
double NonBondedTermEnergy(const NonBondedTerm &term, double r);

// A function of the distance with its first and second derivatives.
struct RadialDerivatives {
  double e = 0, d1 = 0, d2 = 0;
};
// ε((σ/r)^12 - 2(σ/r)^6) + ε: zero at its minimum r = σ.
RadialDerivatives LennardJonesRadial(double sigma, double epsilon, double r);
// 6 x 14.4 x zz / r x erfc(0.125 r): Coulomb between effective charges (14.4 eV Å
// is e²/4πε0), screened by the complementary error function.
RadialDerivatives ScreenedCoulombRadial(double zz, double r);
// 1000 p0 p1 (r - r0)².
RadialDerivatives PairRadial(const PairTerm &term, double r);

inline constexpr double kRelaxPairScale = 1000.0;
inline constexpr double kRelaxAngleScale = 500.0;
inline constexpr double kRelaxLinearAngleScale = 1000.0;
inline constexpr double kRelaxInversionScale = 500.0;
inline constexpr double kRelaxCoulombFactor = 6.0;
inline constexpr double kRelaxCoulombConstant = 14.4; // eV Å
inline constexpr double kRelaxCoulombScreening = 0.125; // 1/Å

// ---- Per-atom term index -------------------------------------------------------
// For every atom, the terms of each list that move with it, each term once.
// The non-bonded terms are copied into per-atom partner lists with their
// parameters, so a move reads them in one sweep: build the index after the
// typing and the term search; afterwards only the coordinates may change.
class RelaxTermIndex {
public:
  // Builds the index over the record's five lists; false when memory runs out.
  bool Build(const RelaxMoleculeData &record);
  // The sum of the energies of the terms of atom `slot` at the current coordinates.
  double AtomEnergy(const RelaxMoleculeData &record, int32_t slot) const;

private:
  struct Lists {
    std::vector<uint32_t> start; // atom count + 1 offsets into `terms`
    std::vector<uint32_t> terms;
  };
  // The other atom of a non-bonded term, its σ and ε, and 6 x 14.4 x Z*(i) Z*(j)
  // (0 between molecules).
  struct Partner {
    int32_t slot;
    double sigma, epsilon, coulomb;
  };
  Lists pairs_, threes_, inversions_, dihedrals_;
  std::vector<uint32_t> partnerStart_; // atom count + 1 offsets into `partners_`
  std::vector<Partner> partners_;
};

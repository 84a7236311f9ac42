// Structure geometry calculations.
//
// Stateless calculations on a structure record and on plain 3-vectors:
// distances, angles, plane normals, colinearity, bearings, triangle and
// polyhedron volumes, the reciprocal cell, the cell volume, d-spacings, the
// calculated formula and density, and the esd of an interatomic distance.
//
// Conventions: lengths in Angstrom, angles in degrees unless stated; degrees
// become radians with kDegToRad and back with kRadToDeg (VectorMath.h), in
// double precision; fractional coordinates are components along a, b, c;
// Cartesian (view) coordinates are the orientation matrix times fractional
// coordinates. A 3-vector is three floats. Geometry runs in double precision
// on single-precision stored values.
//
// Sound behaviour where a literal reading would divide by zero or take acos
// of a value outside [-1, 1]:
// - every cosine is clamped into [-1, 1] before acos;
// - a cell with a length or angle out of range, or whose metric tensor has
//   no positive determinant, is refused: `RecipCell` answers false and the
//   calculations built on it answer 0 (or false) instead of NaN;
// - `IncludedAngle` of antiparallel directions is 180;
// - the formula divisor skips sites that generate no atoms.
//
// Not here: the two space-filling operations,
// `GetCellVolumeFilled` and `GetMaxVoidSize`, wait for the bond search.
// Best planes belong to the lattice planes (LatticePlanes).
#pragma once

#include "StructureRecord.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

// ---- Constants ----------------------------------------------------------------
// `IncludedAngle` of a direction without length.
inline constexpr float kIncludedAngleFailed = -999.9f;
// Bond angles: three points are colinear (angle exactly 180) when
// |(d1 + d2 - d3) / (d1 + d2 + d3)| is below this.
inline constexpr double kColinearAngleTolerance = 1e-5;
// `RCalcPlaneNormalUp` refuses legs whose |cosine| is not below this.
inline constexpr double kPlaneNormalMaxCosine = 0.9999;
// `Plane2Vector` treats a Miller index below this in magnitude as zero.
inline constexpr float kMillerIndexZero = 0.0001f;
// Calculated formula: at most this many distinct elements, then "...".
inline constexpr int kMaxFormulaElements = 31;
// Density: atomic mass units per cubic Angstrom to kg/m^3.
inline constexpr double kAmuPerA3ToKgPerM3 = 1660.56;
// `GetElementWithMass` accepts a table weight at most this far from the mass.
inline constexpr double kElementMassWindow = 0.5;
// The normalised volume factor of a cell, 1 - cos²α - cos²β - cos²γ +
// 2 cosα cosβ cosγ = (V / abc)² (the metric tensor's determinant over
// a²b²c²), must exceed this for the cell to be usable; below it the cell is
// flat within rounding.
inline constexpr double kMinCellVolumeFactor = 1e-6;

// True when the lengths are finite and positive, the angles finite and
// strictly between 0 and 180 degrees, and the metric tensor's determinant
// positive (the volume factor above kMinCellVolumeFactor). A cell that fails
// would give infinite or NaN Cartesian coordinates.
bool CellIsValid(float a, float b, float c, float alpha, float beta, float gamma);
bool CellIsValid(const CrystalRec *crystal);

// ---- Distances ----------------------------------------------------------------
// Distance between generated atoms i and j from their fractional coordinates
// and the cell: with D = frac(i) - frac(j) and X = aDx, Y = bDy, Z = cDz,
// sqrt(X² + Y² + Z² + 2XY cos gamma + 2XZ cos beta + 2YZ cos alpha). 0 when
// the structure has no atom array or an index is out of range.
double DBondDist(const CrystalRec *crystal, int32_t i, int32_t j);
float FBondDist(const CrystalRec *crystal, int32_t i, int32_t j);
// Euclidean distance.
double DCoordsDist(double x1, double y1, double z1, double x2, double y2, double z2);
// |p - q|, the sum of squares and the root in double.
float VecBondDist(const float p[3], const float q[3]);
// Distance of p from the line through a and b: |(b - a) x (p - a)| / |b - a|;
// |p - a| when a and b coincide.
float DistanceToLine(const float a[3], const float b[3], const float p[3]);
// |(p - q) · n|: distance of p from the plane through q with unit normal n.
float DistanceToPlane(const float q[3], const float p[3], const float n[3]);

// ---- Angles --------------------------------------------------------------------
// The angle at the middle atom j (degrees) and the three distances by
// `DBondDist`. With d1 = d_ij, d2 = d_jk, d3 = d_ki: exactly 180 when
// |(d1 + d2 - d3) / (d1 + d2 + d3)| < 1e-5 (three coincident points count as
// colinear); else 0 when d1² + d2² - d3² exceeds 2 d1 d2; else
// acos((d1² + d2² - d3²) / (2 d1 d2)), the cosine clamped at -1. Angle and
// distances are 0 when the structure has no atom array or an index is out of
// range. Any output may be null.
void DCalcBondAngle(const CrystalRec *crystal, int32_t i, int32_t j, int32_t k, double *angle, double *dij, double *djk,
                    double *dki);
// The same for three Cartesian points, the angle at the second; float
// results (computed in double).
void Bangl(float x1, float y1, float z1, float x2, float y2, float z2, float x3, float y3, float z3, float *angle,
           float *d12, float *d23, float *d31);
// Angle in degrees between two directions given in fractional components,
// after both are taken through the orientation matrix: -999.9 when either has
// no length; 0 when the cosine is 1 or more; 180 when it is -1 or less.
float IncludedAngle(const CrystalRec *crystal, const float u[3], const float v[3]);
// Bearing in radians, in [0, 2 pi), of (x2 - x1, y2 - y1) counter-clockwise
// from +x; only the first two components of each point are read. A zero
// vector gives 3 pi / 2.
float GetVectorBearing(const float p1[2], const float p2[2]);

// ---- Plane normals and colinearity ------------------------------------------------
// n = (p0 - p1) x (p2 - p1), normalised when its squared length is positive,
// else zero. n may alias an input.
void CalcPlaneNormal(const float p0[3], const float p1[3], const float p2[3], float n[3]);
// `CalcPlaneNormal`, then negated when it points away from the viewer
// (z < 0); a normal with z exactly 0 is kept.
void CalcPlaneNormalUp(const float p0[3], const float p1[3], const float p2[3], float n[3]);
// Guarded normal for best-plane work: zero unless both legs p0 - p1 and
// p2 - p1 have positive squared length, their cross product has positive
// squared length and |cos| between the legs is below 0.9999; else the unit
// normal (p0 - p1) x (p2 - p1), its direction not adjusted.
void RCalcPlaneNormalUp(const float p0[3], const float p1[3], const float p2[3], float n[3]);
// True when u and v are parallel or antiparallel: with unit vectors û and v̂,
// s = sum |û_i - v̂_i|, or sum |û_i + v̂_i| when that exceeds 0.01; parallel
// when s < 0.01. A vector without length writes "Zero-length vector
// detected!" in red to the Log and counts as parallel.
bool ParallelVec(const float u[3], const float v[3]);
// ParallelVec(p1 - p0, p2 - p1).
bool PointsAreColinear(const float p0[3], const float p1[3], const float p2[3]);
// A direct-lattice direction perpendicular to the lattice plane hkl (not
// necessarily integral), pointing to the side of hkl: the lattice cross
// product of two lattice vectors of the plane, negated when its plain dot
// product with hkl is negative. Zero for a refused cell or hkl = 0 0 0.
void Plane2Vector(const CrystalRec *crystal, const float hkl[3], float uvw[3]);

// ---- Areas and volumes ----------------------------------------------------------
// Heron's formula, side lengths in double; a nearly degenerate triangle whose
// product s(s-a)(s-b)(s-c) comes out negative has area 0.
float GetTriangleArea(const float p0[3], const float p1[3], const float p2[3]);
// Volume of a coordination polyhedron in cubic Angstrom: the sum over faces
// of area x height / 3 about the mean of every vertex entry. 0 without a
// polyhedron or atom array, with fewer than 4 faces, when any face has fewer
// than 3 vertices, or when a vertex names no atom.
float GetPolyVolume(const CrystalRec *crystal, const Polyhedron *polyhedron);
// Reciprocal cell: lengths in 1/Angstrom, angles in degrees. False (outputs
// 0) for a refused cell. Any output may be null.
bool RecipCell(const CrystalRec *crystal, float *aStar, float *bStar, float *cStar, float *alphaStar, float *betaStar,
               float *gammaStar);
// V = a b sin gamma / c*, in cubic Angstrom; 0 for a refused cell.
float GetCellVolume(const CrystalRec *crystal);
// d-spacing of the lattice planes hkl in Angstrom; 0 for a refused cell or
// h = k = l = 0.
float DSpace(const CrystalRec *crystal, float h, float k, float l);

// ---- Composition ---------------------------------------------------------------------
// The calculated formula as text, e.g. "Cl 1.00 Na 1.00": every element with
// its amount per formula unit, in ascending order of element code, amounts
// being sum(occupancy x atoms per cell) divided by the smallest atoms per
// cell of the sites visited (sites without atoms skipped); a molecule's
// amounts are its numbers of atoms of each element. At most 31
// elements: at the 32nd the collection stops and "..." is appended. False
// (and an empty text) when the structure has no sites.
bool GetCalcFormula(const CrystalRec *crystal, std::string *text);
// The amounts of that text, before it is written: one entry per element in
// ascending order of element code, `overflow` set at the 32nd element.
// `atomsPerCell`, when given, stands for the crystal's sites' own counts (a
// structure still unbuilt, as in the chooser). False (and no entry) when the structure has no
// sites.
struct FormulaAmount {
  ElementCode element;
  double amount;
};
bool CalcFormulaAmounts(const CrystalRec *crystal, std::vector<FormulaAmount> &list, bool &overflow,
                        std::span<const int32_t> atomsPerCell = {});
// Calculated density in kg/m^3 (sum over sites of atoms per cell x site mass,
// times 1660.56 / cell volume). False, and density 0, for a molecule, a
// structure without sites, an element with positive occupancy missing from
// the weight table, or a refused cell.
bool GetDensity(const CrystalRec *crystal, float *density);

// ---- Esds -----------------------------------------------------------------------------------
// Esd in Angstrom of a distance d whose fractional coordinate differences
// between an image of site 1 and an image of site 2 are dx, dy, dz:
// propagation through d² over the cell esds and the coordinate esds of both
// sites. 0 when the esd flag is clear, d is not positive, the structure has
// no sites or a site index is out of range.
float GetBondDistErr(const CrystalRec *crystal, int32_t site1, int32_t site2, double dx, double dy, double dz,
                     double d);
// d by `DBondDist`; esd 0 unless the esd flag is set, else `GetBondDistErr`
// with the two atoms' sites and fractional differences atom 1 - atom 2.
void BondDistError(const CrystalRec *crystal, int32_t atom1, int32_t atom2, double *d, float *esd);

// The element of the weight table whose weight is nearest the mass and at
// most 0.5 from it (the first of equally near rows); two blanks when none.
ElementCode GetElementWithMass(float mass);

// A damped Newton minimiser over all 3N Cartesian coordinates of a run, with
// analytic first and second derivatives of the bonded-pair, angle and
// non-bonded energies (the inversion and dihedral terms take no part). An
// alternative to the Monte-Carlo search for a typed record with its terms.
//
// Vectors hold 3N doubles in atom order, x, y, z per atom. The gradient is
// returned as g = -dE/dx, so solving H dx = g gives a step downhill.
#pragma once

#include "RelaxData.h"
#include "VectorMath.h" // SquareMatrix

inline constexpr int kNewtonIterations = 10;
inline constexpr double kNewtonMaxDisplacement = 0.1; // Å, per coordinate
inline constexpr double kNewtonDamping = 0.6;
inline constexpr double kNewtonConvergence = 0.001; // Å
// Added to the Hessian's diagonal (eV/Å²) before the solve. A free molecule's
// energy does not change under rigid translation and rotation, so its
// Hessian is singular; the shift makes it solvable while leaving the steps
// along the stiff internal directions (thousands of eV/Å²) as they are. The
// gradient has no component along the rigid motions, so they get no step.
inline constexpr double kNewtonDiagonalShift = 0.01;

// 0 when it ends normally or was stopped, -1 on failure.
int RelaxMoleculeLS(RelaxMoleculeData &record);

void UpdateLocalCoordinates(double *x, int n, const RelaxMoleculeData &record);
// g = -dE/dx at x.
void EvaluateGradient(const double *x, double *g, int n, const RelaxMoleculeData &record);
// H = d²E/dx² at x.
void EvaluateHessian(const double *x, SquareMatrix H, int n, const RelaxMoleculeData &record);
// The energy whose derivatives those are (pairs, angles, non-bonded), at x.
double EvaluateNewtonEnergy(const double *x, int n, const RelaxMoleculeData &record);
// Clamps every displacement to ±0.1 Å in dx itself, then moves x and the
// atoms by 0.6 x dx.
void UpdateCoordinates(double *x, double *dx, int n, RelaxMoleculeData &record);
// True when no displacement exceeds 0.001 Å in magnitude.
bool CheckConvergence(const double *dx, int n);
// (y - 2)^4 + x² y + x² for the point (x, y).
double EvaluateFunction(const double point[2]);

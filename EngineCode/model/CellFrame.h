// The Cartesian frame of a cell, both ways: the frame the files of other
// programs put a cell in (a along x, b in the x-y plane, c completing a
// right-handed set) or a box's own three vectors, with the inverse that takes
// a Cartesian position back to fractional coordinates; a box's vectors as
// cell lengths and angles; the cell's volume and thinnest height; and the
// one wrap of a fractional coordinate into [0, 1). Readers, writers and the
// length of a file's bonds share it. Lengths in A, angles in degrees.
#pragma once

struct CellFrame {
  double axes[3][3] = {};       // row k: cell vector k, Cartesian (A)
  double reciprocal[3][3] = {}; // row k: reciprocal vector k (1/A); fractional k = reciprocal[k] . x
};

// Row k is cell vector k in the standard orientation.
void StandardCellVectors(double a, double b, double c, double alpha, double beta, double gamma, double rows[3][3]);
// The standard frame of a cell (a, b, c, alpha, beta, gamma).
CellFrame StandardCellFrame(const double cell[6]);
// The frame of a box's three vectors (rows); false when they span no volume
// (a determinant of exactly zero, or one that is no number). How thin a
// cell may be is the import's limit, not this.
bool CellFrameOfRows(const double rows[3][3], CellFrame &frame);
// The frame of a structure's fractional-to-Cartesian matrix (row-major,
// Cartesian = M fractional: its columns are the cell vectors); false as
// CellFrameOfRows.
bool CellFrameOfMatrix(const float fractionalToCartesian[9], CellFrame &frame);
// The signed volume of three vectors (rows): negative for a left-handed set.
double SignedBoxVolume(const double rows[3][3]);
// A left-handed box as a right-handed cell that keeps its atoms where they
// are, not their mirror image: the third vector is turned round, so an atom
// keeps its Cartesian position and its third fractional coordinate changes
// sign. True when the rows were turned.
bool TurnBoxRightHanded(double rows[3][3]);
// A box's vectors as a cell: their lengths and the angles between them
// (alpha between b and c, beta between a and c, gamma between a and b).
void CellOfRows(const double rows[3][3], double cell[6]);

// The Cartesian position of fractional coordinates through the rows.
void CartesianFromFractional(const double rows[3][3], const double f[3], double x[3]);
inline void CartesianFromFractional(const CellFrame &frame, const double f[3], double x[3]) {
  CartesianFromFractional(frame.axes, f, x);
}
// The fractional coordinates of a Cartesian position.
void FractionalFromCartesian(const CellFrame &frame, const double x[3], double f[3]);

// The volume of the cell over abc: sqrt(1 - cos²α - cos²β - cos²γ +
// 2 cosα cosβ cosγ), 0 for angles that close no cell.
double CellVolumeFactor(double alpha, double beta, double gamma);
// The cell's volume (A^3).
double CellVolume(const double cell[6]);
// The distance between each pair of opposite faces of the cell (A): across
// the b-c faces, the a-c faces and the a-b faces. What a distance grid over
// the cell divides into bins, and what a cell too thin for a crystal fails.
void CellHeights(const double cell[6], double heights[3]);
// The least distance between two opposite faces of the cell (A).
double ThinnestCellHeight(const double cell[6]);

// A fractional coordinate taken into [0, 1) as single precision keeps it:
// an atom on a far wall stands once, on the near one.
double WrapFraction(double f);

// The fractionalising matrix of a box's rows (f = S x: the rows of S are the
// reciprocal vectors), as CellFrameOfRows finds it. False when they span no
// volume.
bool FractionalisingRows(const double rows[3][3], double S[3][3]);
// The crystallographic Uij (on the reciprocal axes, as a site's tensor holds
// it) of a Cartesian U (11 22 33 12 13 23, A^2), through that matrix:
// S U S^t over a*_i a*_j.
void CrystallographicUFromCartesian(const double S[3][3], const double u[6], float tensor[9]);

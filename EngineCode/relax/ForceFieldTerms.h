// Force-field typing and the search for the energy terms of a run.
//
// Each atom gets the parameters of its element (RelaxElementTable.h), a few
// get environment-dependent overrides, and the bond graph is walked to list
// the bonded pairs, three-body angles, inversions, dihedrals and non-bonded
// pairs with their parameters. Runs once per run on the worker, in the order
// `AssignElementData`, `SpecialAtomOptions`, `AssignLennardJones`, then the
// finders; each finder writes its count line through the record's output
// function and stores its list in the record.
#pragma once

#include "RelaxData.h"

#include <cstdint>
#include <vector>

// Per-atom typing.
void AssignElementData(RelaxMoleculeData &record);
void SpecialAtomOptions(RelaxMoleculeData &record);
void AssignLennardJones(RelaxMoleculeData &record);

// The finders return the record's list, or nullptr on failure (with the
// failure lines written) or, without a line and with the list left as it
// was, when the run's stop byte is set: they read it once per atom, so a
// run being stopped does not finish a long search first.
const std::vector<PairTerm> *FindPairs(RelaxMoleculeData &record);
const std::vector<ThreeBodyTerm> *FindThrees(RelaxMoleculeData &record);
const std::vector<InversionTerm> *FindInversions(RelaxMoleculeData &record);
const std::vector<DihedralTerm> *FindDihedrals(RelaxMoleculeData &record);
const std::vector<NonBondedTerm> *FindNonBonded(RelaxMoleculeData &record);

// The parameter choices; 0, or non-zero when none can be chosen. The pair,
// angle and non-bonded selections expect the term's slots filled; the
// non-bonded one gives the Coulomb charges of two atoms of one molecule, and
// `FindNonBonded` clears them for atoms of different molecules.
int PairPotentialSelection(const RelaxMoleculeData &record, PairTerm &pair);
int ThreePotentialSelection(const RelaxMoleculeData &record, ThreeBodyTerm &angle);
int InverPotentialSelection(const RelaxMoleculeData &record, InversionTerm &term);
int DihedralPotentialSelection(const RelaxMoleculeData &record, DihedralTerm &term);
int NonBondedPotentialSelection(const RelaxMoleculeData &record, NonBondedTerm &term);

// Parameter constants of the search.
inline constexpr double kRelaxPairP0 = 3.04;
inline constexpr double kRelaxBondConstant = 28.79898; // eV Å / e², the bond and angle force scale
inline constexpr double kRelaxPairP1Divisor = 6.08;
inline constexpr double kRelaxOverrideP1 = 6.5025;
inline constexpr double kRelaxAngleRadiusScale = 0.8;
inline constexpr float kRelaxInversionK = 5000.0f;
inline constexpr double kRelaxInversionCosOmega0 = 1.0;
inline constexpr double kRelaxSquarePlanarCosTolerance = 0.001;
inline constexpr double kRelaxNonBondedCutoffSquared = 256.0; // (16 Å)²

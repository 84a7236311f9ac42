// Placing a stored molecule (the guest) into a window's structure (the
// host): the guest keeps its shape and on-screen orientation and arrives
// centred on the host's view centre; its sites and atom types (and, into a
// crystal, its bond specifications) join the host's. Into a crystal it goes
// as new sites of a structure that gives up its symmetry first, and the
// placed atoms end selected; into a molecule as new sites and atoms with
// their bonds, all selected.
//
// Every array a merge needs is made before the host changes, so a refused
// merge leaves the host as it was, and the bond specifications stop at the
// structure's limit with an alert. Main thread only.
#pragma once

#include "HostServices.h"
#include "StructureRecord.h"

#include <filesystem>

// Atom types match when their radii differ by less than this (Angstrom).
inline constexpr float kPlaceSphereRadiusTolerance = 0.05f;
// A placed atom is found again after the rebuild within this (Angstrom).
inline constexpr float kPlacedAtomTolerance = 0.0001f;

// True for a folder or a molecule document of either layout, by its header.
bool IsPlaceableMoleculeFile(const std::filesystem::path &file);

// The two merges; false when the host is unchanged.
bool AppendCrystal(CrystalRec &host, CrystalRec &guest);
bool AppendMolecule(CrystalRec &host, CrystalRec &guest);

// Reads the molecule document and merges it into the window's structure.
void PlaceMoleculeFile(const std::filesystem::path &file, WindowRef window);
void DisplayGuestMissingADPsAlert();

// The record of one molecule relaxation run, its atoms and its force-field
// terms.
//
// A run is built from plain atoms (element, Cartesian position, bonds, fixed
// flag), owned by the worker thread while it runs, and disposed when it ends.
// The typing and the term search (ForceFieldTerms.h) fill the per-atom
// parameters and the five term lists; the Monte-Carlo search
// (MonteCarlo.h) and the Newton minimiser (NewtonMinimiser.h) move the
// atoms. Everything the run tells the outside world goes through the two
// functions the record carries: status lines and snapshot requests.
//
// Units: Ångström, electronvolt, radians unless a field says degrees.
#pragma once

#include "HostServices.h" // WindowRef
#include "Utilities.h"    // ElementCode

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

struct RelaxMoleculeData;
struct WindowSharedState;

// One atom of a run. Only x, y, z change while the run moves the atoms.
struct RelaxAtom {
  int32_t atomIndex = 0;       // index in the structure's atom array
  char symbol[3] = {' ', ' ', 0}; // "C ", "Cl": two characters and a NUL
  float x = 0, y = 0, z = 0;   // Cartesian position (Å)
  float r = 0;                 // bond radius (Å)
  double cosTheta0 = 0;        // cosine of the natural bond angle
  float zStar = 0;             // effective charge
  float formalCharge = 0;      // carried, read by no energy term
  float ljX = 0;               // Lennard-Jones size (Å)
  double ljD = 0;              // Lennard-Jones well depth (eV)
  std::vector<int32_t> neighbours; // atom indices of the bonded atoms
  int32_t special = 0;         // 0, or 1 / 2 for the halogens around a 4-coordinate S, Se, Te
  uint8_t fixed = 0;           // 1: the relaxation must not move this atom
};

// A bonded pair: E = 1000 p0 p1 (r - r0)². A has the lower atom index.
struct PairTerm {
  double p0 = 0;
  double p1 = 0;
  float r0 = 0; // equilibrium distance (Å)
  int32_t atomA = 0, atomB = 0;
  int32_t slotA = 0, slotB = 0;
};

// A three-body angle I-J-K about the centre J.
struct ThreeBodyTerm {
  float k = 0;
  double cosTheta0 = 0;
  int32_t atomJ = 0, atomI = 0, atomK = 0;
  int32_t slotJ = 0, slotI = 0, slotK = 0;
};

// An out-of-plane term: a centre and three of its neighbours.
struct InversionTerm {
  float k = 0;
  double cosOmega0 = 0;
  int32_t slotCentre = 0;
  int32_t slotL[3] = {0, 0, 0};
};

// A torsion about the chain I-J-K-L: E = V (1 + cos(n φ - φ0)).
struct DihedralTerm {
  float v = 0;
  double phi0 = 0; // radians
  int32_t n = 0;
  int32_t slotI = 0, slotJ = 0, slotK = 0, slotL = 0;
};

// A non-bonded pair: Lennard-Jones and, between atoms of one molecule,
// screened Coulomb.
struct NonBondedTerm {
  double sigma = 0;   // Å
  double epsilon = 0; // eV
  // Z*(i) Z*(j) of the screened Coulomb part; 0 for atoms that no path of
  // bonds joins (different molecules), which have no Coulomb part.
  double zz = 0;
  int32_t slotI = 0, slotJ = 0;
};

// The cells a run shares with its snapshot copies and with the main thread.
struct RelaxSharedCells {
  std::atomic<float> meanPlotTime{0.0f}; // seconds, written by the main thread
  uint64_t startTime = 0;                // microseconds, the creation time
  std::atomic<uint8_t> stop{0};          // non-zero asks the worker to stop
};

// Hand-back functions a run calls. `writeOutput` receives one status line;
// `requestPlot` is asked for a (throttled) snapshot after every move that was
// not downhill. Either may be empty.
using RelaxWriteOutputProc = std::function<void(RelaxMoleculeData &record, const char *text)>;
using RelaxRequestPlotProc = std::function<void(RelaxMoleculeData &record)>;

inline constexpr int kRelaxMessageLength = 256;

struct RelaxMoleculeData {
  WindowRef window = nullptr;
  // What the window shares with a run started from it, and the run's number
  // there (RelaxRun.h); none and 0 for a run of bare atoms. The worker reads
  // the window's state only through these, never through `window`.
  std::shared_ptr<WindowSharedState> windowState;
  uint64_t runId = 0;
  std::vector<RelaxAtom> atoms;
  std::vector<PairTerm> pairs;
  std::vector<ThreeBodyTerm> threes;
  std::vector<InversionTerm> inversions;
  std::vector<DihedralTerm> dihedrals;
  std::vector<NonBondedTerm> nonBonded;
  float orientation[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1}; // row-major, the frame of x, y, z
  int32_t requestCount = 0;
  int32_t plotCount = 0;
  // The Monte-Carlo step the run reached (skipped steps counted): the step
  // every "Plotting structure at step" line names and the run's step count.
  int64_t step = 0;
  uint64_t lastPlotTime = 0; // microseconds
  uint64_t currentTime = 0;  // microseconds
  std::shared_ptr<RelaxSharedCells> shared;
  char message[kRelaxMessageLength] = {0};
  RelaxWriteOutputProc writeOutput;
  RelaxRequestPlotProc requestPlot;

  int32_t AtomCount() const { return static_cast<int32_t>(atoms.size()); }
};

// What a run is built from: one entry per atom of the structure, in atom
// order; `bonds` holds the atom indices of the bonded atoms.
struct RelaxInputAtom {
  ElementCode element = 0;
  float position[3] = {0, 0, 0};
  std::vector<int32_t> bonds;
  bool fixed = false;
};

// A new run record for the atoms, in the given orientation frame, with empty
// term lists, both counters 0, both times and the start time `now`
// (microseconds) and fresh shared cells. nullptr when memory runs out.
RelaxMoleculeData *NewRelaxMoleculeData(WindowRef window, const std::vector<RelaxInputAtom> &atoms,
                                        const float orientation[9], uint64_t now);

// Frees the record with its atoms and term lists; the shared cells live on
// while a snapshot or the main thread still holds them. Nothing for nullptr.
void DisposeRelaxMoleculeData(RelaxMoleculeData *record);

// Sends one status line through the record's output function.
void RelaxWriteLine(RelaxMoleculeData &record, const char *text);
// True once the stop byte is set.
bool RelaxStopRequested(const RelaxMoleculeData &record);

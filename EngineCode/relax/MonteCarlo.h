// The relaxation proper: typing and term search, then simulated annealing by
// single-atom Monte-Carlo moves with the Metropolis rule over a fixed budget
// of steps, move size and temperature shrinking linearly. A ring of recent
// energies watches the acceptance behaviour and skips ahead through the
// schedule when the search runs too hot or too cold.
#pragma once

#include "RelaxData.h"

#include <cstdint>

inline constexpr long kRelaxMonteCarloSteps = 10000000;
inline constexpr long kRelaxSkipSteps = 500001;
inline constexpr double kRelaxStartTemperature = 0.1;   // eV
inline constexpr double kRelaxEndTemperature = 0.00001; // eV
inline constexpr double kRelaxStartHalfWidth = 0.005;   // Å
inline constexpr double kRelaxEndHalfWidth = 0.000000001; // Å
inline constexpr double kRelaxRelaxedEnergy = 0.00001;  // eV: at or below this the molecule is relaxed
inline constexpr double kRelaxTooHotSpread = 2.0;
inline constexpr double kRelaxTooColdSpread = 0.0045;   // scaled by the fraction of steps left
inline constexpr long kRelaxRingExtra = 10000;          // ring length N² + this
// The running energy is re-summed from all terms this often (steps), so that
// the per-move updates cannot drift.
inline constexpr long kRelaxResumInterval = 100000;

// The generator: a multiplicative congruential generator modulo 2^32 whose
// state is an integer held in a double; the product is formed in double
// arithmetic, so above 2^53 it rounds. Advances the state, returns
// u = state / 2^32 in [0, 1).
double AdvanceRelaxGenerator(double *state);
// u x (high - low) + low.
double GenerateRandomDouble(double low, double high, double *state);
// floor(u x (high - low) + low), less one when that exceeds high - 1.
long GenerateRandomInt(long low, long high, double *state);

// Types the atoms, finds the terms, and anneals. 0 when the search ran (to
// any end), -1 when the run failed or was stopped before or at the start of
// the search. The record's step is the Monte-Carlo step the run reached.
// Seeds the generator from the clock.
int RelaxMolecule(RelaxMoleculeData &record);
// The same with a given generator state (a state of 0 is taken as 1).
int RelaxMoleculeWithSeed(RelaxMoleculeData &record, double state);

// Types the atoms and finds the terms, writing "Applying potentials" and
// the finders' lines; *energy gets the total energy. 0, or -1 when a finder
// failed (with its line written) or the stop byte was set before a finder
// (nothing written).
int PrepareRelaxation(RelaxMoleculeData &record, double *energy);

// Anneals a typed record with its terms. *energy is the current total energy
// in and out, *state the generator state. 0, or -1 when the energy ring
// or the term index cannot be allocated.
int RunMonteCarlo(RelaxMoleculeData &record, double *energy, double *state);

#!/usr/bin/python3
"""Times python3-ase's neighbor_list against the engine's bond generation on
the same pairs, in one run.

The structure is the 10 x 10 x 10 rock-salt supercell (a = 5.6402 A, 8,000
atoms, not periodic: the bonds of a plotted range), the pairs those closer
than 3.0 A, which are exactly the Na-Cl bonds (Na-Cl 2.82 A, Na-Na and Cl-Cl
3.99 A). ASE is timed here (best of --repeats runs of neighbor_list('ij')); the
engine's time is the benchmark BM_NaCl8000 of bench_BondSearchBench
(TurboGenerateBonds with the specification Na-Cl 0 to 3.0 A), run from here.
Both must find the same number of pairs. Prints both times and their ratio.

Usage: tools/bench_ase_neighbors.py --bench <build>/bench/bench_BondSearchBench
Build the benchmark in Release (-DCMAKE_BUILD_TYPE=Release).
"""

import argparse
import json
import subprocess
import sys
import time

from ase.build import bulk
from ase.neighborlist import neighbor_list

A = 5.6402
CUTOFF = 3.0
CELLS = 10


def time_ase(repeats):
    atoms = bulk('NaCl', 'rocksalt', a=A, cubic=True).repeat((CELLS, CELLS, CELLS))
    atoms.pbc = False
    best = None
    pairs = 0
    for _ in range(repeats):
        start = time.perf_counter()
        i, j = neighbor_list('ij', atoms, CUTOFF)
        elapsed = time.perf_counter() - start
        best = elapsed if best is None else min(best, elapsed)
        pairs = len(i) // 2
    return len(atoms), pairs, best


def time_engine(binary):
    result = subprocess.run([binary, '--benchmark_filter=^BM_NaCl8000$', '--benchmark_format=json',
                             '--benchmark_repetitions=5'],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, check=True)
    data = json.loads(result.stdout)
    runs = [b for b in data['benchmarks'] if b.get('run_type') == 'iteration']
    scale = {'ns': 1e-9, 'us': 1e-6, 'ms': 1e-3, 's': 1.0}
    best = min(b['real_time'] * scale[b['time_unit']] for b in runs)
    return int(runs[0]['atoms']), int(runs[0]['bonds']), best


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    parser.add_argument('--bench', required=True, help='path of bench_BondSearchBench')
    parser.add_argument('--repeats', type=int, default=5)
    args = parser.parse_args()
    ase_atoms, ase_pairs, ase_time = time_ase(args.repeats)
    our_atoms, our_pairs, our_time = time_engine(args.bench)
    print('ASE neighbor_list : %6d atoms %7d pairs %9.3f ms' % (ase_atoms, ase_pairs, ase_time * 1e3))
    print('TurboGenerateBonds: %6d atoms %7d pairs %9.3f ms' % (our_atoms, our_pairs, our_time * 1e3))
    print('ratio ASE / engine: %.1f' % (ase_time / our_time))
    if ase_atoms != our_atoms or ase_pairs != our_pairs:
        print('the two found different structures or pairs')
        return 1
    return 0


if __name__ == '__main__':
    sys.exit(main())

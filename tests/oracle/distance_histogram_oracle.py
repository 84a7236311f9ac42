#!/usr/bin/python3
"""Checks the Distance Explorer's histogram against python3-ase and numpy,
and its PDF export with poppler's pdfinfo and pdftoppm.

The gtest ExplorerDump.HistogramBins of <build-dir>/tests/test_explorers
searches, for every structure of tests/data/bonds, the distances from the
sites of the first element to the atoms of every other element between 1
and 4 A, bins them per To element and writes the counts; it also exports the
first structure's histogram as a PDF titled "histogram.pdf", its first To
element's bars in pure red.

Independently, ASE builds each crystal (ase.spacegroup), lists the periodic
neighbours of the From sites (ase.neighborlist.neighbor_list) and numpy
bins their distances with edges min + i * width: every bin but the last must
hold the engine's count (numpy closes the last bin, the engine does not). A
distance within 1e-4 A of an edge would make the result depend on rounding
and fails the run. The PDF must carry its Title and the program as Producer,
and the rendered page must show the red bars.
"""

import argparse
import os
import subprocess
import sys
import tempfile

import numpy as np
from ase import Atoms
from ase.geometry import cellpar_to_cell
from ase.neighborlist import neighbor_list
from ase.spacegroup import Spacegroup

EDGE_MARGIN = 1e-4
SYMPREC = 1e-3


def read_structures(path):
    out, cur = [], None
    with open(path) as f:
        for raw in f:
            words = raw.split('#', 1)[0].split()
            if not words:
                continue
            if words[0] == 'structure':
                cur = {'title': ' '.join(words[1:]), 'sites': []}
                out.append(cur)
            elif words[0] == 'cell':
                cur['cell'] = [float(w) for w in words[1:7]]
            elif words[0] == 'oracle':
                cur['number'] = int(words[1])
            elif words[0] == 'site':
                cur['sites'].append((words[1], words[2], tuple(float(w) for w in words[3:6])))
    return out


def read_dump(path):
    out, cur = {}, None
    with open(path) as f:
        for line in f:
            words = line.split()
            if words[0] == 'structure':
                cur = {'to': {}}
                out[line[len('structure'):].strip()] = cur
            elif words[0] == 'range':
                cur['range'] = (float(words[1]), float(words[2]), float(words[3]), int(words[4]))
            elif words[0] == 'from':
                cur['from'] = words[1:]
            elif words[0] == 'to':
                cur['to'][words[1]] = [int(w) for w in words[2:]]
    return out


def check(s, got, failures):
    lo, hi, width, count = got['range']
    sg = Spacegroup(s['number'])
    frac, kinds = sg.equivalent_sites([site[2] for site in s['sites']], symprec=SYMPREC)
    elements = [s['sites'][k][1] for k in kinds]
    atoms = Atoms(symbols=elements, scaled_positions=np.mod(frac, 1.0), cell=cellpar_to_cell(s['cell']), pbc=True)
    ii, jj, dd = neighbor_list('ijd', atoms, hi + 0.5)
    labels = [site[0] for site in s['sites']]
    edges = lo + np.arange(count + 1) * width
    for element, bins in got['to'].items():
        distances = []
        for label in got['from']:
            centre = list(kinds).index(labels.index(label))
            mine = (ii == centre) & (np.array(elements)[jj] == element) & (dd >= lo) & (dd <= hi)
            distances.extend(dd[mine])
        distances = np.array(distances)
        near = np.min(np.abs(distances[:, None] - edges[None, :])) if len(distances) else 1.0
        if near < EDGE_MARGIN:
            failures.append('%s: a distance lies %.2g A from a bin edge' % (s['title'], near))
            continue
        expected, _ = np.histogram(distances, bins=edges)
        if len(bins) != count or list(expected[:-1]) != bins[:-1]:
            failures.append('%s to %s: engine %s, numpy %s' % (s['title'], element, bins, list(expected)))
        if sum(bins) == 0:
            failures.append('%s to %s: no distances at all' % (s['title'], element))


def check_pdf(path, failures):
    info = subprocess.run(['pdfinfo', path], stdout=subprocess.PIPE, text=True).stdout
    fields = dict(line.split(':', 1) for line in info.splitlines() if ':' in line)
    if fields.get('Title', '').strip() != 'histogram.pdf':
        failures.append('PDF title: %r' % fields.get('Title'))
    if fields.get('Producer', '').strip() != 'Orvalisphere for Linux':
        failures.append('PDF producer: %r' % fields.get('Producer'))
    png = subprocess.run(['pdftoppm', '-r', '72', '-singlefile', path], stdout=subprocess.PIPE).stdout
    # A PPM: header "P6 w h 255" then RGB bytes.
    parts = png.split(b'\n', 3)
    w, h = (int(v) for v in parts[1].split())
    pixels = np.frombuffer(parts[3], dtype=np.uint8)[:w * h * 3].reshape(h, w, 3)
    red = np.sum((pixels[:, :, 0] > 240) & (pixels[:, :, 1] < 15) & (pixels[:, :, 2] < 15))
    if red < 10:
        failures.append('PDF: no red bar among the rendered pixels')


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--build-dir', required=True)
    ap.add_argument('--source-dir', required=True)
    args = ap.parse_args()
    data_dir = os.path.join(args.source_dir, 'tests', 'data', 'bonds')
    structures = []
    for name in sorted(os.listdir(data_dir)):
        if name.endswith('.txt'):
            structures.extend(read_structures(os.path.join(data_dir, name)))
    failures = []
    with tempfile.TemporaryDirectory() as tmp:
        env = dict(os.environ, OV_EXPLORER_DUMP_IN=data_dir, OV_EXPLORER_DUMP_OUT=tmp, QT_QPA_PLATFORM='offscreen')
        result = subprocess.run([os.path.join(args.build_dir, 'tests', 'test_explorers'),
                                 '--gtest_filter=ExplorerDump.HistogramBins'], env=env,
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        if result.returncode != 0 or 'SKIPPED' in result.stdout:
            sys.stdout.write(result.stdout)
            raise SystemExit('the engine dump failed')
        dump = read_dump(os.path.join(tmp, 'histogram.txt'))
        check_pdf(os.path.join(tmp, 'histogram.pdf'), failures)
    for s in structures:
        if s['title'] not in dump:
            failures.append('%s: missing from the dump' % s['title'])
        else:
            check(s, dump[s['title']], failures)
    for f in failures:
        print('FAIL', f)
    if failures:
        return 1
    print('distance histogram oracle: %d structures agree with ASE and numpy; the PDF reads right' % len(structures))
    return 0


if __name__ == '__main__':
    sys.exit(main())

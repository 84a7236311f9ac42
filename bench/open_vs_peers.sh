#!/bin/bash
# Whole processes on one core, the median of 5 wall times each: ovrender's
# open and first picture of the simulation files bench/make_open_files.py
# writes (LAMMPS data, .gro, LAMMPS dump), beside ASE's read of each and
# Open Babel's conversion of it to XYZ. A whole process's time says as much
# about the machine (Python's start, its page faults) as about the reader:
# the PDB, mmCIF and CIF files are compared with gemmi's C++ library in one
# process instead, by bench_PeerReadBench.
#   bench/open_vs_peers.sh [BUILD_DIR] [CORE] [FOLDER]
# BUILD_DIR defaults to build/release (OVRENDER names another ovrender),
# CORE to 3, FOLDER to the folder the
# benchmark bench_LargeOpenBench uses (the files are written when missing).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build/release}
core=${2:-3}
folder=${3:-${TMPDIR:-/tmp}/ovbench-large-opens}
ovrender=${OVRENDER:-$build/bench/ovrender}
[ -x "$ovrender" ] || { echo "no $ovrender: build the target ovrender_tool" >&2; exit 1; }
[ -f "$folder/cu-100000.dump" ] || /usr/bin/python3 "$here/make_open_files.py" "$folder"
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

# The median of 5 wall times of a command, in seconds ("-" when it fails).
median() {
  local times=()
  for _ in 1 2 3 4 5; do
    local start end
    start=$(date +%s.%N)
    if ! taskset -c "$core" "$@" >"$out/log" 2>&1; then
      echo "-"
      return
    fi
    end=$(date +%s.%N)
    times+=("$(echo "$end - $start" | bc)")
  done
  printf '%s\n' "${times[@]}" | sort -n | sed -n 3p
}

echo "load: $(uptime | sed 's/.*load average: //')"
printf '%-20s %10s %10s %10s %10s\n' file ovrender ase obabel "ov/best"
for name in water-98304.data water-98304.gro cu-100000.dump; do
  file=$folder/$name
  [ -f "$file" ] || /usr/bin/python3 "$here/make_open_files.py" "$folder"
  format=""
  [[ $name == *.data ]] && format=", format='lammps-data'"
  ov=$(median "$ovrender" "$file" "$out/o.png" --size 1000x800)
  ase=$(median /usr/bin/python3 -c "import ase.io; ase.io.read('$file'$format)")
  # Open Babel reads no LAMMPS data or dump file: it converts nothing.
  ob=$(median obabel "$file" -O "$out/o.xyz")
  if grep -q "^0 molecules converted" "$out/log" 2>/dev/null; then ob="-"; fi
  best=$ase
  [[ $ob != "-" && $ase != "-" ]] && best=$(echo "if ($ob < $ase) $ob else $ase" | bc)
  ratio="-"
  [[ $best != "-" && $ov != "-" ]] && ratio=$(echo "scale=2; $ov / $best" | bc)
  printf '%-20s %10s %10s %10s %10s\n' "$name" "$ov" "$ase" "$ob" "$ratio"
done

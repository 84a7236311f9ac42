#!/bin/sh
# Renders every example (and any further structure files given) in every
# model, full quality and as a fast rotation frame, with two builds of
# ovrender, and compares the pictures pixel by pixel.
#
#   bench/tools/compare_renders.sh OLD_OVRENDER NEW_OVRENDER OUTDIR [FILE...]
#
# Prints one line per picture: the number of pixels that differ and the
# largest channel difference; "same" when the two are identical. Exits 1
# when any picture differs.
set -eu
old=$1 new=$2 out=$3
shift 3
here=$(cd "$(dirname "$0")/../.." && pwd)
mkdir -p "$out"
files="$here/resources/examples/*.ovtx $*"
status=0
for f in $files; do
  name=$(basename "$f" | sed 's/\.[^.]*$//')
  for model in 1 2 3 4 5 6; do
    for fast in "" --fast; do
      tag="${name}_m${model}${fast:+_fast}"
      "$old" "$f" "$out/$tag.old.ppm" --model "$model" $fast >/dev/null 2>&1 || continue
      "$new" "$f" "$out/$tag.new.ppm" --model "$model" $fast >/dev/null 2>&1 || { echo "$tag: new build failed"; status=1; continue; }
      /usr/bin/python3 - "$out/$tag.old.ppm" "$out/$tag.new.ppm" "$tag" <<'PY' || status=1
import sys
import numpy as np

def read(path):
    data = open(path, 'rb').read()
    fields, pos = [], 0
    while len(fields) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        if data[pos:pos + 1] == b'#':
            pos = data.index(b'\n', pos)
            continue
        end = pos
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[pos:end])
        pos = end
    w, h = int(fields[1]), int(fields[2])
    return np.frombuffer(data[pos + 1:pos + 1 + w * h * 3], dtype=np.uint8).reshape(h, w, 3)

a, b = read(sys.argv[1]), read(sys.argv[2])
if a.shape != b.shape:
    print(f"{sys.argv[3]}: sizes differ {a.shape} {b.shape}")
    sys.exit(1)
diff = np.abs(a.astype(int) - b.astype(int))
count = int(np.count_nonzero(diff.max(axis=2)))
print(f"{sys.argv[3]}: same" if count == 0 else f"{sys.argv[3]}: {count} pixels differ, largest {int(diff.max())}")
sys.exit(0 if count == 0 else 1)
PY
    done
  done
done
exit $status

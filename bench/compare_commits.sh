#!/usr/bin/env bash
# Every benchmark of two commits, side by side on one core:
#   bench/compare_commits.sh BASE NEW CORE [FILTER]
# BASE and NEW name commits (a branch, a tag, a hash); CORE is the processor
# the benchmarks are pinned to (taskset -c CORE); FILTER, when given, is a
# Google Benchmark filter (a regular expression over the cases' names).
#
# Each commit is checked out in a worktree of its own and built in Release
# beside it, under OV_COMPARE_DIR (build/compare by default): the trees
# "base" and "new" are kept from one comparison to the next, so a later
# run rebuilds only what changed. Then three rounds run every benchmark
# program of both builds, the base's and the new one's alternately, each
# program as a whole. The table gives each case's best real time of the
# three rounds for both commits and their ratio (new / base), and marks
# with "<<" every ratio above 1.10. Cases one commit lacks show "-".
# Nothing else should run on the chosen core meanwhile.
set -euo pipefail
if [ $# -lt 3 ]; then
  sed -n '2,6p' "$0" >&2
  exit 2
fi
base_rev=$1 new_rev=$2 core=$3 filter=${4:-}
repo=$(git -C "$(dirname "$0")" rev-parse --show-toplevel)
root=${OV_COMPARE_DIR:-$repo/build/compare}
jobs=${OV_JOBS:-$(nproc)}
rounds=3
limit=1.10
mkdir -p "$root"
root=$(cd "$root" && pwd)

# The commit checked out in the slot's worktree and built there.
build() {
  local slot=$1 rev=$2 src=$root/$1/src out=$root/$1/build
  local commit
  commit=$(git -C "$repo" rev-parse --verify "$rev^{commit}")
  if [ -e "$src/.git" ]; then
    git -C "$src" checkout --quiet --force --detach "$commit"
  else
    git -C "$repo" worktree add --quiet --force --detach "$src" "$commit"
  fi
  cmake -S "$src" -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=Release -DOV_BUILD_BENCH=ON -DOV_BUILD_TESTS=OFF >/dev/null
  cmake --build "$out" -j"$jobs" >"$root/$slot.log" 2>&1 || {
    echo "the build of $rev failed: $root/$slot.log" >&2
    exit 1
  }
  echo "$slot: $rev ($(git -C "$src" log -1 --format='%h %s' | cut -c1-70))"
}
build base "$base_rev"
build new "$new_rev"

results=$root/results
rm -rf "$results"
mkdir -p "$results"
programs=$(cd "$root/new/build/bench" && ls bench_* | sort)
args=(--benchmark_format=json)
[ -n "$filter" ] && args+=("--benchmark_filter=$filter")
export QT_QPA_PLATFORM=offscreen LC_ALL=C.UTF-8
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
for round in $(seq 1 $rounds); do
  for program in $programs; do
    for slot in base new; do
      exe=$root/$slot/build/bench/$program
      [ -x "$exe" ] || continue
      # A program that fails leaves what it wrote; its cases show "-".
      (cd "$root/$slot/build/bench" &&
        taskset -c "$core" "$exe" "${args[@]}" >"$results/$slot.$program.$round.json" 2>/dev/null) || true
    done
  done
  echo "round $round done, load: $(cut -d' ' -f1-3 /proc/loadavg)"
done

/usr/bin/python3 - "$results" "$limit" <<'EOF'
import glob, json, os, sys

results, limit = sys.argv[1], float(sys.argv[2])
best = {"base": {}, "new": {}}
order = []
for path in sorted(glob.glob(os.path.join(results, "*.json"))):
    slot, program = os.path.basename(path).split(".")[:2]
    try:
        with open(path) as f:
            runs = json.load(f).get("benchmarks", [])
    except (OSError, ValueError):
        continue
    for run in runs:
        if run.get("run_type", "iteration") != "iteration" or run.get("error_occurred"):
            continue
        name = program[len("bench_"):] + ":" + run["name"]
        scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[run.get("time_unit", "ns")]
        seconds = run["real_time"] * scale
        if name not in best["base"] and name not in best["new"]:
            order.append(name)
        best[slot][name] = min(seconds, best[slot].get(name, float("inf")))

def shown(seconds):
    if seconds is None:
        return "-"
    for unit, scale in (("s", 1.0), ("ms", 1e-3), ("us", 1e-6)):
        if seconds >= scale:
            return "%.3g %s" % (seconds / scale, unit)
    return "%.3g ns" % (seconds / 1e-9)

width = max([len(n) for n in order] + [10])
print("%-*s %12s %12s %7s" % (width, "benchmark", "base", "new", "ratio"))
above = 0
for name in order:
    b, n = best["base"].get(name), best["new"].get(name)
    ratio = "-" if b is None or n is None or b <= 0 else "%.3f" % (n / b)
    flag = ""
    if ratio != "-" and float(ratio) > limit:
        flag = " <<"
        above += 1
    print("%-*s %12s %12s %7s%s" % (width, name, shown(b), shown(n), ratio, flag))
print("%d of %d cases above %.2f" % (above, len(order), limit))
EOF

#!/usr/bin/env bash
# Every benchmark of two commits, side by side on one core:
#   bench/compare_commits.sh BASE NEW CORE [FILTER]
# BASE and NEW name commits (a branch, a tag, a hash); CORE is the processor
# the benchmarks are pinned to (taskset -c CORE); FILTER, when given, is a
# Google Benchmark filter (a regular expression over the cases' names).
# OV_ROUNDS sets the rounds (3 by default), OV_JOBS the build's jobs.
#
# Each commit is checked out in a worktree of its own, outside the checkout:
# under OV_COMPARE_DIR, by default ${TMPDIR:-/tmp}/ov-compare-<the
# checkout's folder name>, as "base" and "new", each built in Release in
# its build/release, as a checkout's own build is laid out (with ccache, an
# OV_COMPARE_DIR under its base_dir then shares the checkout's compiled
# files). The trees are kept from one comparison to the next, so a later
# run rebuilds only what changed.
#
# Each round runs every benchmark program of both builds, one program after
# the other, each as a whole; the two builds of a program take turns at
# going first (base first in odd rounds, new first in even ones), so that
# neither always finds the machine as the other left it. Each round gives,
# for every case, one pair of times and their ratio new / base, for the CPU
# time (the benchmark thread's user + system time, as Google Benchmark
# reports it) and for the wall time. The table gives each case's median
# time of the rounds for both builds and the median of the paired ratios
# with their range (lowest-highest), and marks with "<<" each case whose
# CPU or wall median ratio is above 1.05. Below the cases, a row per
# program that ran a case gives the whole process's user + system time (every thread: work
# a case hands to other threads shows here and in the wall time, not in
# the case's CPU time) and its wall time, the same way. Cases one build
# lacks show "-". Nothing else should run on the chosen core meanwhile.
set -euo pipefail
if [ $# -lt 3 ]; then
  sed -n '2,7p' "$0" >&2
  exit 2
fi
base_rev=$1 new_rev=$2 core=$3 filter=${4:-}
repo=$(git -C "$(dirname "$0")" rev-parse --show-toplevel)
root=${OV_COMPARE_DIR:-${TMPDIR:-/tmp}/ov-compare-$(basename "$repo")}
jobs=${OV_JOBS:-$(nproc)}
rounds=${OV_ROUNDS:-3}
limit=1.05
mkdir -p "$root"
root=$(cd "$root" && pwd)
case "$root/" in
"$repo"/*)
  echo "OV_COMPARE_DIR is inside the checkout ($repo): choose a folder outside it" >&2
  exit 2
  ;;
esac

# The commit checked out in the slot's worktree and built there.
build() {
  local slot=$1 rev=$2 src=$root/$1 out=$root/$1/build/release
  local commit
  commit=$(git -C "$repo" rev-parse --verify "$rev^{commit}")
  if [ -e "$src/.git" ]; then
    git -C "$src" checkout --quiet --force --detach "$commit"
  else
    git -C "$repo" worktree prune
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
programs=$(cd "$root/new/build/release/bench" && ls bench_* | sort)
args=(--benchmark_format=json)
[ -n "$filter" ] && args+=("--benchmark_filter=$filter")
export QT_QPA_PLATFORM=offscreen LC_ALL=C.UTF-8
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
TIMEFORMAT='%R %U %S'
for round in $(seq 1 "$rounds"); do
  order="base new"
  [ $((round % 2)) -eq 0 ] && order="new base"
  for program in $programs; do
    for slot in $order; do
      exe=$root/$slot/build/release/bench/$program
      [ -x "$exe" ] || continue
      run=$results/$slot.$program.$round
      # A program that fails leaves what it wrote; its cases show "-". The
      # process's wall, user and system seconds go beside its JSON.
      {
        time (cd "$root/$slot/build/release/bench" &&
          taskset -c "$core" "$exe" "${args[@]}" >"$run.json" 2>/dev/null) || true
      } 2>"$run.time"
    done
  done
  echo "round $round ($order) done, load: $(cut -d' ' -f1-3 /proc/loadavg)"
done

/usr/bin/python3 - "$results" "$limit" "$rounds" <<'EOF'
import glob, json, os, statistics, sys

results, limit, rounds = sys.argv[1], float(sys.argv[2]), int(sys.argv[3])
# times[slot][name][round] = (cpu seconds, wall seconds)
times = {"base": {}, "new": {}}
order = []
programs = []
for path in sorted(glob.glob(os.path.join(results, "*.json"))):
    slot, program, round_ = os.path.basename(path).split(".")[:3]
    round_ = int(round_)
    try:
        with open(path) as f:
            runs = json.load(f).get("benchmarks", [])
    except (OSError, ValueError):
        runs = []
    for run in runs:
        if run.get("run_type", "iteration") != "iteration" or run.get("error_occurred"):
            continue
        name = program[len("bench_"):] + ":" + run["name"]
        scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[run.get("time_unit", "ns")]
        if name not in order:
            order.append(name)
        times[slot].setdefault(name, {})[round_] = (run["cpu_time"] * scale, run["real_time"] * scale)
    try:
        with open(path[: -len(".json")] + ".time") as f:
            wall, user, system = map(float, f.read().split()[-3:])
    except (OSError, ValueError):
        continue
    # A program none of whose cases ran (the filter) says nothing.
    name = program + " (process)"
    if not runs:
        continue
    if name not in programs:
        programs.append(name)
    times[slot].setdefault(name, {})[round_] = (user + system, wall)


def shown(seconds):
    if seconds is None:
        return "-"
    for unit, scale in (("s", 1.0), ("ms", 1e-3), ("us", 1e-6)):
        if seconds >= scale:
            return "%.3g %s" % (seconds / scale, unit)
    return "%.3g ns" % (seconds / 1e-9)


def median(values):
    return statistics.median(values) if values else None


def column(name, which):
    """The two medians and the paired ratios' median and range of one measure."""
    b, n = times["base"].get(name, {}), times["new"].get(name, {})
    ratios = sorted(n[r][which] / b[r][which] for r in b if r in n and b[r][which] > 0)
    medians = (median([t[which] for t in b.values()]), median([t[which] for t in n.values()]))
    if not ratios:
        return medians, None, "-"
    m = median(ratios)
    return medians, m, "%.3f [%.2f-%.2f]" % (m, ratios[0], ratios[-1])


width = max([len(n) for n in order + programs] + [10])
header = "%-*s %10s %10s %-20s %10s %10s %-20s" % (
    width, "benchmark", "base cpu", "new cpu", "cpu ratio [range]", "base wall", "new wall", "wall ratio [range]")
above = 0


def table(names):
    global above
    for name in names:
        (bc, nc), cm, ct = column(name, 0)
        (bw, nw), wm, wt = column(name, 1)
        flag = ""
        if (cm or 0) > limit or (wm or 0) > limit:
            flag = " <<"
            above += 1
        print("%-*s %10s %10s %-20s %10s %10s %-20s%s" % (
            width, name, shown(bc), shown(nc), ct, shown(bw), shown(nw), wt, flag))


print("%d rounds; ratios are new / base, paired by round" % rounds)
print(header)
table(order)
print()
table(programs)
print("%d of %d rows above %.2f" % (above, len(order) + len(programs), limit))
EOF

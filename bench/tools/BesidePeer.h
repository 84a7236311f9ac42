// Our work timed beside a peer library's doing the same, in one process, so
// that their ratio holds on any machine and under any load.
#pragma once

#include <benchmark/benchmark.h>

#include <ctime>
#include <string>

namespace benchscene {

// The thread's CPU time (user + system) in seconds.
inline double ThreadCPUSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// `ours` timed as the benchmark's iterations, and beside each, untimed, the
// peer's `theirs` on the same input. They take turns at going first, as the
// second finds the input in the processor's cache. The counter `ratio` is
// our CPU time over the peer's, and `<ratio>_peer_ms` the peer's CPU time
// an iteration. `ours` answers an empty string, or why it failed (the
// benchmark then stops with it).
template <class Ours, class Theirs>
void TimeBesidePeer(benchmark::State &state, const std::string &ratio, Ours &&ours, Theirs &&theirs) {
  double oursSeconds = 0.0, theirsSeconds = 0.0;
  auto peer = [&] {
    state.PauseTiming();
    const double start = ThreadCPUSeconds();
    theirs();
    theirsSeconds += ThreadCPUSeconds() - start;
    state.ResumeTiming();
  };
  bool peerFirst = true;
  for (auto _ : state) {
    if (peerFirst)
      peer();
    const double start = ThreadCPUSeconds();
    const std::string failure = ours();
    oursSeconds += ThreadCPUSeconds() - start;
    if (!failure.empty()) {
      state.SkipWithError(failure.c_str());
      break;
    }
    if (!peerFirst)
      peer();
    peerFirst = !peerFirst;
  }
  if (theirsSeconds > 0.0 && state.iterations() > 0) {
    state.counters[ratio] = oursSeconds / theirsSeconds;
    state.counters[ratio + "_peer_ms"] = 1e3 * theirsSeconds / static_cast<double>(state.iterations());
  }
}

} // namespace benchscene

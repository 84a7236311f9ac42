// A stand-alone driver for the fuzz targets when the compiler has no
// libFuzzer: it runs the target's seeds, then random mutations of them
// (bit flips, overwritten bytes, large counts, cuts, repeats and splices)
// until the time given by -max_total_time=<seconds> (default 10) is up.
// A crash, a sanitizer report or an input that runs longer than
// -timeout=<seconds> (default 10) ends the run with a failure; the input is
// written to fuzz-crash-input first. -seeds_to=<folder> writes the seeds as
// files instead (a corpus to start libFuzzer from) and stops.
#include "FuzzTarget.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <csignal>
#include <random>
#include <string>
#include <unistd.h>

namespace {

std::string gCurrent;

void SaveCurrent() {
  std::ofstream out("fuzz-crash-input", std::ios::binary);
  out.write(gCurrent.data(), static_cast<std::streamsize>(gCurrent.size()));
}

void Mutate(std::string &s, std::mt19937_64 &rng, const std::vector<std::string> &seeds) {
  auto pick = [&](size_t n) { return n == 0 ? size_t{0} : static_cast<size_t>(rng() % n); };
  const int steps = 1 + static_cast<int>(rng() % 4);
  for (int k = 0; k < steps; k++) {
    switch (rng() % 7) {
    case 0: // flip a bit
      if (!s.empty())
        s[pick(s.size())] ^= static_cast<char>(1u << (rng() % 8));
      break;
    case 1: // a random byte
      if (!s.empty())
        s[pick(s.size())] = static_cast<char>(rng());
      break;
    case 2: { // a large or odd 32-bit value
      static const uint32_t values[] = {0, 1, 0x7FFFFFFF, 0x80000000u, 0xFFFFFFFFu, 0x40000001u, 0xFFFF, 256};
      if (s.size() >= 4) {
        const uint32_t v = values[rng() % (sizeof values / sizeof values[0])];
        std::memcpy(&s[pick(s.size() - 3)], &v, 4);
      }
      break;
    }
    case 3: // cut
      s.resize(pick(s.size() + 1));
      break;
    case 4: { // repeat a piece
      if (s.empty())
        break;
      const size_t at = pick(s.size()), n = 1 + pick(std::min<size_t>(64, s.size() - at));
      s.insert(at, s.substr(at, n));
      break;
    }
    case 5: { // splice in a piece of another seed
      const std::string &other = seeds[pick(seeds.size())];
      if (other.empty())
        break;
      const size_t from = pick(other.size()), n = 1 + pick(std::min<size_t>(128, other.size() - from));
      s.insert(pick(s.size() + 1), other.substr(from, n));
      break;
    }
    default: { // a text token
      static const char *tokens[] = {"nan", "inf", "1e300", "-0", "\n", "\r", " ", "ATOM\n", "AVEC\n", "SYMM  ",
                                     "99999999999", "\xff", "\0"};
      s.insert(pick(s.size() + 1), tokens[rng() % (sizeof tokens / sizeof tokens[0])]);
      break;
    }
    }
  }
}

extern "C" void OnTimeout(int) {
  static const char message[] = "an input ran past the time limit (a hang); it is in fuzz-crash-input\n";
  [[maybe_unused]] const ssize_t written = ::write(2, message, sizeof message - 1);
  ::_exit(1);
}

// Runs one input under the time limit.
void RunOne(const std::string &input, unsigned timeout) {
  ::alarm(timeout);
  LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(input.data()), input.size());
  ::alarm(0);
}

} // namespace

int main(int argc, char **argv) {
  double seconds = 10.0;
  const char *seedFolder = nullptr;
  unsigned timeout = 10;
  for (int k = 1; k < argc; k++) {
    if (std::strncmp(argv[k], "-timeout=", 9) == 0)
      timeout = static_cast<unsigned>(std::max(1, std::atoi(argv[k] + 9)));
    if (std::strncmp(argv[k], "-max_total_time=", 16) == 0)
      seconds = std::atof(argv[k] + 16);
    if (std::strncmp(argv[k], "-seeds_to=", 10) == 0)
      seedFolder = argv[k] + 10;
  }
  std::vector<std::string> seeds = FuzzSeeds();
  if (seedFolder) {
    for (size_t k = 0; k < seeds.size(); k++) {
      std::ofstream out(std::string(seedFolder) + "/seed" + std::to_string(k), std::ios::binary);
      out.write(seeds[k].data(), static_cast<std::streamsize>(seeds[k].size()));
    }
    return 0;
  }
  seeds.emplace_back();
  std::signal(SIGALRM, OnTimeout);
  std::mt19937_64 rng(0x5eed);
  long runs = 0;
  for (const std::string &seed : seeds) {
    gCurrent = seed;
    SaveCurrent();
    RunOne(seed, timeout);
    runs++;
  }
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (std::chrono::steady_clock::now() < end) {
    for (int batch = 0; batch < 16; batch++) {
      gCurrent = seeds[static_cast<size_t>(rng() % seeds.size())];
      Mutate(gCurrent, rng, seeds);
      SaveCurrent();
      RunOne(gCurrent, timeout);
      runs++;
    }
  }
  std::remove("fuzz-crash-input");
  std::printf("%ld inputs in %.0f s, no failure\n", runs, seconds);
  return 0;
}

// What every fuzz target provides: the libFuzzer entry point, and the seeds
// the stand-alone driver (FuzzDriver.cpp) starts its mutations from.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);
std::vector<std::string> FuzzSeeds();

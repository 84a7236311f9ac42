// Files a benchmark writes for itself: one name per process in the
// temporary folder, removed when the process ends, however many of the
// benchmarks that use them ran (a smoke run stops after the first).
#pragma once

#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace benchtemp {

class Files {
public:
  ~Files() {
    std::error_code ec;
    for (const std::filesystem::path &file : files_)
      std::filesystem::remove(file, ec);
  }
  std::filesystem::path Name(const std::string &name) {
    std::filesystem::path file =
        std::filesystem::temp_directory_path() / ("ovbench-" + std::to_string(::getpid()) + "-" + name);
    std::lock_guard<std::mutex> hold(mutex_);
    files_.push_back(file);
    return file;
  }

private:
  std::mutex mutex_;
  std::vector<std::filesystem::path> files_;
};

inline Files &TheFiles() {
  static Files files;
  return files;
}

// The process's own path for `name`.
inline std::filesystem::path Name(const std::string &name) { return TheFiles().Name(name); }

// `text` written to the process's own file `name`.
inline std::filesystem::path Written(const std::string &name, const std::string &text) {
  const std::filesystem::path file = Name(name);
  std::ofstream(file, std::ios::trunc | std::ios::binary) << text;
  return file;
}

} // namespace benchtemp

// The name of the command running.
#include "RunningCommand.h"

#include <utility>

namespace {

// Empty between commands. Commands run on the main thread.
std::string &Current() {
  static std::string name;
  return name;
}

} // namespace

RunningCommand::RunningCommand(std::string name) : previous_(std::exchange(Current(), std::move(name))) {}

RunningCommand::~RunningCommand() { Current() = std::move(previous_); }

const char *RunningCommand::Name() { return Current().empty() ? "no command" : Current().c_str(); }

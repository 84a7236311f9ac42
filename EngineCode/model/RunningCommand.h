// The command running, by name, for the messages that name it (the
// instrumented check of the derived layers, DerivedLayers.h). The command
// dispatcher and the applies of sheets and windows name what they run for
// its extent; between commands it is "no command".
#pragma once

#include <string>

class RunningCommand {
public:
  explicit RunningCommand(std::string name);
  ~RunningCommand();
  RunningCommand(const RunningCommand &) = delete;
  RunningCommand &operator=(const RunningCommand &) = delete;
  // The innermost command running, or "no command".
  static const char *Name();

private:
  std::string previous_;
};

// Help > Orvalisphere Help: the index of the help pages.
#pragma once

#include "Commands.h"

#include <cstdint>

inline constexpr const char *kHelpIndexPage = "pages/index.html";

// Registers the handler of the help commands with the command dispatch.
void InstallHelpCommands();

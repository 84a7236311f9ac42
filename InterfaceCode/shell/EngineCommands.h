// Joins the engine's own command handlers (text exports, relaxation) to the
// command chain; start-up calls it once.
#pragma once

void InstallEngineCommands();

// The commands of the structure windows' toolbars, the tool window and the
// tool keys: choosing a mouse tool, zooming, centring and scaling the front
// window's structure, and all its labels on or off. A key, a toolbar button
// and a menu item run the same command through the command chain.
#pragma once

#include "HostServices.h"
#include "Tools.h"

#include <cstdint>

// Choosing a tool: every window's measurement lock goes, the atoms picked
// for the earlier tool are forgotten, a free measurement in progress ends,
// and the picking tools' prompts leave the windows.
void DoGenericTool(WindowRef window, ToolID tool);
// The rotate tool.
void DoRotateTool(WindowRef window);
// The add-atom tool; it also shows the element picker.
void DoAddAtomTool(WindowRef window);
// The tool a tool-choice command chooses; 0 for any other command.
ToolID ToolForCommand(uint32_t command);

// Joins the commands to the command chain; once at start-up.
void InstallToolbarCommands();

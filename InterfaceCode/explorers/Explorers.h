// The analysis windows of this folder joined to the program: the menu
// commands that open them and the hooks the structure windows and the
// structure editor call.
#pragma once

void InstallExplorers();

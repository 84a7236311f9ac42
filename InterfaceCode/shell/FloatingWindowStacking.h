// Floating windows (inspectors, the Overview, the tool windows) stay above
// every structure window of the program and never above another program's
// windows: each is transient for the structure window in front, which the
// window manager keeps it above, and follows the front as it changes.
#pragma once

// Follows the front structure window from now on.
void InstallFloatingWindowStacking();
// The Calculate Angle window: one floating window for the program that
// gives the angle between two directions of the front structure, each a
// lattice direction [u v w] or the normal of a lattice plane (h k l). The
// angle follows every keystroke; a command writes it to the Log.
#pragma once

#include "shell/Commands.h"

#include <cstdint>
#include <string>

class QWidget;

inline constexpr uint16_t kCalAngleDirection = 1, kCalAnglePlane = 2;

struct CalAngleData {
  uint16_t kind[2] = {kCalAngleDirection, kCalAngleDirection}; // anything but 1 is a plane normal
  float indices[2][3] = {{1.0f, 0.0f, 0.0f}, {0.0f, 0.0f, 1.0f}};
};
extern CalAngleData gCalAngleData;
extern QWidget *gCalAngleWindow;

// The Log line for the two objects and the angle ("Angle [1 0 0] ^ N(1 0 0) = 0°").
std::string CalAngleLogLine(const CalAngleData &d, float angle);

// Builds the window on first use; 0, or -1 when it cannot be made.
int InitCalAngle();
// Opens the window (the menu command and start-up); the result of InitCalAngle.
int DoCalAngle();
// Shows the record in the window for the front structure.
void UpdateCalAngle();
// Computes and shows the angle; 0 when nothing was computed.
float CalculateAngle();
// Object 1 or 2 becomes the kind with the indices; another `which` only recomputes.
void SetCalAngleIndices(float x, float y, float z, int which, uint16_t kind);
// The window's commands ('V1xA', 'Vec1', 'calA', ...).
OSStatus CalAngleCommand(uint32_t command);
void InstallCalculateAngleWindow();

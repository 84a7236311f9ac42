// Auto-rotation: a structure window turning its structure a fixed step per
// frame, at most 30 frames a second, about any of the screen's axes, one
// full turn and stop, or rocking about the vertical axis; and the Auto
// Rotate sheet that sets it up.
//
// Each rotating window has one dormant timer that plots a frame and re-arms
// itself for 1/30 second after the frame began; clearing the window's
// `autoRotating` flag ends it at its next tick, and a closing window forgets
// its timer.
#pragma once

#include "HostServices.h"

#include <cstdint>
#include <string>

class QDialog;

// The frame period: at most 30 frames a second.
inline constexpr double kAutoRotateFramePeriod = 0.033333335;
// Steps whose squared length is below this do not start.
inline constexpr float kMinAutoRotateStep2 = 0.01f;

struct AutoRotateTimerRecord {
  WindowRef window = nullptr;
  float stepX = 0, stepY = 0, stepZ = 0; // degrees per frame about the screen axes
  uint8_t oneTurn = 0;                   // stop after one full turn
  uint8_t rock = 0;                      // rock about y instead of turning
  float rockLimit = 0;                   // degrees of one full swing
  int32_t framesPerCycle = 0;            // frames of one turn or of one swing
  int32_t frameCount = 0;                // frames since the start or the last reversal
  uint64_t startTime = 0;                // microseconds
};

// The sheet's values, and the copy the sheet starts from next time.
struct AutoRotateSheetRecord {
  uint16_t mode = 1; // 1 turn about the chosen axes, 2 rock
  float rockLimit = 8.0f;
  uint8_t oneTurn = 0;
  uint8_t useX = 0, useY = 1, useZ = 0;
  float angleX = 1.0f, angleY = 1.0f, angleZ = 1.0f; // degrees per frame
};
extern AutoRotateSheetRecord gSaveAutoRotate;

// Starts a rotation; a rotation already running in the window is replaced.
// False when the step is too small or a rocking step exceeds its limit.
bool DoAutoRotate(WindowRef window, float stepX, float stepY, float stepZ, bool oneTurn, bool rock,
                  float rockLimit);
void StopAutoRotationForWindow(WindowRef window);
void DoAutoRotateInWindow(WindowRef window);
void DoAutoRotateInAllWindows();
// The rotation record running in the window; null when none runs.
const AutoRotateTimerRecord *GetAutoRotation(WindowRef window);
void PrintAutoRotateDiagnostics(const AutoRotateTimerRecord &record);
// The window's rotation timer; null when the window never rotated.
EventLoopTimer *GetAutoRotateTimer(WindowRef window);
// The window is closing: its rotation stops and its timer no longer names it.
void ForgetAutoRotation(WindowRef window);
// Seconds until the next frame when this one took `took` seconds.
double NextAutoRotateDelay(double took);

// The sheet's pure rules.
// "%.2f" and a degree sign.
std::string FormatAutoRotateAngle(float value);
// One click of a little arrow (+0.1 or -0.1): the new value of a field.
float StepRockLimit(float value, float change);
float StepAxisAngle(float value, float change);
float StepYAngle(float value, float change, bool rock, float rockLimit);
// Which field the sheet's values fail on first: 0 none, else the control
// number of the field (3 rock limit, 7 x, 11 y, 15 z).
int ValidateAutoRotate(const AutoRotateSheetRecord &record);

void DoShowAutoRotateSheet(WindowRef window);
// The sheet shown on the window now; null when none shows.
QDialog *ShowAutoRotateSheet(WindowRef window);
// Reads the sheet's fields into the record; the control number of the
// first bad field (the focus goes there), or 0 when valid, when the record
// becomes `gSaveAutoRotate`.
int ExtractAutoRotate(QDialog *sheet, AutoRotateSheetRecord *record);

// Installs the auto-rotation commands into the command chain.
void InstallAutoRotateCommands();

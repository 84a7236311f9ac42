// The rotation movie: the front structure turning once about the vertical
// screen axis, one frame per equal step, and the rules of its options.
#pragma once

#include "StructureRecord.h"

#include <optional>
#include <string>

constexpr int kMaxRotationMovieFrames = 3600;

// "%.2f° interval" of 360 / frames, or "Invalid number of frames".
std::string RotationIntervalText(double frames);
// "%.2f fps" of frames / seconds, or empty.
std::string RotationFrameRateText(double frames, double seconds);
bool RotationSettingsValid(double frames, double seconds);
// The arrows: the new value, or none when it would leave the allowed range.
std::optional<double> StepRotationFrames(double frames, bool down);
std::optional<double> StepRotationDuration(double seconds, bool down);
// Stores the options in the preferences; false when the duration is not
// positive (then nothing is recorded).
bool SaveRotationMovieValues(double frames, double seconds, bool loop, bool playAll);
// Records the movie for a structure window.
void DoExportRotationMovie(WindowRef window);

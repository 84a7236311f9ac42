// Notices that the user may switch off: a sheet over a structure window
// that tells what the command is about to do, with a "Don't show this
// message again" box. Each notice has a key, its texts and a show flag in
// the preferences (1, the factory value, shows it). OK runs the command
// after the sheet has closed; Cancel does nothing.
//
// A new notice is one row of `kDontShowAgainNotices` (DontShowAgainSheet.cpp)
// and a show flag in `PrefsRecord`.
#pragma once

#include "HostServices.h"
#include "Preferences.h"

#include <cstdint>
#include <functional>
#include <string_view>

class QDialog;

struct DontShowAgainNotice {
  const char *key;
  uint8_t PrefsRecord::*showFlag; // in gPrefs
  const char *message;
  const char *explanation;
};

// The notice of a key; null for a key no row names.
const DontShowAgainNotice *FindDontShowAgainNotice(std::string_view key);

// Control numbers of the sheet.
inline constexpr int kDontShowAgainMessage = 1;
inline constexpr int kDontShowAgainExplanation = 2;
inline constexpr int kDontShowAgainBox = 3;

using DontShowAgainCallback = std::function<void(WindowRef window, bool dontShowAgain)>;
// Shows the notice of `key` as a sheet on the structure window. OK closes it
// and then calls callback(window, box ticked); Cancel closes it and calls
// nothing. Answers the open sheet; null (and no callback) for an unknown key
// or a window that is not a structure window.
QDialog *ShowDontShowAgainSheet(std::string_view key, WindowRef window, DontShowAgainCallback callback);

// Runs `perform(window)` behind the notice of `key`: at once when its show
// flag is 0; otherwise after OK on the sheet, which first stores the show
// flag as the negation of the box. Answers the sheet, or null when the
// command ran at once (or the key is unknown, when nothing runs).
QDialog *PerformAfterNotice(std::string_view key, WindowRef window, std::function<void(WindowRef)> perform);

// Alerts: how every failure, warning and question reaches the user.
//
// The stop, caution and note alerts stay silent while `gProhibitErrorAlerts`
// is set (batch work on cached structures must not stop for them); the
// choice alerts always ask. All of them run modally through the host.
#pragma once

#include "HostServices.h"

#include <string_view>

void MyCFStopAlert(std::string_view message, std::string_view explanation = {});
void MyCFCautionAlert(std::string_view message, std::string_view explanation = {});
void MyCFNoteAlert(std::string_view message, std::string_view explanation = {});

// Two buttons: default (its text, or "OK") and cancel (its text, or
// "Cancel"), which Escape presses. True when the default button was pressed.
bool MyCFChoiceAlert(AlertType type, std::string_view message, std::string_view explanation,
                     std::string_view defaultText = {}, std::string_view cancelText = {});

// As above with a third button titled by `otherText` (none when empty).
// Answers 1 default, 2 cancel, 3 other.
int MyCFTripleChoiceAlert(AlertType type, std::string_view message, std::string_view explanation,
                          std::string_view defaultText = {}, std::string_view cancelText = {},
                          std::string_view otherText = {});

// The answer to an unrecoverable system error: 0 passes through; any other
// code shows "Sorry, an error of type '%d' occurred at '%s'" and ends the
// program at once, without saving.
int16_t CheckError(int16_t code, std::string_view place);

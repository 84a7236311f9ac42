// Undo and redo through the window's history and redo lists.
//
// The undo-snapshot timer saves the structure as a history document a
// moment after each change, so the front of the history list is the
// structure as it stands. Undo moves that document to the redo list and
// returns the window to the one behind it; Redo moves the front redo
// document back and returns the window to it. A new change after an undo
// starts a new branch: the redo documents are deleted.
#pragma once

#include "HostServices.h"

#include <filesystem>

// True for a document in the cache folder ("__OVCache" and a number).
bool IsCacheDocument(const std::filesystem::path &file);
// Deletes the redo documents of the window and empties its redo list.
void DeleteWindowRedo(WindowRef window);

// Returns the front structure window to its latest history document; when
// the structure changed since that document was saved, the change is kept
// as a redo first. False when there is nothing to undo.
bool DoUndo();
// Returns the front structure window to the latest undone structure. False
// when there is nothing to redo.
bool DoRedo();
// Whether Undo or Redo would do something for the window.
bool CanUndo(WindowRef window);
bool CanRedo(WindowRef window);

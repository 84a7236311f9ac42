// Undo and redo through the window's history and redo lists, and the
// bookkeeping of each structure window's unsaved changes.
//
// A structure window notes its own changes (NoteWindowChange,
// MainWindowData.h): every plot does, and so does whatever writes a value
// the document stores. A moment after the last one the undo timer settles
// every window that noted a change, each by itself:
// - the structure becomes an undo state (a history document at the front of
//   the window's history list) when its content differs from the front
//   state, and the window's redo documents go, since a new change starts a
//   new branch; a redraw that changed nothing makes no state;
// - the modified mark is compared with the document as last opened or saved:
//   the window is marked exactly when saving would write another structure
//   or other notes. What every plot remakes (the projected pixel positions)
//   and the window's layout are no change of the document's; nor is the plot
//   scale a resize of the pane gives, which the front state and the saved
//   document take over when they are next read (a resize itself settles
//   nothing and costs only its replot).
// The structure is read once per settling: its history document's bytes
// are hashed for the comparisons and, only when they make a new state,
// handed to the cache writer, which writes them on a worker thread (never
// synced: it is no document of the user's; CacheWrites.h), so a large
// state holds up the window only for its encoding. Nothing is settled
// during a drag, and a window waits while it rotates or calculates. The menus show the mark as it was left,
// a change not yet settled counting as one; Close, Quit and the loaders ask
// IsWindowModified, which compares the mark at once.
//
// Undo moves the front history document to the redo list and returns the
// window to the one behind it; Redo moves the front redo document back.
// Both bring back the structure only: the notes stay as they are, so that
// text the user typed is never removed by undoing another change.
#pragma once

#include "HostServices.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <vector>

struct CachedFileRecord;

// A long encoding of an undo state shows this in the status window; put off
// with Escape, it says so in the Log.
inline constexpr const char *kUndoStateStatus = "Keeping the state for Undo...";
inline constexpr const char *kUndoStateStoppedLog =
    "Undo state put off: it is kept with the next change, Undo or Save.";

// True for a document in the cache folder ("__OVCache" and a number).
bool IsCacheDocument(const std::filesystem::path &file);
// Deletes the redo documents of the window and empties its redo list.
void DeleteWindowRedo(WindowRef window);
// Waits for the cache writer, and takes every undo state it could not write
// out of its window's history, saying so in the Log; a window whose shown
// state that was takes it again at the next settling.
void DropUnwrittenUndoStates();

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

// The undo timer's action: settles every structure window that noted a
// change (see above), or arms itself again while one must wait.
void UndoBufferTimerProc();
// Installs that action in `gUndoBufferTimer`, and the taking of an undo state
// at once (TakeWindowUndoState); start-up calls it once.
void InstallUndoBufferTimer();
// Compares the window's mark with its saved document now, when a change
// since the last comparison asks for it.
void SettleWindowMark(WindowRef window);
// The window's structure and notes are its saved document now (just written,
// or just opened): the mark is cleared and later compared with them.
void NoteWindowDocumentSaved(WindowRef window);
// A document was opened (or reverted to) in the window: it is an undo state
// and the saved document. False when the user stopped the taking of that
// state: nothing is noted, and the open gives up.
bool NoteWindowDocumentOpened(WindowRef window);
// Puts the window back to its front undo state, as a command that undoes
// itself does: the history lists stay as they are. False when there is no
// state or it cannot be read.
bool RestoreWindowUndoState(WindowRef window);
// The window's structure and notes as a history document stores them: the
// document's bytes with the pixel positions every plot remakes written as
// zero. Empty for a window without a structure.
std::vector<uint8_t> EncodeHistoryDocument(WindowRef window);
// The window shows a structure its history holds already (loaded from it):
// no new state is taken for it, and the mark is compared.
void NoteWindowShowsUndoState(WindowRef window);
// Called with the window and its new history document after each undo state
// the timer or a command takes (the Overview draws its thumbnail).
void SetUndoStateListener(std::function<void(WindowRef, CachedFileRecord *)> listener);

#include "UndoHistory.h"

#include "CachedFiles.h"
#include "RenderServices.h"
#include "StructureArrays.h"
#include "documents/CrystalDocument.h"
#include "documents/PrefsFile.h"
#include "window/MainWindowData.h"

#include <array>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace {

std::function<void(WindowRef, CachedFileRecord *)> gUndoStateListener;

// FNV-1a over bytes, continuing from `digest`.
uint64_t DigestBytes(std::span<const uint8_t> bytes, uint64_t digest = 14695981039346656037ull) {
  for (uint8_t b : bytes) {
    digest ^= b;
    digest *= 1099511628211ull;
  }
  return digest;
}

uint64_t DigestText(const std::string &text, uint64_t digest) {
  return DigestBytes(std::span(reinterpret_cast<const uint8_t *>(text.data()), text.size()), digest);
}

// The projected pixel positions every plot writes again (atoms, vector
// tips, lattice plane corners, annotation objects): held aside and zeroed
// while the content is read, then put back.
class ProjectionSetAside {
public:
  explicit ProjectionSetAside(CrystalRec &c) : c_(c) {
    atoms_.reserve(c.atoms.size());
    for (AtomRecord &a : c.atoms)
      atoms_.push_back(Take(a.pixel));
    tips_.reserve(c.vectors.size());
    for (VectorRecord &v : c.vectors)
      tips_.push_back(Take(v.tipPixel));
    for (size_t k = 0; k < std::size(c.plane.vertices); k++)
      plane_[k] = Take(c.plane.vertices[k].pixel);
    boxes_.reserve(c.textBoxes.size());
    for (TextBoxRecord &t : c.textBoxes) {
      boxes_.push_back({t.pixel1, t.pixel2, t.boxRect});
      t.pixel1 = t.pixel2 = Point{};
      t.boxRect = Rect{};
    }
  }
  ~ProjectionSetAside() {
    for (size_t k = 0; k < atoms_.size(); k++)
      Put(c_.atoms[k].pixel, atoms_[k]);
    for (size_t k = 0; k < tips_.size(); k++)
      Put(c_.vectors[k].tipPixel, tips_[k]);
    for (size_t k = 0; k < std::size(c_.plane.vertices); k++)
      Put(c_.plane.vertices[k].pixel, plane_[k]);
    for (size_t k = 0; k < boxes_.size(); k++) {
      TextBoxRecord &t = c_.textBoxes[k];
      t.pixel1 = boxes_[k].pixel1;
      t.pixel2 = boxes_[k].pixel2;
      t.boxRect = boxes_[k].boxRect;
    }
  }
  ProjectionSetAside(const ProjectionSetAside &) = delete;
  ProjectionSetAside &operator=(const ProjectionSetAside &) = delete;

private:
  using Pixel = std::array<int16_t, 2>;
  struct Box {
    Point pixel1, pixel2;
    Rect boxRect;
  };
  static Pixel Take(int16_t (&p)[2]) {
    const Pixel held{p[0], p[1]};
    p[0] = p[1] = 0;
    return held;
  }
  static void Put(int16_t (&p)[2], const Pixel &held) {
    p[0] = held[0];
    p[1] = held[1];
  }
  CrystalRec &c_;
  std::vector<Pixel> atoms_, tips_;
  std::array<Pixel, kLatticePlaneMaxVertices> plane_{};
  std::vector<Box> boxes_;
};

// The structure's content as its document stores it, without the
// projection; 0 for a window without a structure. Read again while a change
// is pending, else the last reading stands.
uint64_t StructureDigest(WindowRef window) {
  MainWindowData *d = GetMainWindowData(window);
  if (!d || !IsWindowFileOpen(window))
    return 0;
  if (!d->undoStatePending && d->structureDigest)
    return d->structureDigest;
  const ProjectionSetAside aside(d->crystal);
  d->structureDigest = DigestBytes(EncodeCrystalDocument(d->crystal, DocumentExtras{}));
  return d->structureDigest;
}

// The notes with their styles, as the document stores them.
uint64_t NotesDigest(WindowRef window) {
  uint64_t digest = DigestText(gDocumentWindowHooks.getNotes ? gDocumentWindowHooks.getNotes(window) : "", 0);
  return DigestText(gDocumentWindowHooks.getStyledNotes ? gDocumentWindowHooks.getStyledNotes(window) : "", digest);
}

void CompareMark(WindowRef window, uint64_t structure) {
  MainWindowData *d = GetMainWindowData(window);
  if (!d)
    return;
  d->markStale = 0;
  if (!IsWindowFileOpen(window))
    return;
  if (structure != d->savedDigest || NotesDigest(window) != d->savedNotesDigest)
    OVSetWindowModified(window);
  else
    OVClearWindowModified(window);
}

// The structure as it stands becomes the front undo state unless it is that
// already; a new state ends the redo branch. The mark is compared as well.
void RecordUndoState(WindowRef window) {
  MainWindowData *d = GetMainWindowData(window);
  if (!d || !IsWindowFileOpen(window))
    return;
  const uint64_t digest = StructureDigest(window);
  d->undoStatePending = 0;
  if (digest != d->undoStateDigest || !d->history) {
    DeleteWindowRedo(window);
    if (DoCacheHistoryFile(window)) {
      d->undoStateDigest = digest;
      if (gUndoStateListener)
        gUndoStateListener(window, d->history);
    }
  }
  CompareMark(window, digest);
}

// The structure (as last read) and the notes are the saved document's.
void NoteSavedState(WindowRef window) {
  MainWindowData *d = GetMainWindowData(window);
  if (!d)
    return;
  d->savedDigest = StructureDigest(window);
  d->savedNotesDigest = NotesDigest(window);
  d->markStale = 0;
  OVClearWindowModified(window);
}

// Whether the window may take its undo state now: not while it rotates or
// calculates; it is settled once that ends.
bool WindowMaySettle(WindowRef window) {
  return !IsWindowCalculationInProgress(window) && !IsWindowAutoRotating(window);
}

// Reads a snapshot into the window, keeping its file, title and notes, and
// replots it: the state shown is the history's, no new one.
bool LoadSnapshot(WindowRef window, const std::filesystem::path &file) {
  if (!LoadCrystalFileIntoWindow(window, file, false, true))
    return false;
  NewPlot(window, false, true);
  NoteWindowShowsUndoState(window);
  UpdateFloatingWindows();
  return true;
}

// Moves the front node of one list to the front of another.
void MoveFront(CachedFileRecord *&from, CachedFileRecord *&to) {
  CachedFileRecord *node = from;
  from = node->next;
  node->next = to;
  to = node;
}

} // namespace

bool IsCacheDocument(const std::filesystem::path &file) {
  return file.filename().string().starts_with(kCacheFilePrefix) && file.parent_path() == GetCacheFolder();
}

void DeleteWindowRedo(WindowRef window) {
  for (CachedFileRecord *node = GetWindowRedo(window); node; node = node->next) {
    std::error_code ec;
    if (IsCacheDocument(node->fileRef))
      std::filesystem::remove(node->fileRef, ec);
  }
  DestroyWindowRedo(window);
}

bool CanUndo(WindowRef window) {
  if (!IsWindowFileOpen(window))
    return false;
  // A change not yet an undo state can be undone back to the front one.
  return GetNumWindowHistory(window) >= (IsWindowUndoStatePending(window) ? 1 : 2);
}

bool CanRedo(WindowRef window) { return IsWindowFileOpen(window) && GetNumWindowRedo(window) > 0; }

bool DoUndo() {
  WindowRef window = FrontGraphWindow();
  MainWindowData *data = GetMainWindowData(window);
  if (!data || !CanUndo(window))
    return false;
  // A change not yet an undo state becomes one, so that Redo brings it
  // back.
  if (data->undoStatePending)
    RecordUndoState(window);
  if (GetNumWindowHistory(window) < 2)
    return false;
  MoveFront(data->history, data->redo);
  if (!LoadSnapshot(window, data->history->fileRef)) {
    MoveFront(data->redo, data->history);
    return false;
  }
  return true;
}

bool DoRedo() {
  WindowRef window = FrontGraphWindow();
  MainWindowData *data = GetMainWindowData(window);
  if (!data || !CanRedo(window))
    return false;
  // A change made since the undo starts a new branch: it becomes an undo
  // state, and nothing is left to redo.
  if (data->undoStatePending)
    RecordUndoState(window);
  if (!data->redo || !LoadSnapshot(window, data->redo->fileRef))
    return false;
  MoveFront(data->redo, data->history);
  return true;
}

void UndoBufferTimerProc() {
  HostServices *host = GetHostServices();
  if (!host)
    return;
  // Nothing is settled in the middle of a drag.
  bool waiting = gTrackBallRotn || MyStillDown();
  for (WindowRef window : host->StructureWindows()) {
    if (!IsWindowUndoStatePending(window) && !IsWindowMarkStale(window))
      continue;
    if (waiting || !WindowMaySettle(window)) {
      waiting = true;
      continue;
    }
    if (IsWindowUndoStatePending(window))
      RecordUndoState(window);
    else
      SettleWindowMark(window);
  }
  if (waiting)
    SetEventLoopTimerNextFireTime(gUndoBufferTimer, kUndoSnapshotDelay);
}

void InstallUndoBufferTimer() {
  gUndoBufferTimer.proc = UndoBufferTimerProc;
  SetWindowUndoStateTaker(RecordUndoState);
}

void SettleWindowMark(WindowRef window) {
  if (IsWindowMarkStale(window))
    CompareMark(window, StructureDigest(window));
}

void NoteWindowDocumentSaved(WindowRef window) {
  if (MainWindowData *d = GetMainWindowData(window))
    d->structureDigest = 0; // read afresh: what the document holds now
  NoteSavedState(window);
}

void NoteWindowDocumentOpened(WindowRef window) {
  if (MainWindowData *d = GetMainWindowData(window))
    d->structureDigest = 0;
  RecordUndoState(window);
  NoteSavedState(window);
}

void NoteWindowShowsUndoState(WindowRef window) {
  MainWindowData *d = GetMainWindowData(window);
  if (!d)
    return;
  d->structureDigest = 0; // read afresh
  const uint64_t digest = StructureDigest(window);
  d->undoStatePending = 0;
  d->undoStateDigest = digest;
  CompareMark(window, digest);
}

void SetUndoStateListener(std::function<void(WindowRef, CachedFileRecord *)> listener) {
  gUndoStateListener = std::move(listener);
}

#include "UndoHistory.h"

#include "CachedFiles.h"
#include "LongCommand.h"
#include "RenderServices.h"
#include "StructureArrays.h"
#include "documents/CacheWrites.h"
#include "documents/CrystalDocument.h"
#include "documents/DocumentTask.h"
#include "documents/FileBuffer.h"
#include "documents/PrefsFile.h"
#include "Polyhedra.h"
#include "window/MainWindowData.h"

#include <array>
#include <bit>
#include <optional>
#include <cstring>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace {

std::function<void(WindowRef, CachedFileRecord *)> gUndoStateListener;

// A 64-bit digest of the bytes, continuing from `seed`: eight bytes a step,
// each word mixed before it joins (multiply, rotate, multiply), the running
// value rotated and stirred between words, and the whole finished with a
// full avalanche, so that every bit of the input moves the result.
uint64_t DigestBytes(std::span<const uint8_t> bytes, uint64_t seed = 0x9e3779b97f4a7c15ull) {
  constexpr uint64_t k1 = 0x87c37b91114253d5ull, k2 = 0x4cf5ad432745937full;
  auto mixWord = [](uint64_t w) { return std::rotl(w * k1, 31) * k2; };
  uint64_t h = seed;
  const size_t words = bytes.size() / 8;
  const uint8_t *p = bytes.data();
  for (size_t k = 0; k < words; k++, p += 8) {
    uint64_t w;
    std::memcpy(&w, p, 8);
    h ^= mixWord(w);
    h = std::rotl(h, 27) * 5 + 0x52dce729;
  }
  uint64_t tail = 0;
  if (bytes.size() % 8)
    std::memcpy(&tail, p, bytes.size() % 8);
  h ^= mixWord(tail) ^ bytes.size();
  h ^= h >> 33;
  h *= 0xff51afd7ed558ccdull;
  h ^= h >> 33;
  h *= 0xc4ceb9fe1a85ec53ull;
  return h ^ (h >> 33);
}

uint64_t DigestText(const std::string &text, uint64_t digest) {
  return DigestBytes(std::span(reinterpret_cast<const uint8_t *>(text.data()), text.size()), digest);
}

// The projected pixel positions every plot writes again (atoms, vector
// tips, lattice plane corners, annotation objects): held aside and zeroed
// while the content is read, then put back. A text box's size is no
// projection but the box as the user made it: its rectangle keeps its width
// and height, moved to the origin, so that the state draws the box whole.
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
      t.boxRect = t.kind == kAnnotationTextBox ? MakeRect(0, 0, t.boxRect.Width(), t.boxRect.Height()) : Rect{};
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

// The digest of a structure: of the structure's part of its history
// document's bytes (the notes have their own).
uint64_t ContentDigest(std::span<const uint8_t> document) { return DigestBytes(DocumentStructureBytes(document)); }

// The front undo state as its document holds it; false when it cannot be
// read.
bool ReadFrontState(MainWindowData *d, CrystalRec &state, DocumentExtras &extras) {
  std::vector<uint8_t> front;
  if (d->history)
    FinishCacheWriteOf(d->history->fileRef);
  return d->history && ReadWholeFile(d->history->fileRef, front) &&
         DecodeCrystalDocument(front, state, &extras, nullptr);
}

// The front undo state becomes `bytes`, of the given digest, and so does the
// saved document when it is that state: the same structure written another
// way. False when the state's document cannot be written.
bool ReplaceFrontState(MainWindowData *d, const std::vector<uint8_t> &bytes, uint64_t digest) {
  if (d->history && IsCacheDocument(d->history->fileRef)) {
    FinishCacheWriteOf(d->history->fileRef);
    if (!WriteCacheFile(d->history->fileRef, bytes))
      return false;
  }
  if (d->savedDigest == d->undoStateDigest)
    d->savedDigest = digest;
  d->undoStateDigest = digest;
  return true;
}

// The structure's content as its history document holds it; 0 for a window
// without a structure. Read again while a change is pending, else the last
// reading stands.
uint64_t StructureDigest(WindowRef window) {
  MainWindowData *d = GetMainWindowData(window);
  if (!d || !IsWindowFileOpen(window))
    return 0;
  if (!d->undoStatePending && d->structureDigest)
    return d->structureDigest;
  d->structureDigest = ContentDigest(EncodeHistoryDocument(window));
  return d->structureDigest;
}

// The notes with their styles, as the document stores them.
uint64_t NotesDigest(WindowRef window) {
  uint64_t digest = DigestText(gDocumentWindowHooks.getNotes ? gDocumentWindowHooks.getNotes(window) : "", 0);
  return DigestText(gDocumentWindowHooks.getStyledNotes ? gDocumentWindowHooks.getStyledNotes(window) : "", digest);
}

void FoldPendingRefit(WindowRef window);

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
// already; a new state ends the redo branch. The one reading of the
// structure serves both: the document's bytes are hashed, and written to the
// cache only when they make a new state. The mark is compared as well,
// unless `opening`: the document just opened is the saved one.
//
// A large structure takes long to encode: the user may stop it. A change is
// then put off: it stays one not yet settled, which the next settling, Undo,
// Redo or a save takes (no timer is armed for it). An opening stopped so
// changes nothing and answers false: the open gives up.
bool RecordUndoState(WindowRef window, bool opening = false) {
  MainWindowData *d = GetMainWindowData(window);
  if (!d || !IsWindowFileOpen(window))
    return true;
  FoldPendingRefit(window);
  if (!d->undoStatePending && d->history && d->structureDigest && d->structureDigest == d->undoStateDigest) {
    if (!opening)
      CompareMark(window, d->structureDigest);
    return true; // nothing changed since the front state was taken
  }
  std::vector<uint8_t> bytes;
  {
    const DocumentTask task(kUndoStateStatus, true);
    bytes = EncodeHistoryDocument(window);
    if (task.Stopped()) {
      if (opening)
        return false;
      d->undoStatePending = 1;
      d->markStale = 1;
      OVSetWindowModified(window);
      FWrite(kUndoStateStoppedLog);
      return true;
    }
  }
  const uint64_t digest = ContentDigest(bytes);
  d->structureDigest = digest;
  d->undoStatePending = 0;
  if (digest != d->undoStateDigest || !d->history) {
    DeleteWindowRedo(window);
    if (CacheHistoryDocument(window, std::move(bytes))) {
      d->undoStateDigest = digest;
      if (gUndoStateListener)
        gUndoStateListener(window, d->history);
    }
  }
  if (!opening)
    CompareMark(window, digest);
  return true;
}

// The front undo state (and the saved document, when it is that state) take
// the scale a resize of the pane gave the window. A resize is no change, so
// this waits until something reads the states: the next change settled, a
// comparison of the mark, Undo, Redo or a save. With no change since, the
// structure as it stands is that state; otherwise the front state's own
// document is read and given the scale.
void FoldRefit(WindowRef window) {
  MainWindowData *d = GetMainWindowData(window);
  if (!d)
    return;
  d->refitPending = 0;
  if (!IsWindowFileOpen(window) || !d->undoStateDigest)
    return;
  std::vector<uint8_t> bytes;
  if (!d->undoStatePending) {
    bytes = EncodeHistoryDocument(window);
  } else {
    CrystalRec state;
    DocumentExtras extras;
    if (!ReadFrontState(d, state, extras))
      return;
    state.plotScale = d->refitScale;
    state.labelSize = d->refitLabelSize;
    bytes = EncodeCrystalDocument(state, extras, PendingRoles::kKept);
  }
  const uint64_t digest = ContentDigest(bytes);
  if (!ReplaceFrontState(d, bytes, digest))
    return;
  if (!d->undoStatePending) {
    d->structureDigest = digest;
    d->markStale = 1;
  }
}

void FoldPendingRefit(WindowRef window) {
  if (IsWindowRefitPending(window))
    FoldRefit(window);
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

// Whether the window may take its undo state now: not while it rotates,
// calculates or is redrawn for something else than its own change (a
// picture export draws it at the picture's scale); it is settled once that
// ends.
bool WindowMaySettle(WindowRef window) {
  return !IsWindowCalculationInProgress(window) && !IsWindowAutoRotating(window) && !IsWindowRedrawOnly(window);
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
  for (CachedFileRecord *node = GetWindowRedo(window); node; node = node->next)
    if (IsCacheDocument(node->fileRef))
      RemoveCacheDocument(node->fileRef);
  DestroyWindowRedo(window);
}

void DropUnwrittenUndoStates() {
  HostServices *host = GetHostServices();
  for (const FinishedCacheWrite &f : TakeFinishedCacheWrites()) {
    NoteCacheWriteFinished(f);
    if (f.written || !host)
      continue;
    for (WindowRef window : host->StructureWindows()) {
      MainWindowData *d = GetMainWindowData(window);
      if (!d)
        continue;
      const bool front = d->history && d->history->fileRef == f.file;
      for (CachedFileRecord *node = d->history; node; node = node->next)
        if (node->fileRef == f.file) {
          RemoveItemFromWindowHistory(window, node);
          break;
        }
      // The structure shown is no undo state now: the next settling, Undo
      // or Redo takes it again (no timer is armed for it, so a folder that
      // takes nothing is not tried over and over).
      if (front) {
        d->undoStateDigest = 0;
        d->undoStatePending = 1;
      }
    }
  }
}

bool CanUndo(WindowRef window) {
  if (!IsWindowFileOpen(window))
    return false;
  // A change not yet an undo state can be undone back to the front one.
  return GetNumWindowHistory(window) >= (IsWindowUndoStatePending(window) ? 1 : 2);
}

bool CanRedo(WindowRef window) { return IsWindowFileOpen(window) && GetNumWindowRedo(window) > 0; }

bool DoUndo() {
  DropUnwrittenUndoStates();
  WindowRef window = FrontGraphWindow();
  MainWindowData *data = GetMainWindowData(window);
  if (!data || !CanUndo(window))
    return false;
  FoldPendingRefit(window);
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
  DropUnwrittenUndoStates();
  WindowRef window = FrontGraphWindow();
  MainWindowData *data = GetMainWindowData(window);
  if (!data || !CanRedo(window))
    return false;
  FoldPendingRefit(window);
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
  // Nothing is settled in the middle of a drag, nor inside a long command
  // (an open, a plot, a save), whose cancel checks turn the event loop: the
  // structure is the command's until it ends, however slow the machine.
  if (LongCommandRunning()) {
    SetEventLoopTimerNextFireTime(gUndoBufferTimer, kUndoSnapshotDelay);
    return;
  }
  DropUnwrittenUndoStates();
  bool waiting = gTrackBallRotn || MyStillDown();
  for (WindowRef window : host->StructureWindows()) {
    // A resize alone waits (FoldRefit): the window settles nothing for it.
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
  SetWindowUndoStateTaker([](WindowRef window) { RecordUndoState(window); });
  SetWindowUndoStateRestorer(RestoreWindowUndoState);
}

void SettleWindowMark(WindowRef window) {
  if (!IsWindowMarkStale(window))
    return;
  FoldPendingRefit(window);
  CompareMark(window, StructureDigest(window));
}

void NoteWindowDocumentSaved(WindowRef window) {
  // A change not yet settled is what the document holds now: it becomes an
  // undo state at once, which reads it.
  if (IsWindowUndoStatePending(window) && WindowMaySettle(window))
    RecordUndoState(window);
  FoldPendingRefit(window);
  NoteSavedState(window);
}

bool NoteWindowDocumentOpened(WindowRef window) {
  if (MainWindowData *d = GetMainWindowData(window)) {
    d->structureDigest = 0; // read afresh
    d->refitPending = 0;
  }
  if (!RecordUndoState(window, true))
    return false;
  NoteSavedState(window);
  return true;
}

bool RestoreWindowUndoState(WindowRef window) {
  DropUnwrittenUndoStates();
  MainWindowData *d = GetMainWindowData(window);
  if (d)
    FoldPendingRefit(window);
  return d && d->history && LoadSnapshot(window, d->history->fileRef);
}

std::vector<uint8_t> EncodeHistoryDocument(WindowRef window) {
  MainWindowData *d = GetMainWindowData(window);
  if (!d || !IsWindowFileOpen(window))
    return {};
  const ProjectionSetAside aside(d->crystal);
  // A long encoding shows the status window (the window waits for it).
  std::optional<DocumentTask> task;
  if (!DocumentTask::Current())
    task.emplace(kUndoStateStatus, false);
  return EncodeCrystalDocument(d->crystal, WindowNotesExtras(window), PendingRoles::kKept);
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

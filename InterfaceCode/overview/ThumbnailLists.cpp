// What the user does with the thumbnails: select, open, drag to reorder or
// out of the window to delete, rename, sort, replace, clear, add the sample
// documents, and show a file in the file manager.
#include "overview/OverviewPanes.h"
#include "overview/OverviewPrivate.h"

#include "shell/FileCommands.h"
#include "shell/ShellDialogs.h"
#include "structurewindow/MainWindow.h"
#include "structurewindow/StructureWindow.h"
#include "structurewindow/ZapperPuff.h"

#include "Preferences.h"
#include "documents/CacheDocuments.h"
#include "documents/CrystalDocument.h"
#include "documents/UndoHistory.h"
#include "window/MainWindowData.h"

#include <QApplication>
#include <QCursor>
#include <QDesktopServices>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QTextEdit>
#include <QUrl>

#include <algorithm>
#include <cstdio>

namespace {

OverviewWindow *Win() { return GetOverviewWindow(); }

// ---- Dialogs --------------------------------------------------------------------------

class QtOverviewDialogs : public OverviewDialogs {
public:
  std::vector<std::filesystem::path> GetFiles(const std::string &message) override {
    return RunOpenFilesDialog(message, StructureFileNameFilters().join(";;").toStdString());
  }
  std::optional<std::filesystem::path> GetFolder(const std::string &message) override {
    return RunFolderDialog(message);
  }
  bool Confirm(const std::string &message, const std::string &explanation) override {
    QMessageBox box(QMessageBox::Warning, "Orvalisphere", QString::fromStdString(message));
    box.setInformativeText(QString::fromStdString(explanation));
    QPushButton *go = box.addButton("Continue", QMessageBox::AcceptRole);
    box.addButton("Cancel", QMessageBox::RejectRole);
    box.exec();
    return box.clickedButton() == go;
  }
  void Reveal(const std::filesystem::path &file) override {
    QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(file.parent_path().string())));
  }
};

OverviewDialogs *gDialogs = nullptr;

// ---- Tracking a press in the pane --------------------------------------------------

struct TrackState {
  bool active = false;
  int from = -1;
  QPoint start;
  bool moved = false;
  bool outside = false;
  bool marker = false;
  DropTarget target;
  QLabel *overlay = nullptr;
} gTrack;

void EndTrack() {
  delete gTrack.overlay;
  gTrack = TrackState{};
}

bool CanReorder() { return gOverviewTabChoice == kFavouritesTab || gOverviewTabChoice == kViewsTab; }

// Reloads a file into the front window as the Favourites and Recent tabs
// do; the Recent list puts the file first again, making a new record, so
// the selection follows it by file.
bool OpenFileKeepingSelection(CachedFileRecord *record, WindowRef window, bool noteRecent) {
  const std::filesystem::path file = record->fileRef;
  const bool selected = record == gSelectedCachePtr;
  // Favourites, batches and Play take a file's first structure.
  const bool opened = OpenFSRefInWindow(file, window, ImportChoice::TakeFirst, noteRecent);
  if (selected && GetRectIDWithCachePtr(gSelectedCachePtr) < 0) {
    gSelectedCachePtr = nullptr;
    for (CachedFileRecord *n = GetCurrentWindowCache(); n; n = n->next)
      if (n->fileRef == file) {
        gSelectedCachePtr = n;
        break;
      }
  }
  return opened;
}

// Reads a cached document into a new window titled as a copy, standing for
// no file; the new window comes to the front.
void OpenCopyInNewWindow(const std::filesystem::path &file, const std::string &title) {
  WindowRef made = OpenMainWindow(nullptr, false);
  if (!made)
    return;
  if (!OpenCrystalFile(made, file)) {
    DisposeMainWindow(made);
    return;
  }
  if (MainWindow *w = GetMainWindow(made)) {
    w->SetFile({});
    w->setWindowTitle(QString::fromStdString(title));
    w->show();
    w->raise();
    w->activateWindow();
    BringGraphWindowToFront(w);
  }
  MyRemoveWindowProxy(made);
}

void ActivateOverview() {
  if (OverviewWindow *w = Win(); w && w->isVisible()) {
    w->raise();
    w->pane->setFocus();
  }
}

} // namespace

OverviewDialogs &GetOverviewDialogs() {
  static QtOverviewDialogs qtDialogs;
  return gDialogs ? *gDialogs : qtDialogs;
}
void SetOverviewDialogs(OverviewDialogs *dialogs) { gDialogs = dialogs; }

// ---- Opening --------------------------------------------------------------------------------

bool LoadCacheRecordIntoWindow(CachedFileRecord *record, WindowRef window, bool noteRecent) {
  MainWindow *w = GetMainWindow(window);
  if (!record || !w)
    return false;
  switch (gOverviewTabChoice) {
  case kFavouritesTab:
  case kRecentTab:
    return OpenFileKeepingSelection(record, window, noteRecent);
  case kViewsTab:
  case kHistoryTab: {
    const std::filesystem::path proxy = w->File();
    const std::string caption = record->caption;
    if (!OpenCrystalFile(window, record->fileRef))
      return false;
    // A snapshot loaded is a state the History already holds: the plot
    // that showed it must not take another. A view is a change.
    if (gOverviewTabChoice == kHistoryTab)
      NoteWindowShowsUndoState(window);
    w->SetFile(proxy);
    if (gOverviewTabChoice == kViewsTab || proxy.empty())
      w->setWindowTitle(QString::fromStdString(caption));
    if (gOverviewTabChoice == kViewsTab && window == OverviewListWindow() && ThumbnailImageForRecord(record).isNull()) {
      gSelectedCachePtr = record;
      DoReplaceSelectedThumbnail();
    }
    return true;
  }
  default:
    return false;
  }
}

void DoLoadFromCache(CachedFileRecord *record, bool animate) {
  WindowRef front = FrontGraphWindow();
  if (!record || !front)
    return;
  gShowProgress = 0;
  MainWindow *w = GetMainWindow(front);
  if (w && !w->isVisible())
    w->show();
  if (animate)
    AnimateThumbnailLoading(record);
  LoadCacheRecordIntoWindow(record, front);
  ActivateOverview();
}

void DoLoadNewWindowFromCache(CachedFileRecord *record, bool animate) {
  WindowRef front = FrontGraphWindow();
  if (!record || !front)
    return;
  gShowProgress = 0;
  if (!IsWindowFileOpen(front)) {
    DoLoadFromCache(record, true);
    if (MainWindow *w = GetMainWindow(front))
      w->activateWindow();
    return;
  }
  if (animate)
    AnimateThumbnailLoading(record);
  const std::filesystem::path file = record->fileRef;
  const std::string caption = record->caption;
  if (gOverviewTabChoice == kFavouritesTab || gOverviewTabChoice == kRecentTab) {
    bool alreadyOpen = false;
    for (MainWindow *w : AllGraphWindows())
      alreadyOpen |= w->File() == file;
    if (!OpenFSRefInWindow(file, OpenMainWindow(nullptr, false), ImportChoice::TakeFirst))
      return;
    if (alreadyOpen) {
      WindowRef made = FrontGraphWindow();
      const std::string title = CreateWindowTitleCopy(made);
      if (MainWindow *w = GetMainWindow(made)) {
        w->SetFile({});
        w->setWindowTitle(QString::fromStdString(title));
      }
      MyRemoveWindowProxy(made);
    }
  } else if (gOverviewTabChoice == kViewsTab || gOverviewTabChoice == kHistoryTab) {
    OpenCopyInNewWindow(file, CreateWindowTitleCopy(front));
  }
}

void DoLoadNewWindowWithCurrentStructure() {
  WindowRef front = FrontGraphWindow();
  if (!front || !DoCacheViewFile(front))
    return;
  CachedFileRecord *last = GetWindowViews(front);
  while (last && last->next)
    last = last->next;
  if (!last)
    return;
  const std::string title = CreateWindowTitleCopy(front);
  const std::filesystem::path file = last->fileRef;
  gShowProgress = 0;
  OpenCopyInNewWindow(file, title);
  std::error_code ec;
  std::filesystem::remove(file, ec);
  RemoveItemFromWindowViews(front, last);
  DrawOverviewViewThumbnails();
}

std::string CreateWindowTitleCopy(WindowRef window) {
  MainWindow *w = GetMainWindow(window);
  std::string title = w ? PlainWindowTitle(w).toStdString() : std::string();
  const QString q = QString::fromStdString(title);
  const qsizetype from = std::max<qsizetype>(0, q.size() - 8);
  const qsizetype at = q.indexOf(" copy", from, Qt::CaseInsensitive);
  if (at >= 0)
    title = q.left(at).toStdString();
  auto taken = [](const std::string &t) {
    const QString name = QString::fromStdString(t);
    for (MainWindow *m : AllGraphWindows())
      if (PlainWindowTitle(m).compare(name, Qt::CaseInsensitive) == 0)
        return true;
    return false;
  };
  std::string result = title + " copy";
  for (int k = 1; taken(result); k++)
    result = title + " copy " + std::to_string(k);
  return result;
}

// ---- Deleting, replacing, clearing ------------------------------------------------------------

void DoDeleteSelectedThumbnail() {
  CachedFileRecord *selected = ValidSelection();
  if (!selected)
    return;
  WindowRef front = OverviewListWindow();
  switch (gOverviewTabChoice) {
  case kFavouritesTab:
    RemoveItemFromFavouriteFiles(selected);
    break;
  case kViewsTab:
    RemoveItemFromWindowViews(front, selected);
    break;
  case kHistoryTab:
    RemoveItemFromWindowHistory(front, selected);
    break;
  case kRecentTab:
    RemoveItemFromRecentFiles(selected);
    break;
  default:
    break;
  }
  gSelectedCachePtr = nullptr;
  UpdateThumbnailRects();
  DrawThumbnails();
}

void DoReplaceSelectedThumbnail() {
  WindowRef front = OverviewListWindow();
  CachedFileRecord *selected = ValidSelection();
  if (gOverviewTabChoice != kViewsTab || !selected || !front || !IsWindowFileOpen(front))
    return;
  const std::string caption = selected->caption;
  const int index = GetRectIDWithCachePtr(selected);
  RemoveItemFromWindowViews(front, selected);
  gSelectedCachePtr = nullptr;
  if (!DoCacheViewFile(front))
    return;
  const int count = NumFilesInCache(GetWindowViews(front));
  CachedFileRecord *last = GetCachePtrWithRectID(count - 1);
  last->caption = caption;
  if (count >= 2 && index < count - 1)
    MoveThumbnailToRectID(count - 1, index, true);
  gSelectedCachePtr = last;
  DrawOverviewViewThumbnails();
}

void DoClearCache() {
  WindowRef front = OverviewListWindow();
  switch (gOverviewTabChoice) {
  case kFavouritesTab:
    DestroyFavouriteFiles();
    break;
  case kViewsTab:
    DestroyWindowViews(front);
    break;
  case kHistoryTab:
    DestroyWindowHistory(front);
    break;
  case kRecentTab:
    DestroyRecentFiles();
    break;
  case kLogTab:
    if (OverviewWindow *w = Win())
      w->log->clear();
    break;
  default:
    break;
  }
  gSelectedCachePtr = nullptr;
  UpdateOverviewWindow();
  DrawStatusbar();
}

void DoRenameViewsNumerically() {
  WindowRef front = OverviewListWindow();
  if (!front || gOverviewTabChoice != kViewsTab)
    return;
  if (GetOverviewDialogs().Confirm("Rename Views Numerically",
                                   "This command renames all view thumbnails, numbering each one sequentially.")) {
    long k = 1;
    for (CachedFileRecord *n = GetWindowViews(front); n; n = n->next)
      n->caption = std::to_string(k++);
  }
  gSelectedCachePtr = nullptr;
  DrawThumbnails();
}

void DoSortCacheFiles(bool ascending) {
  if (gOverviewTabChoice != kFavouritesTab && gOverviewTabChoice != kViewsTab)
    return;
  std::vector<CachedFileRecord *> records;
  for (CachedFileRecord *n = GetCurrentWindowCache(); n; n = n->next)
    records.push_back(n);
  if (records.size() < 2)
    return;
  auto label = [](const CachedFileRecord *r) { return std::string_view(r->caption).substr(0, 255); };
  std::stable_sort(records.begin(), records.end(), [&](const CachedFileRecord *a, const CachedFileRecord *b) {
    return ascending ? MyIntegerCompareSiteLabels(label(a), label(b)) < 0
                     : MyIntegerCompareSiteLabels(label(b), label(a)) < 0;
  });
  for (size_t k = 0; k + 1 < records.size(); k++)
    records[k]->next = records[k + 1];
  records.back()->next = nullptr;
  SetCurrentWindowCache(records.front());
  UpdateThumbnailRects();
  DrawThumbnails();
}

bool MoveThumbnailToRectID(int from, int to, bool before) {
  CachedFileRecord *source = GetCachePtrWithRectID(from);
  CachedFileRecord *toRecord = GetCachePtrWithRectID(to);
  if (!source || !toRecord)
    return false;
  CachedFileRecord *target = before ? (to == 0 ? nullptr : GetCachePtrWithRectID(to - 1)) : toRecord;
  if (target == source)
    return true; // behind itself: the list stays as it is
  CachedFileRecord *head = GetCurrentWindowCache();
  // On History the first record is not shown: it stays first.
  CachedFileRecord **link = gOverviewTabChoice == kHistoryTab && head ? &head->next : &head;
  for (CachedFileRecord **p = link; *p; p = &(*p)->next)
    if (*p == source) {
      *p = source->next;
      break;
    }
  if (target) {
    source->next = target->next;
    target->next = source;
  } else {
    source->next = *link;
    *link = source;
  }
  SetCurrentWindowCache(head);
  return true;
}

// ---- Captions ---------------------------------------------------------------------------------

bool IsThumbnailEditing() {
  OverviewWindow *w = Win();
  return w && w->caption->isVisible();
}

bool BeginThumbnailEditing(int index) {
  OverviewWindow *w = Win();
  CachedFileRecord *record = GetCachePtrWithRectID(index);
  if (!w || !record || size_t(index) >= CurrentThumbnailLayout().boxes.size()) {
    gSelectedCachePtr = nullptr;
    return false;
  }
  const GridBox &s = CurrentThumbnailLayout().boxes[size_t(index)];
  gSelectedCachePtr = record;
  w->caption->setGeometry(s.left, s.bottom + 4, s.Width(), 14);
  w->caption->setText(QString::fromStdString(record->caption));
  w->caption->selectAll();
  w->caption->show();
  w->caption->setFocus();
  w->pane->update();
  return true;
}

void SaveThumbnailEditing() {
  OverviewWindow *w = Win();
  CachedFileRecord *selected = ValidSelection();
  if (!w || !selected)
    return;
  const std::string text = w->caption->text().toStdString();
  if (!text.empty())
    selected->caption = text;
}

void EndThumbnailEditing() {
  OverviewWindow *w = Win();
  if (!w)
    return;
  w->caption->clearFocus();
  w->caption->hide();
  w->pane->setFocus();
  gSelectedCachePtr = nullptr;
  DrawThumbnails();
}

void DoSelectLastViewThumbnail() { DoSelectViewThumbnail(GetNumThumbnails() - 1); }

void DoSelectViewThumbnail(int index) {
  if (gOverviewTabChoice != kViewsTab)
    return;
  gSelectedCachePtr = index >= 0 && index < GetNumThumbnails() ? GetCachePtrWithRectID(index) : nullptr;
  UpdateThumbnailRects();
  DoScrollThumbnailsToSelection();
  DrawThumbnails();
}

// ---- Sample documents and files on disk -----------------------------------------------------

void LoadOverviewFilesFromDemoFolder() {
  const std::filesystem::path folder = BundledResourceFolder("Demo Files");
  std::vector<std::filesystem::path> crystals, molecules;
  std::error_code ec;
  if (!std::filesystem::is_directory(folder, ec))
    return;
  for (const auto &entry : std::filesystem::directory_iterator(folder, ec)) {
    const std::string ext = entry.path().extension().string();
    if (ext == ".ovdf")
      crystals.push_back(entry.path());
    else if (ext == ".ovmf")
      molecules.push_back(entry.path());
  }
  std::sort(crystals.begin(), crystals.end());
  std::sort(molecules.begin(), molecules.end());
  std::vector<std::filesystem::path> all = crystals;
  all.insert(all.end(), molecules.begin(), molecules.end());
  for (auto it = all.rbegin(); it != all.rend(); ++it)
    DoCacheFavouriteFile(*it, nullptr);
  DrawOverviewFavouriteThumbnails();
}

std::string GetFilePathForSelectedThumbnail() {
  if (gOverviewTabChoice != kFavouritesTab && gOverviewTabChoice != kRecentTab)
    return "n/a";
  CachedFileRecord *selected = ValidSelection();
  if (!selected || selected->fileRef.empty())
    return {};
  std::string path = selected->fileRef.string();
  if (path.size() > 512)
    path.resize(512);
  return path;
}

void DoShowSelectedThumbnailInFinder() {
  if (gOverviewTabChoice != kFavouritesTab && gOverviewTabChoice != kRecentTab)
    return;
  if (CachedFileRecord *selected = ValidSelection())
    GetOverviewDialogs().Reveal(selected->fileRef);
}

bool VerifyViewsCache(WindowRef window) {
  const long count = NumFilesInCache(GetWindowViews(window));
  long k = 1;
  std::error_code ec;
  for (CachedFileRecord *n = GetWindowViews(window); n; n = n->next, k++)
    if (!std::filesystem::exists(n->fileRef, ec)) {
      std::fprintf(stderr, "Invalid Views cache file, View %ld of %ld: '%s'\n", k, count,
                   n->fileRef.empty() ? "???" : n->fileRef.c_str());
      return false;
    }
  return true;
}

void Debug_PrintViewsCache(WindowRef window) {
  const long count = NumFilesInCache(GetWindowViews(window));
  long k = 1;
  for (CachedFileRecord *n = GetWindowViews(window); n; n = n->next, k++)
    std::fprintf(stderr, "View %ld of %ld: '%s'\n", k, count, n->fileRef.empty() ? "???" : n->fileRef.c_str());
  std::fprintf(stderr, "\n");
}

void Debug_PrintRecentFilesCache() {
  const long count = GetNumRecentFiles();
  long k = 1;
  for (CachedFileRecord *n = gPrefs.recentFiles; n; n = n->next, k++)
    std::fprintf(stderr, "File %ld of %ld: '%s'\n", k, count, n->fileRef.empty() ? "???" : n->fileRef.c_str());
  std::fprintf(stderr, "\n");
}

bool OpenFSRefInWindowAndCacheView(const std::filesystem::path &file, WindowRef window) {
  if (!window || !OpenFSRefInWindow(file, window))
    return false;
  if (!DoCacheViewFile(window))
    return false;
  DoOverviewTabChoice(kViewsTab);
  DoSelectLastViewThumbnail();
  return true;
}

void AddFilesToOverview(const std::vector<std::filesystem::path> &files) {
  if (gOverviewTabChoice == kFavouritesTab) {
    for (const auto &file : files)
      DoCacheFavouriteFile(file, nullptr);
    DrawOverviewFavouriteThumbnails();
  } else if (gOverviewTabChoice == kViewsTab) {
    WindowRef front = FrontGraphWindow();
    for (const auto &file : files)
      OpenFSRefInWindowAndCacheView(file, front);
  }
}

void DoAddFilesToOverview() {
  if (gOverviewTabChoice == kFavouritesTab)
    AddFilesToOverview(GetOverviewDialogs().GetFiles("Choose files to add to the Favourites pane"));
  else if (gOverviewTabChoice == kViewsTab)
    AddFilesToOverview(GetOverviewDialogs().GetFiles("Choose files to add to the Views pane"));
}

// ---- The press in the pane ---------------------------------------------------------------------

bool OverviewTracking() { return gTrack.active; }

bool ThumbnailDropMarker(DropTarget *target) {
  if (!gTrack.active || !gTrack.marker)
    return false;
  *target = gTrack.target;
  return true;
}

bool TrackThumbnails(QPoint point, bool contextual) {
  OverviewWindow *w = Win();
  const int n = GetNumThumbnails();
  if (!w || n == 0)
    return false;
  const ThumbnailLayout &layout = CurrentThumbnailLayout();
  const GridBox pane{0, 0, w->pane->width(), w->pane->height()};
  const int image = ThumbnailIndexAtPoint(layout, pane, point.x(), point.y());
  const int caption = gOverviewTabChoice == kViewsTab ? CaptionIndexAtPoint(layout, pane, point.x(), point.y()) : -1;
  if (image < 0 && caption < 0)
    return false;
  if (image >= n || (image < 0 && caption >= n))
    return false;
  if (image < 0) {
    BeginThumbnailEditing(caption);
    return true;
  }
  SelectThumbnail(image);
  DrawThumbnails();
  w->pane->setFocus();
  if (contextual) {
    QMenu *menu = OverviewContextMenu();
    QObject::connect(
        menu, &QMenu::aboutToHide, w, [] { DrawThumbnails(); }, Qt::SingleShotConnection);
    menu->popup(QCursor::pos());
    return true;
  }
  EndTrack();
  gTrack.active = true;
  gTrack.from = image;
  gTrack.start = point;
  return true;
}

void TrackThumbnailsMove(QPoint point, QPoint global) {
  OverviewWindow *w = Win();
  if (!gTrack.active || !w)
    return;
  if (!gTrack.moved) {
    if (point == gTrack.start)
      return;
    gTrack.moved = true;
    // The dragged picture follows the pointer at half strength.
    CachedFileRecord *record = GetCachePtrWithRectID(gTrack.from);
    const ThumbnailLayout &layout = CurrentThumbnailLayout();
    if (record && size_t(gTrack.from) < layout.boxes.size()) {
      const GridBox &s = layout.boxes[size_t(gTrack.from)];
      QPixmap pixmap(std::max(1, s.Width()), std::max(1, s.Height()));
      pixmap.fill(Qt::transparent);
      QPainter p(&pixmap);
      p.setOpacity(0.5);
      const QImage image = ThumbnailImageForRecord(record);
      if (!image.isNull())
        p.drawImage(pixmap.rect(), image);
      p.end();
      gTrack.overlay = new QLabel(nullptr, Qt::ToolTip | Qt::FramelessWindowHint);
      gTrack.overlay->setAttribute(Qt::WA_TranslucentBackground);
      gTrack.overlay->setPixmap(pixmap);
      gTrack.overlay->resize(pixmap.size());
    }
  }
  if (gTrack.overlay) {
    gTrack.overlay->move(global - QPoint(gTrack.overlay->width() / 2, gTrack.overlay->height() / 2));
    gTrack.overlay->show();
  }
  gTrack.outside = !w->frameGeometry().contains(global);
  gTrack.marker = false;
  if (gTrack.outside) {
    w->pane->setCursor(Qt::ForbiddenCursor);
  } else if (CanReorder()) {
    w->pane->setCursor(Qt::ArrowCursor);
    const GridBox pane{0, 0, w->pane->width(), w->pane->height()};
    const int y = std::clamp(point.y(), kThumbnailMargin, pane.bottom - kThumbnailMargin);
    gTrack.target = ThumbnailDropTarget(CurrentThumbnailLayout(), pane, GetNumThumbnails(), point.x(), y);
    if (gTrack.target.index >= 0)
      ScrollThumbnailsToRectID(y, gTrack.target.index);
    gTrack.marker = !DropChangesNothing(gTrack.from, gTrack.target);
  }
  w->pane->update();
}

void TrackThumbnailsRelease(QPoint point, QPoint global) {
  OverviewWindow *w = Win();
  if (!gTrack.active || !w)
    return;
  const TrackState t = gTrack;
  gTrack.overlay = nullptr;
  delete t.overlay;
  gTrack = TrackState{};
  w->pane->setCursor(Qt::ArrowCursor);
  if (t.moved) {
    const bool outside = !w->frameGeometry().contains(global);
    if (outside) {
      if (HostServices *host = GetHostServices())
        host->PlaySound("pow");
      ShowZapperPuff(Point{int16_t(global.y()), int16_t(global.x())});
      DoDeleteSelectedThumbnail();
    } else if (t.marker) {
      MoveThumbnailToRectID(t.from, t.target.index, t.target.before);
      UpdateThumbnailRects();
    }
  } else {
    const GridBox pane{0, 0, w->pane->width(), w->pane->height()};
    if (ThumbnailIndexAtPoint(CurrentThumbnailLayout(), pane, point.x(), point.y()) == t.from)
      DoLoadFromCache(ValidSelection(), true);
  }
  DrawThumbnails();
}

#include "documents/PrefsFile.h"

#include "CachedFiles.h"
#include "documents/CacheWrites.h"
#include "documents/CrystalDocument.h"
#include "documents/DocumentArchive.h"
#include "documents/StoredValueRanges.h"
#include "documents/UndoHistory.h"
#include "Polyhedra.h"
#include "StructureArrays.h"
#include "window/MainWindowData.h"

#include "Alerts.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLockFile>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

constexpr uint32_t kPrefsFileType = FourCharsToLong("OVPF");
constexpr uint32_t kTagWindows = FourCharsToLong("WIND");
constexpr uint32_t kTagInfo = FourCharsToLong("INFO");
constexpr uint32_t kTagTools = FourCharsToLong("TOOL");
constexpr uint32_t kTagDisplay = FourCharsToLong("DISP");
constexpr uint32_t kTagAnnotations = FourCharsToLong("ANNO");
constexpr uint32_t kTagNotices = FourCharsToLong("NOTC");
constexpr uint32_t kTagElements = FourCharsToLong("ELMT");
constexpr uint32_t kTagElementNotes = FourCharsToLong("ENOT");
constexpr uint32_t kTagUpdate = FourCharsToLong("UPDT");
constexpr uint32_t kTagMovie = FourCharsToLong("MOVI");
constexpr uint32_t kTagPictureExport = FourCharsToLong("GEXP");
constexpr uint32_t kTagRecent = FourCharsToLong("RCNT");
constexpr uint32_t kTagFavourites = FourCharsToLong("FAVS");
constexpr uint32_t kTagDistanceMaximum = FourCharsToLong("Bmax");
constexpr uint32_t kTagDistanceExplorer = FourCharsToLong("DExp");

template <class A> void XferWindows(A &a, PrefsRecord &p) {
  XferAll(a, p.windowBounds, p.windowSettingsRecorded, p.windowFontName, p.rulerUnits, p.fillScreen, p.showGrid,
          p.showToolbar, p.showRulers, p.showSidebar, p.showNotes, p.showAtoms, p.sidebarWidth, p.sidebarSplit,
          p.notesFontName, p.notesFontSize, p.notesSpellCheck, p.showInfoTips);
}
template <class A> void XferInfo(A &a, PrefsRecord &p) {
  XferAll(a, p.infoWindowVisible, p.infoWindowBounds, p.infoGroupByElement, p.overviewVisible, p.overviewBounds,
          p.overviewTabChoice, p.thumbnailHeight, p.playLoop, p.playMode, p.playRotate, p.playFullScreen,
          p.playSeconds, p.logFontName, p.logFontSize);
}
template <class A> void XferTools(A &a, PrefsRecord &p) {
  XferAll(a, p.toolWindowBounds, p.rotatorAngle, p.videoWindowBounds, p.modelOptionsBounds, p.modelOptionsTab,
          p.angleWindowBounds, p.rangeWindowBounds, p.spacegroupWindowBounds, p.spacegroupInfoPanel,
          p.elementsWindowBounds, p.atomPickerBounds, p.atomPickerCount, p.atomPickerElements, p.atomPickerChoice,
          p.annotationWindowBounds, p.distanceWindowBounds, p.modelOptionsVisible);
}
template <class A> void XferDisplay(A &a, PrefsRecord &p) {
  XferAll(a, p.stereoOn, p.stereoMode, p.fastRotation, p.kA, p.kD, p.kS, p.phongN, p.polyEdgeMode,
          p.ambientIntensity, p.pointIntensity, p.lightDirection, p.lowerMinOpacity, p.lowerBaseZ, p.lowerPlateauZ,
          p.upperPlateauZ, p.upperBaseZ, p.upperMinOpacity, p.depthFading, p.viewDistance, p.perspective,
          p.stereoAngle, p.stereoSeparation, p.showUnitCell, p.showAxes, p.defaultAtomStyle, p.minBSSphereRadius,
          p.bsSphereRadFrac, p.defaultEllipsoidStyle, p.ellipsoidProbability, p.ellipsoidSphereRadius,
          p.defaultIsoValue, p.defaultPolyMode, p.defaultBondStyle, p.bondColor1, p.bondColor2, p.bondRadius,
          p.stickRadius, p.stickJointFactor, p.cloudSphereType, p.cloudSphereRadFrac, p.cloudSameSphereColor,
          p.cloudSphereColor, p.cloudSphereTransparency, p.unitCellOptions, p.unitCellLineWidth, p.unitCellColor,
          p.axesOption, p.axisColors, p.atomLabelType, p.atomLabelPos, p.labelFlag, p.labelSizeFollowsScale,
          p.labelFont, p.labelSize, p.backgroundColor, p.gradientColors, p.gradientStyle, p.gradientAngle,
          p.gradientScale, p.backgroundGradient, p.backgroundPictureMode, p.planeColor, p.planeTransparency,
          p.sendOrientationToLink);
}
template <class A> void XferAnnotations(A &a, PrefsRecord &p) {
  XferAll(a, p.annotationFont, p.annotationColors, p.annotationSize, p.annotationStyle, p.annotationOptions,
          p.annotationFlags, p.vectorColor, p.vectorStyle);
}
template <class A> void XferNotices(A &a, PrefsRecord &p) {
  XferAll(a, p.readerOption, p.noticeAutoBonds, p.noticeDiscardSymmetry, p.noticeLink, p.noticeCrystalToMolecule,
          p.noticeGenerateSiteColors, p.noticeGenerateSiteLabels, p.noticeColourSites, p.noticeApplyDefaults,
          p.noticeHideOtherMolecules);
}
template <class A> void XferElements(A &a, PrefsRecord &p) {
  for (ElementData &e : p.elementData)
    XferAll(a, e.element, e.colour, e.radius);
}
template <class A> void XferUpdate(A &a, PrefsRecord &p) {
  XferAll(a, p.autoUpdateCheck, p.lastUpdateCheck, p.lastCheckedVersion);
}
template <class A> void XferMovie(A &a, PrefsRecord &p) { XferAll(a, p.movieCompressor, p.movieFrameRate, p.movieLoop); }
template <class A> void XferDistanceMaximum(A &a, PrefsRecord &p) { XferAll(a, p.distanceMaximum); }
template <class A> void XferDistanceExplorer(A &a, PrefsRecord &p) {
  XferAll(a, p.distanceGroupByElement, p.distanceGraphTab, p.distanceMinimum, p.distanceBinWidth,
          p.distanceHistogramFlags, p.distanceWindowVisible);
}
template <class A> void XferPictureExport(A &a, PrefsRecord &p) { XferAll(a, p.exportResolution, p.exportFileType); }

using SectionFn = void (*)(SectionReader &, PrefsRecord &);
using WriteFn = void (*)(SectionWriter &, PrefsRecord &);
struct FixedSection {
  uint32_t tag;
  WriteFn write;
  SectionFn read;
  const char *what; // as the Log names the settings it holds
};
#define OV_SECTION(tag, fn, what)                                                                                      \
  FixedSection {                                                                                                       \
    tag, [](SectionWriter &a, PrefsRecord &p) { fn(a, p); }, [](SectionReader &a, PrefsRecord &p) { fn(a, p); }, what  \
  }
const FixedSection kFixedSections[] = {
    OV_SECTION(kTagWindows, XferWindows, "structure window settings"),
    OV_SECTION(kTagInfo, XferInfo, "Info and Overview window settings"),
    OV_SECTION(kTagTools, XferTools, "tool window settings"),
    OV_SECTION(kTagDisplay, XferDisplay, "display settings of new structures"),
    OV_SECTION(kTagAnnotations, XferAnnotations, "settings of new annotations and vectors"),
    OV_SECTION(kTagNotices, XferNotices, "notice choices"),
    OV_SECTION(kTagElements, XferElements, "element table"),
    OV_SECTION(kTagUpdate, XferUpdate, "update check settings"),
    OV_SECTION(kTagMovie, XferMovie, "movie export settings"),
    OV_SECTION(kTagPictureExport, XferPictureExport, "picture export settings"),
    OV_SECTION(kTagDistanceMaximum, XferDistanceMaximum, "distance search maximum"),
    OV_SECTION(kTagDistanceExplorer, XferDistanceExplorer, "Distance Explorer settings"),
};
#undef OV_SECTION
// What DecodePrefsFile notes for a file that ends inside a part it does not
// know, and for the parts that are not settings.
constexpr const char *kDamagedEnd = "end";
constexpr const char *kElementNotesWhat = "element table notes";
constexpr const char *kRecentListWhat = "list of recent files";
constexpr const char *kFavouritesListWhat = "list of Favourites";

const FixedSection *FindFixedSection(uint32_t tag) {
  for (const FixedSection &s : kFixedSections)
    if (s.tag == tag)
      return &s;
  return nullptr;
}

// Gives the section's part of the preferences its factory values.
void ResetSection(const FixedSection &s, PrefsRecord &prefs) {
  PrefsRecord factory = gFactoryPrefs; // the field lists take a record they could write
  FileBuffer bytes;
  SectionWriter writer{bytes};
  s.write(writer, factory);
  FileBuffer in = FileBuffer::ForReading(bytes.out);
  SectionReader reader{in};
  s.read(reader, prefs);
}

void BeginSection(FileBuffer &b, uint32_t tag, size_t &start) {
  start = b.out.size();
  BufferWriteTag(b, tag);
  BufferWriteU32(b, 0);
}
void EndSection(FileBuffer &b, size_t start) {
  BufferPatchU32(b, start + 4, static_cast<uint32_t>(b.out.size() - start - 8));
}

void WriteList(FileBuffer &b, uint32_t tag, const CachedFileRecord *head) {
  size_t start = 0;
  BeginSection(b, tag, start);
  BufferWriteU32(b, static_cast<uint32_t>(NumFilesInCache(head)));
  for (const CachedFileRecord *n = head; n; n = n->next) {
    const std::string path = n->fileRef.string();
    BufferWriteU32(b, n->fileType);
    BufferWriteU32(b, static_cast<uint32_t>(n->caption.size()));
    BufferWriteBytes(b, n->caption.data(), n->caption.size());
    BufferWriteU32(b, static_cast<uint32_t>(path.size()));
    BufferWriteBytes(b, path.data(), path.size());
  }
  EndSection(b, start);
}

// The nodes of a list section; false for a damaged one.
bool ReadList(FileBuffer &b, std::vector<CachedFileRecord> &nodes) {
  uint32_t n = 0;
  if (BufferReadU32(b, n) || n > b.Remaining() / 12)
    return false;
  for (uint32_t k = 0; k < n; k++) {
    CachedFileRecord node;
    uint32_t length = 0;
    BufferReadU32(b, node.fileType);
    if (BufferReadU32(b, length) || length > b.Remaining())
      return false;
    node.caption.resize(length);
    BufferReadBytes(b, node.caption.data(), length);
    if (BufferReadU32(b, length) || length > b.Remaining())
      return false;
    std::string path(length, '\0');
    BufferReadBytes(b, path.data(), length);
    node.fileRef = path;
    nodes.push_back(std::move(node));
  }
  return b.status == 0;
}

std::filesystem::path XdgFolder(const char *variable, const char *fallback) {
  const char *base = std::getenv(variable);
  if (base && base[0] == '/')
    return std::filesystem::path(base) / "Orvalisphere";
  const char *home = std::getenv("HOME");
  return std::filesystem::path(home ? home : "/tmp") / fallback / "Orvalisphere";
}

} // namespace

std::filesystem::path GetPrefsFolder() { return XdgFolder("XDG_CONFIG_HOME", ".config"); }
std::filesystem::path GetPrefsFilePath() { return GetPrefsFolder() / kPrefsFileName; }

std::vector<uint8_t> EncodePrefsFile(const PrefsRecord &prefs) {
  PrefsRecord &p = const_cast<PrefsRecord &>(prefs); // the field lists only read it here
  FileBuffer b;
  SectionWriter a{b};
  BufferWriteTag(b, kPrefsFileType);
  BufferWriteU16(b, kPrefsFormatVersion);
  BufferWriteU16(b, 0);
  size_t start = 0;
  for (const FixedSection &s : kFixedSections) {
    BeginSection(b, s.tag, start);
    s.write(a, p);
    EndSection(b, start);
  }
  BeginSection(b, kTagElementNotes, start);
  const std::string notes(CStrView(std::span<const char>(p.elementNotes)));
  BufferWriteBytes(b, notes.data(), notes.size());
  EndSection(b, start);
  WriteList(b, kTagRecent, p.recentFiles);
  WriteList(b, kTagFavourites, p.favouriteFiles);
  return std::move(b.out);
}

bool DecodePrefsFile(std::span<const uint8_t> bytes, PrefsRecord &prefs, int *skipped,
                     std::vector<std::string> *damaged) {
  FileBuffer b = FileBuffer::ForReading(bytes);
  uint32_t type = 0;
  uint16_t version = 0, reserved = 0;
  BufferReadTag(b, type);
  BufferReadU16(b, version);
  BufferReadU16(b, reserved);
  if (b.status != 0 || type != kPrefsFileType)
    return false;
  int skips = 0;
  auto noteDamaged = [damaged](const char *what) {
    if (damaged)
      damaged->emplace_back(what);
  };
  std::vector<uint32_t> seen; // the tags of the sections read so far
  auto wasSeen = [&seen](uint32_t tag) { return std::find(seen.begin(), seen.end(), tag) != seen.end(); };
  while (b.Remaining() >= 8) {
    uint32_t tag = 0, length = 0;
    BufferReadTag(b, tag);
    BufferReadU32(b, length);
    const FixedSection *fixed = FindFixedSection(tag);
    if (length > b.Remaining()) {
      skips++; // a section cut short by the end of the file
      if (!fixed)
        noteDamaged(kDamagedEnd);
      // Whatever the file held after the cut is lost with it: every part
      // not read so far keeps (or gets) its factory values.
      for (const FixedSection &s : kFixedSections)
        if (!wasSeen(s.tag)) {
          ResetSection(s, prefs);
          noteDamaged(s.what);
        }
      if (!wasSeen(kTagElementNotes)) {
        std::copy(std::begin(gFactoryPrefs.elementNotes), std::end(gFactoryPrefs.elementNotes), prefs.elementNotes);
        noteDamaged(kElementNotesWhat);
      }
      if (&prefs == &gPrefs) {
        if (!wasSeen(kTagRecent))
          noteDamaged(kRecentListWhat);
        if (!wasSeen(kTagFavourites))
          noteDamaged(kFavouritesListWhat);
      }
      break;
    }
    seen.push_back(tag);
    FileBuffer section = FileBuffer::ForReading(std::span(b.start + b.cursor, length));
    BufferSkip(b, length);
    bool known = false, used = false;
    if (fixed) {
      known = true;
      // Read into a scratch copy first: only a section that holds all its
      // fields is read; a damaged one gives its factory values.
      PrefsRecord scratch = prefs;
      SectionReader trial{section};
      fixed->read(trial, scratch);
      if (section.status == 0) {
        section.cursor = 0;
        SectionReader real{section};
        fixed->read(real, prefs);
        used = true;
      } else {
        ResetSection(*fixed, prefs);
        noteDamaged(fixed->what);
      }
    }
    if (tag == kTagElementNotes) {
      known = used = true;
      const size_t n = std::min<size_t>(length, kElementNotesSize - 1);
      std::fill(std::begin(prefs.elementNotes), std::end(prefs.elementNotes), '\0');
      std::copy(section.start, section.start + n, prefs.elementNotes);
    } else if (tag == kTagRecent || tag == kTagFavourites) {
      known = true;
      std::vector<CachedFileRecord> nodes;
      if (ReadList(section, nodes) && &prefs == &gPrefs) {
        used = true;
        if (tag == kTagRecent)
          DestroyRecentFiles();
        else
          DestroyFavouriteFiles();
        for (CachedFileRecord &n : nodes) {
          CachedFileRecord *node = CreateCachedFileRecord();
          if (!node)
            break;
          node->fileRef = n.fileRef;
          node->fileType = n.fileType;
          node->caption = n.caption;
          const bool added = tag == kTagRecent ? AddItemToRecentFiles(node, kAddAtTail)
                                               : AddItemToFavouriteFiles(node, kAddAtTail);
          if (!added)
            DestroyCachedFileRecord(node);
        }
      } else if (&prefs != &gPrefs) {
        used = section.status == 0;
      }
      if (!used && &prefs == &gPrefs)
        noteDamaged(tag == kTagRecent ? kRecentListWhat : kFavouritesListWhat);
    }
    if (!known || !used)
      skips++;
  }
  CheckStoredPrefs(prefs, nullptr, kPrefsFileName);
  if (skipped)
    *skipped = skips;
  return true;
}

namespace {

// "a", "a and b", "a, b and c".
std::string JoinedList(const std::vector<std::string> &items) {
  std::string text;
  for (size_t k = 0; k < items.size(); k++) {
    if (k > 0)
      text += k + 1 == items.size() ? " and " : ", ";
    text += items[k];
  }
  return text;
}

} // namespace

bool ReadPrefsFile() {
  const std::filesystem::path file = GetPrefsFilePath();
  std::error_code ec;
  if (!std::filesystem::exists(file, ec))
    return false; // a first start: the factory settings, nothing to say
  const std::string lead = "The preferences file \"" + file.string() + "\" ";
  std::vector<uint8_t> bytes;
  std::string reason;
  if (!ReadWholeFile(file, bytes, &reason)) {
    FWrite(lead + "was not read: " + reason + "; nothing in it was used.");
    return false;
  }
  std::vector<std::string> damaged;
  if (!DecodePrefsFile(bytes, gPrefs, nullptr, &damaged)) {
    FWrite(lead + "is damaged and was not read; nothing in it was used.");
    return false;
  }
  // Settings reset, and parts that are not settings (the lists, the end).
  std::vector<std::string> reset, unread;
  for (const std::string &what : damaged) {
    if (what == kDamagedEnd)
      unread.push_back("what follows its last complete part");
    else if (what.starts_with("list "))
      unread.push_back("the " + what);
    else
      reset.push_back("the " + what);
  }
  if (!reset.empty())
    FWrite(lead + "is damaged: the factory values are used for " + JoinedList(reset) + ", which could not be read.");
  if (!unread.empty())
    FWrite(lead + "is damaged: " + JoinedList(unread) + " could not be read.");
  return true;
}

bool CreateAndSavePrefsFile() {
  std::error_code ec;
  std::filesystem::create_directories(GetPrefsFolder(), ec);
  const std::vector<uint8_t> bytes = EncodePrefsFile(gPrefs);
  std::string reason;
  if (WriteFileAtomically(GetPrefsFilePath(), bytes, &reason))
    return true;
  MyCFCautionAlert("The preferences could not be saved.",
                   "\"" + GetPrefsFilePath().string() + "\" could not be written (" + reason +
                       "). The settings were not saved; the next start uses the ones saved before.");
  return false;
}

// ---- Cache folder ---------------------------------------------------------------------

namespace {

namespace fs = std::filesystem;

constexpr const char *kCacheLockSuffix = ".lock";

// This copy's claim: its folder in the shared cache folder and the lock
// that says the folder is in use, given up when the program ends.
struct CacheClaim {
  fs::path shared;
  fs::path own;
  std::unique_ptr<QLockFile> lock;

  // Whether the lock still stands: someone may have removed the folders.
  bool Held() const { return lock && QFileInfo::exists(lock->fileName()); }
  void GiveUp() {
    if (Held()) {
      lock.reset();
    } else if (lock) {
      // Its file is gone already: nothing to unlock, and unlocking would
      // complain that it cannot remove it.
      static auto *gone = new std::vector<std::unique_ptr<QLockFile>>;
      gone->push_back(std::move(lock));
    }
    own.clear();
  }
  ~CacheClaim() { GiveUp(); }
};
CacheClaim gCacheClaim;

fs::path SharedCacheFolder() { return XdgFolder("XDG_CACHE_HOME", ".cache") / kCacheFolderName; }

// A lock held for as long as its holder runs: only a holder that is gone
// leaves a stale one.
std::unique_ptr<QLockFile> CacheLock(const fs::path &folder) {
  auto lock = std::make_unique<QLockFile>(QString::fromStdString(folder.string() + kCacheLockSuffix));
  lock->setStaleLockTime(0);
  return lock;
}

// A copy's folder name: its process id, with "-" and a count after it when
// another holder (a copy on another machine sharing the folder) has that.
bool IsCopyFolderName(const std::string &name) {
  const size_t dash = name.find('-');
  const std::string pid = name.substr(0, dash);
  const std::string count = dash == std::string::npos ? "1" : name.substr(dash + 1);
  auto digits = [](const std::string &t) {
    return !t.empty() && std::all_of(t.begin(), t.end(), [](char ch) { return ch >= '0' && ch <= '9'; });
  };
  return digits(pid) && digits(count);
}

const fs::path &ClaimCacheFolder() {
  CacheClaim &c = gCacheClaim;
  const fs::path shared = SharedCacheFolder();
  if (c.shared == shared && !c.own.empty() && (c.Held() || !c.lock))
    return c.own;
  c.GiveUp(); // a claim in another cache folder (tests move it), or one whose lock went
  c.shared = shared;
  std::error_code ec;
  fs::create_directories(shared, ec);
  const std::string pid = std::to_string(QCoreApplication::applicationPid());
  constexpr int kMostNames = 100;
  for (int k = 0; k < kMostNames; k++) {
    const fs::path folder = shared / (k == 0 ? pid : pid + "-" + std::to_string(k));
    std::unique_ptr<QLockFile> lock = CacheLock(folder);
    if (lock->tryLock(0)) {
      c.own = folder;
      c.lock = std::move(lock);
      return c.own;
    }
  }
  // No lock can be taken (a read-only cache): the folder is still this copy's.
  c.own = shared / pid;
  return c.own;
}

// Removes the folders of copies that no longer run: those whose lock is
// free (stale, or gone) once this copy takes it; a stale lock left without
// its folder goes too.
void RemoveStaleCopyFolders(const fs::path &shared, const fs::path &own) {
  std::vector<fs::path> folders;
  std::error_code ec;
  for (const fs::directory_entry &e : fs::directory_iterator(shared, ec)) {
    std::string name = e.path().filename().string();
    if (name.ends_with(kCacheLockSuffix))
      name.resize(name.size() - std::char_traits<char>::length(kCacheLockSuffix));
    else if (!e.is_directory(ec))
      continue;
    const fs::path folder = shared / name;
    if (folder != own && IsCopyFolderName(name) && std::find(folders.begin(), folders.end(), folder) == folders.end())
      folders.push_back(folder);
  }
  for (const fs::path &folder : folders) {
    std::unique_ptr<QLockFile> lock = CacheLock(folder);
    if (!lock->tryLock(0))
      continue; // a running copy's
    fs::remove_all(folder, ec);
  }
}

// Whether the Log has said that the cache folder cannot be used; said again
// only after a cache document could be written meanwhile.
bool gCacheTroubleSaid = false;

void NoteCacheFolderTrouble(const fs::path &folder, const std::string &reason) {
  if (gCacheTroubleSaid)
    return;
  gCacheTroubleSaid = true;
  FWriteColor("Undo is off: the cache folder \"" + folder.string() + "\" cannot be used (" + reason +
                  "), so no change can be undone and no view kept until it can.",
              kRGBRed);
}

} // namespace

std::filesystem::path GetCacheFolder() { return ClaimCacheFolder(); }

bool EmptyCacheFolder() {
  FinishCacheWrites();
  std::error_code ec;
  const fs::path folder = ClaimCacheFolder();
  fs::create_directories(folder, ec);
  if (!fs::is_directory(folder, ec))
    return false;
  for (const fs::directory_entry &e : fs::directory_iterator(folder, ec)) {
    const std::string name = e.path().filename().string();
    // Only our own cache documents: nothing else in the folder is touched.
    if (name.starts_with(kCacheFilePrefix) && e.is_regular_file(ec))
      fs::remove(e.path(), ec);
  }
  fs::remove(folder, ec); // only when empty
  RemoveStaleCopyFolders(gCacheClaim.shared, folder);
  return true;
}

std::filesystem::path NewCacheFilePath() {
  static uint32_t next = 1;
  const std::filesystem::path folder = GetCacheFolder();
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  for (;;) {
    const std::filesystem::path candidate = folder / (std::string(kCacheFilePrefix) + std::to_string(next++));
    if (!std::filesystem::exists(candidate, ec))
      return candidate;
  }
}

bool WriteCacheFile(const std::filesystem::path &file, std::span<const uint8_t> bytes, std::string *reason,
                    const std::function<bool()> &givenUp) {
  std::filesystem::path part = file;
  part += ".part";
  // Given up before it began, it makes no file at all.
  const bool givenUpFirst = givenUp && givenUp();
  std::FILE *out = givenUpFirst ? nullptr : std::fopen(part.c_str(), "wb");
  bool written = out != nullptr;
  int error = givenUpFirst ? ECANCELED : 0;
  for (size_t at = 0; written && at < bytes.size(); at += kCacheWritePiece) {
    if (givenUp && givenUp()) {
      written = false;
      error = ECANCELED;
      break;
    }
    const size_t piece = std::min(kCacheWritePiece, bytes.size() - at);
    written = std::fwrite(bytes.data() + at, 1, piece, out) == piece;
  }
  if (!written && !error)
    error = errno;
  if (out && std::fclose(out) != 0 && written) {
    written = false;
    if (reason)
      *reason = std::strerror(errno);
  } else if (!written && reason) {
    *reason = std::strerror(error ? error : EIO);
  }
  std::error_code ec;
  if (written)
    std::filesystem::rename(part, file, ec);
  if (!written || ec) {
    if (ec && reason)
      *reason = ec.message();
    std::filesystem::remove(part, ec);
    return false;
  }
  return true;
}

namespace {

// A record of the window's new cache document `file`; none (and the file
// deleted) without memory.
CachedFileRecord *CacheRecord(WindowRef window, const CrystalRec &crystal, const std::filesystem::path &file) {
  CachedFileRecord *node = CreateCachedFileRecord();
  if (!node) {
    RemoveCacheDocument(file);
    return nullptr;
  }
  node->fileRef = file;
  node->fileType = crystal.molecule ? kMoleculeDocumentType : kCrystalDocumentType;
  if (HostServices *host = GetHostServices())
    node->caption = host->WindowTitle(window);
  return node;
}

// A new cache document of the bytes, as a record for a list of the window.
CachedFileRecord *WriteCacheBytes(WindowRef window, std::span<const uint8_t> bytes) {
  const CrystalRec *crystal = GetWindowCrystal(window);
  if (!crystal || !IsWindowFileOpen(window) || bytes.empty())
    return nullptr;
  const std::filesystem::path file = NewCacheFilePath();
  std::string reason;
  if (!WriteCacheFile(file, bytes, &reason)) {
    NoteCacheFolderTrouble(file.parent_path(), reason);
    return nullptr;
  }
  gCacheTroubleSaid = false;
  return CacheRecord(window, *crystal, file);
}

} // namespace

CachedFileRecord *WriteCacheDocument(WindowRef window, bool withPreview) {
  const CrystalRec *crystal = GetWindowCrystal(window);
  if (!crystal || !IsWindowFileOpen(window))
    return nullptr;
  DocumentExtras extras = WindowNotesExtras(window);
  if (withPreview && gDocumentWindowHooks.copyWindowPreview)
    extras.preview = gDocumentWindowHooks.copyWindowPreview(window);
  DeriveDueSiteRoles(*crystal);
  return WriteCacheBytes(window, EncodeCrystalDocument(*crystal, extras));
}

bool CacheHistoryDocument(WindowRef window, std::vector<uint8_t> bytes) {
  const CrystalRec *crystal = GetWindowCrystal(window);
  if (!crystal || !IsWindowFileOpen(window) || bytes.empty())
    return false;
  const std::filesystem::path file = NewCacheFilePath();
  std::string reason;
  if (!WriteCacheFileLater(file, std::move(bytes), &reason)) {
    NoteCacheFolderTrouble(file.parent_path(), reason);
    return false;
  }
  CachedFileRecord *node = CacheRecord(window, *crystal, file);
  if (!node)
    return false;
  if (!AddItemToWindowHistory(window, node, kAddAtFront)) {
    RemoveCacheDocument(file);
    DestroyCachedFileRecord(node);
    return false;
  }
  return true;
}

void NoteCacheWriteFinished(const FinishedCacheWrite &write) {
  if (write.written)
    gCacheTroubleSaid = false;
  else
    NoteCacheFolderTrouble(write.file.parent_path(), write.reason);
}

bool DoCacheHistoryFile(WindowRef window) { return CacheHistoryDocument(window, EncodeHistoryDocument(window)); }

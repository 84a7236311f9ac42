// The preferences file "Orvalisphere 9 Preferences" and the cache folder
// "Orvalisphere Cache".
//
// The preferences file is a 8-byte header ('OVPF', u16 version 9, u16 0)
// followed by tagged sections, each a four-character tag, a u32 payload
// length and the payload, little-endian. It is read over the factory copy at
// start-up: a section this version does not know is skipped; one too short
// for what it must hold is damaged, and its part of the preferences takes
// the factory values.
//
// Both folders follow the desktop's conventions: the preferences in
// $XDG_CONFIG_HOME/Orvalisphere, the cache in $XDG_CACHE_HOME/Orvalisphere
// (with the usual fallbacks under $HOME). Every running copy of the program
// keeps its cache documents in a folder of its own inside the cache folder,
// named after its process and held by a lock file beside it
// ("12345" and "12345.lock"), so that no copy removes what another uses.
#pragma once

#include "HostServices.h"
#include "Preferences.h"
#include "documents/CacheWrites.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <vector>

inline constexpr const char *kPrefsFileName = "Orvalisphere 9 Preferences";
inline constexpr const char *kCacheFolderName = "Orvalisphere Cache";
inline constexpr const char *kCacheFilePrefix = "__OVCache";
// A cache document is written this many bytes at a time, so that a write
// given up stops soon.
inline constexpr size_t kCacheWritePiece = size_t{4} << 20;
inline constexpr uint16_t kPrefsFormatVersion = 9;

std::filesystem::path GetPrefsFolder();
std::filesystem::path GetPrefsFilePath();
// This copy's own folder inside "Orvalisphere Cache", claimed (its lock
// taken) on first use.
std::filesystem::path GetCacheFolder();

// The preferences file's bytes for a record.
std::vector<uint8_t> EncodePrefsFile(const PrefsRecord &prefs);
// Reads sections over `prefs`. False (prefs untouched) when the bytes are
// not a preferences file; otherwise true, with the number of sections
// skipped in *skipped and what the damaged ones hold (as the Log names it)
// in *damaged; a file that ends part way damages every part it had not
// given before the end, each of which takes its factory values.
bool DecodePrefsFile(std::span<const uint8_t> bytes, PrefsRecord &prefs, int *skipped = nullptr,
                     std::vector<std::string> *damaged = nullptr);

// Reads the preferences file over gPrefs; false when there is none or it is
// not a preferences file (gPrefs keeps its values). A file that cannot be
// read or is damaged gets a Log line naming it and what was reset.
bool ReadPrefsFile();
// Writes gPrefs as the preferences file, replacing the old one only once
// the new one is complete; true on success. On failure the user is told,
// with the file and why, that the settings were not saved.
bool CreateAndSavePrefsFile();

// Removes this copy's cache documents ("__OVCache" and a number) and, once
// empty, its folder (made again for the next document), and the folders of
// copies that no longer run; false when the cache folder cannot be made.
// Folders of running copies and anything else in the cache folder are left
// alone. The claim lasts until the program ends.
bool EmptyCacheFolder();
// A cache document name not yet in use: "__OVCache" and a number.
std::filesystem::path NewCacheFilePath();
// Writes a cache document whole: written beside it and renamed into place, so
// that a failed write leaves the old file (or none), but never synced to
// disk: the cache is not the user's work, and a copy of the program that
// ends takes its cache folder with it. False (and why) on any failure.
// `givenUp`, when given, is asked between pieces of the write: once it
// answers true the write stops and leaves nothing behind.
bool WriteCacheFile(const std::filesystem::path &file, std::span<const uint8_t> bytes, std::string *reason = nullptr,
                    const std::function<bool()> &givenUp = {});
// Writes the window's structure (and its notes, and with `withPreview` its
// preview picture) as a new cache document; answers a new record for it
// (file, type, caption = the window title) that the caller adds to a list,
// or null when the window has no structure or the document cannot be
// written. A cache folder that takes no document is said once in the Log
// (Undo is off, with the folder and why) until one is written again.
CachedFileRecord *WriteCacheDocument(WindowRef window, bool withPreview);
// Puts a history (undo) document of the window's structure, made of the
// document bytes, at the front of the window's history list; the document
// is written to the cache folder on the cache writer's worker
// (CacheWrites.h). False when the window has no structure or the document
// cannot be written.
bool CacheHistoryDocument(WindowRef window, std::vector<uint8_t> bytes);
// A cache document the worker wrote, or could not write: the second is
// said in the Log as any cache folder trouble is.
void NoteCacheWriteFinished(const FinishedCacheWrite &write);
// The same with the window's structure as it stands (EncodeHistoryDocument,
// UndoHistory.h).
bool DoCacheHistoryFile(WindowRef window);

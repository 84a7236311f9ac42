// The preferences file "Orvalisphere 9 Preferences" and the cache folder
// "Orvalisphere Cache".
//
// The preferences file is a 8-byte header ('OVPF', u16 version 9, u16 0)
// followed by tagged sections, each a four-character tag, a u32 payload
// length and the payload, little-endian. It is read over the factory copy at
// start-up: a section this version does not know, or one too short for what
// it must hold, is skipped and its part of the preferences keeps its
// current values.
//
// Both folders follow the desktop's conventions: the preferences in
// $XDG_CONFIG_HOME/Orvalisphere, the cache in $XDG_CACHE_HOME/Orvalisphere
// (with the usual fallbacks under $HOME).
#pragma once

#include "HostServices.h"
#include "Preferences.h"

#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

inline constexpr const char *kPrefsFileName = "Orvalisphere 9 Preferences";
inline constexpr const char *kCacheFolderName = "Orvalisphere Cache";
inline constexpr const char *kCacheFilePrefix = "__OVCache";
inline constexpr uint16_t kPrefsFormatVersion = 9;

std::filesystem::path GetPrefsFolder();
std::filesystem::path GetPrefsFilePath();
std::filesystem::path GetCacheFolder();

// The preferences file's bytes for a record.
std::vector<uint8_t> EncodePrefsFile(const PrefsRecord &prefs);
// Reads sections over `prefs`. False (prefs untouched) when the bytes are
// not a preferences file; otherwise true, with the number of sections
// skipped in *skipped.
bool DecodePrefsFile(std::span<const uint8_t> bytes, PrefsRecord &prefs, int *skipped = nullptr);

// Reads the preferences file over gPrefs; false when there is none or it is
// not a preferences file (gPrefs keeps its values).
bool ReadPrefsFile();
// Writes gPrefs as the preferences file, replacing the old one only once
// the new one is complete; true on success.
bool CreateAndSavePrefsFile();

// Removes every cache document ("__OVCache" and a number) from the cache
// folder, creating the folder when it is missing; false when the folder
// cannot be made.
bool EmptyCacheFolder();
// A cache document name not yet in use: "__OVCache" and a number.
std::filesystem::path NewCacheFilePath();
// Writes the window's structure (and its notes, and with `withPreview` its
// preview picture) as a new cache document; answers a new record for it
// (file, type, caption = the window title) that the caller adds to a list,
// or null when the window has no structure or the document cannot be
// written.
CachedFileRecord *WriteCacheDocument(WindowRef window, bool withPreview);
// Saves the window's structure as a history (undo) document in the cache
// folder and puts it at the front of the window's history list. False when
// the window has no structure or the document cannot be written.
bool DoCacheHistoryFile(WindowRef window);

// Cached-file records and the lists made of them.
//
// One node type serves five singly linked lists: the program-wide recent
// files and favourites, whose heads live in the preferences record, and each
// structure window's views, history (undo snapshots) and redo lists, whose
// heads live in the window's record. A node names a document on disk (often
// a cache document) with a caption and a thumbnail. Nodes are owned by the
// list that holds them: removing a node destroys it, so a caller that wants
// to keep one copies it first.
#pragma once

#include "HostServices.h"
#include "StructureRecord.h"

#include <cstdint>
#include <filesystem>
#include <string>

struct CachedFileRecord {
  std::filesystem::path fileRef;    // the document
  uint32_t fileType = 0;            // four-character code; 0 when not set
  std::string caption;              // display name; empty for none
  OVImageHandle thumbnail;          // preview image; none allowed
  CachedFileRecord *next = nullptr; // none at the tail
};

// History and redo lists hold at most this many nodes; adding to a full one
// first destroys its tail (oldest) node.
inline constexpr int32_t kMaxWindowHistory = 256;

// How a node joins a list.
enum CachedFileAddMode : int16_t { kAddAtFront = 0, kAddAtTail = 1 };

// A new node with everything cleared; the caller fills the file reference.
// nullptr without memory.
CachedFileRecord *CreateCachedFileRecord();
// A new node with the same file reference, type, caption, thumbnail and next.
CachedFileRecord *CopyCachedFileRecord(const CachedFileRecord *node);
// Releases caption and thumbnail and frees the node.
void DestroyCachedFileRecord(CachedFileRecord *node);

// Mode 0 links the node at the front, mode 1 at the tail (its next cleared);
// any other mode adds nothing. A node that is already in the list is not
// added again (that would close the list into a ring). True when the node
// joined the list and the list now owns it.
bool AddItemToRecentFiles(CachedFileRecord *node, int16_t mode);
bool AddItemToFavouriteFiles(CachedFileRecord *node, int16_t mode);
bool AddItemToWindowViews(WindowRef window, CachedFileRecord *node, int16_t mode);
bool AddItemToWindowHistory(WindowRef window, CachedFileRecord *node, int16_t mode);
bool AddItemToWindowRedo(WindowRef window, CachedFileRecord *node, int16_t mode);

// Unlinks the node from the list starting at head and destroys it; answers
// the new head. A node that is not in the list is neither unlinked nor
// destroyed, and head is answered.
CachedFileRecord *RemoveItemFromFileCache(CachedFileRecord *node, CachedFileRecord *head);
void RemoveItemFromRecentFiles(CachedFileRecord *node);
void RemoveItemFromFavouriteFiles(CachedFileRecord *node);
void RemoveItemFromWindowViews(WindowRef window, CachedFileRecord *node);
void RemoveItemFromWindowHistory(WindowRef window, CachedFileRecord *node);
void RemoveItemFromWindowRedo(WindowRef window, CachedFileRecord *node);

// Destroy every node of the list and clear its head.
void DestroyRecentFiles();
void DestroyFavouriteFiles();
void DestroyWindowViews(WindowRef window);
void DestroyWindowHistory(WindowRef window);
void DestroyWindowRedo(WindowRef window);

// Node counts: of any list from its head (0 for none), and of the two
// program-wide lists.
int32_t NumFilesInCache(const CachedFileRecord *head);
int32_t GetNumFavouriteFiles();
int32_t GetNumRecentFiles();

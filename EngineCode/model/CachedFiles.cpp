#include "CachedFiles.h"

#include "Preferences.h"
#include "window/MainWindowData.h"

#include <new>

namespace {

bool InList(const CachedFileRecord *node, const CachedFileRecord *head) {
  for (const CachedFileRecord *p = head; p; p = p->next)
    if (p == node)
      return true;
  return false;
}

// Links the node into the list whose head is given; false when the mode is
// not one of the two or the node is already there.
bool AddToList(CachedFileRecord *&head, CachedFileRecord *node, int16_t mode) {
  if (!node || (mode != kAddAtFront && mode != kAddAtTail) || InList(node, head))
    return false;
  if (mode == kAddAtFront) {
    node->next = head;
    head = node;
    return true;
  }
  node->next = nullptr;
  if (!head) {
    head = node;
    return true;
  }
  CachedFileRecord *tail = head;
  while (tail->next)
    tail = tail->next;
  tail->next = node;
  return true;
}

void DestroyList(CachedFileRecord *&head) {
  CachedFileRecord *p = head;
  head = nullptr;
  while (p) {
    CachedFileRecord *next = p->next;
    DestroyCachedFileRecord(p);
    p = next;
  }
}

// A bounded list makes room before a node joins it: while it holds the
// maximum, its tail node goes.
void MakeRoom(CachedFileRecord *&head) {
  while (head && NumFilesInCache(head) >= kMaxWindowHistory) {
    CachedFileRecord *tail = head;
    while (tail->next)
      tail = tail->next;
    head = RemoveItemFromFileCache(tail, head);
  }
}

} // namespace

CachedFileRecord *CreateCachedFileRecord() { return new (std::nothrow) CachedFileRecord; }

CachedFileRecord *CopyCachedFileRecord(const CachedFileRecord *node) {
  if (!node)
    return nullptr;
  try {
    return new CachedFileRecord(*node);
  } catch (const std::bad_alloc &) {
    return nullptr;
  }
}

void DestroyCachedFileRecord(CachedFileRecord *node) { delete node; }

bool AddItemToRecentFiles(CachedFileRecord *node, int16_t mode) { return AddToList(gPrefs.recentFiles, node, mode); }

bool AddItemToFavouriteFiles(CachedFileRecord *node, int16_t mode) {
  return AddToList(gPrefs.favouriteFiles, node, mode);
}

bool AddItemToWindowViews(WindowRef window, CachedFileRecord *node, int16_t mode) {
  MainWindowData *data = GetMainWindowData(window);
  return data && AddToList(data->views, node, mode);
}

bool AddItemToWindowHistory(WindowRef window, CachedFileRecord *node, int16_t mode) {
  MainWindowData *data = GetMainWindowData(window);
  if (!data || !node || (mode != kAddAtFront && mode != kAddAtTail) || InList(node, data->history))
    return false;
  MakeRoom(data->history);
  return AddToList(data->history, node, mode);
}

bool AddItemToWindowRedo(WindowRef window, CachedFileRecord *node, int16_t mode) {
  MainWindowData *data = GetMainWindowData(window);
  if (!data || !node || (mode != kAddAtFront && mode != kAddAtTail) || InList(node, data->redo))
    return false;
  MakeRoom(data->redo);
  return AddToList(data->redo, node, mode);
}

CachedFileRecord *RemoveItemFromFileCache(CachedFileRecord *node, CachedFileRecord *head) {
  if (!node || !head)
    return head;
  if (node == head) {
    CachedFileRecord *next = head->next;
    DestroyCachedFileRecord(node);
    return next;
  }
  for (CachedFileRecord *p = head; p->next; p = p->next) {
    if (p->next == node) {
      p->next = node->next;
      DestroyCachedFileRecord(node);
      return head;
    }
  }
  return head;
}

void RemoveItemFromRecentFiles(CachedFileRecord *node) {
  gPrefs.recentFiles = RemoveItemFromFileCache(node, gPrefs.recentFiles);
}

void RemoveItemFromFavouriteFiles(CachedFileRecord *node) {
  gPrefs.favouriteFiles = RemoveItemFromFileCache(node, gPrefs.favouriteFiles);
}

void RemoveItemFromWindowViews(WindowRef window, CachedFileRecord *node) {
  if (MainWindowData *data = GetMainWindowData(window))
    data->views = RemoveItemFromFileCache(node, data->views);
}

void RemoveItemFromWindowHistory(WindowRef window, CachedFileRecord *node) {
  if (MainWindowData *data = GetMainWindowData(window))
    data->history = RemoveItemFromFileCache(node, data->history);
}

void RemoveItemFromWindowRedo(WindowRef window, CachedFileRecord *node) {
  if (MainWindowData *data = GetMainWindowData(window))
    data->redo = RemoveItemFromFileCache(node, data->redo);
}

void DestroyRecentFiles() { DestroyList(gPrefs.recentFiles); }

void DestroyFavouriteFiles() { DestroyList(gPrefs.favouriteFiles); }

void DestroyWindowViews(WindowRef window) {
  if (MainWindowData *data = GetMainWindowData(window))
    DestroyList(data->views);
}

void DestroyWindowHistory(WindowRef window) {
  if (MainWindowData *data = GetMainWindowData(window))
    DestroyList(data->history);
}

void DestroyWindowRedo(WindowRef window) {
  if (MainWindowData *data = GetMainWindowData(window))
    DestroyList(data->redo);
}

int32_t NumFilesInCache(const CachedFileRecord *head) {
  int32_t n = 0;
  for (const CachedFileRecord *p = head; p; p = p->next)
    n++;
  return n;
}

int32_t GetNumFavouriteFiles() { return NumFilesInCache(gPrefs.favouriteFiles); }

int32_t GetNumRecentFiles() { return NumFilesInCache(gPrefs.recentFiles); }

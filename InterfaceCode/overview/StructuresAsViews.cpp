#include "overview/StructuresAsViews.h"

#include "documents/CacheDocuments.h"
#include "import/ImportHooks.h"
#include "import/ImportPath.h"
#include "overview/OverviewWindow.h"

bool OpenStructuresAsViews(WindowRef window, const std::filesystem::path &file,
                           std::vector<ImportedStructure> &&structures) {
  if (!window || structures.empty())
    return false;
  // The window shows the first view at the end, named after the file.
  ImportedStructure first = structures.front();
  first.extras.title = ImportedWindowTitle(file, first, false);
  size_t kept = 0;
  for (ImportedStructure &s : structures) {
    // The window takes the structure's title, which captions the view.
    if (s.extras.title.empty())
      s.extras.title = s.name;
    if (!BuildImportedStructure(window, file, std::move(s)) || !DoCacheViewFile(window))
      break;
    kept++;
  }
  if (kept > 0) {
    DoOverviewTabChoice(kViewsTab);
    DoSelectViewThumbnail(0);
  }
  return kept == structures.size() && BuildImportedStructure(window, file, std::move(first));
}

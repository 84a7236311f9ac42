// The Distance Explorer: a floating window that searches the distances of
// the front structure window's structure from chosen sites to chosen
// elements within a range, and shows them as a histogram and as a sortable
// list that can go to the Log. Each structure window keeps its own search
// record; the window always shows the front window's.
#pragma once

#include "explorers/DistanceSearch.h"
#include "HostServices.h"
#include "shell/Commands.h"

#include <QPoint>
#include <QString>

class QAbstractItemModel;
class QLineEdit;
class QTreeView;
class QTableView;
class QWidget;

inline constexpr uint32_t kCmdShowDistanceExplorer = FourCharsToLong("DsEx");
// What DisposeWindowDistanceSearch answers for a window without a record.
inline constexpr int kWindowPropertyNotFound = -5604;

extern QWidget *gDistanceWindow;
extern QTreeView *gFromBrowser;
extern QTreeView *gToBrowser;
extern QTableView *gOutputBrowser;
extern QWidget *gDistanceWindowGraphViewRef;
extern int gDistanceWindowTabIndex; // 1 graph, 2 output

// Builds the window on first use, loads it for the front window, shows it.
void DoShowDistanceWindow();
// The refresh when the front window changes.
void UpdateDistanceExplorer();
// The front record's settings and the tab into the preferences.
void SaveDistanceWindowPrefs();
// Frees a structure window's record; kWindowPropertyNotFound when it had none.
int DisposeWindowDistanceSearch(WindowRef window);
// The front structure window's record, or null.
DistanceSearch *GetCurrentDistanceSearch();
// Stores a record on the front window; 0 when there is no front window.
int SetCurrentDistanceSearch(std::unique_ptr<DistanceSearch> search);

void LoadDistanceWindow();
void DoDistanceSearchPreview();
void DoDistanceSearchDrawGraph();
void UpdateBinSizeSlider();
bool UpdateDistanceSearchButton();
void DoDistanceWindowToggleFromCheckboxes(bool value);
void DoDistanceWindowToggleToCheckboxes(bool value);
void MySwitchItemOfTabControl(int tab);
// The window's commands ('Srch', 'LOut', 'tBUV', 'xGrf', ...).
OSStatus DistanceWindowCommand(uint32_t command);
// The bin tip for a point of the graph view (view coordinates); empty when
// none shows.
std::string DistanceGraphTipAt(const QPoint &point);

// The menu command and the bonding window's button.
void InstallDistanceExplorer();

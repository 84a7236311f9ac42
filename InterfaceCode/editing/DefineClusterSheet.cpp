#include "DefineClusterSheet.h"

#include "SiteTableModel.h"
#include "TransformSheets.h"
#include "inspectors/InspectorKit.h"
#include "shell/Forms.h"
#include "structurewindow/MainWindow.h"
#include "structurewindow/StructureWindow.h"
#include "ui_DefineCluster.h"

#include "Alerts.h"
#include "StructureArrays.h"

#include <QCheckBox>
#include <QDialog>
#include <QHeaderView>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <cstdio>
#include <set>

namespace {

constexpr int kIdRole = Qt::UserRole;
constexpr int kChildrenAddedRole = Qt::UserRole + 1;

uint32_t ItemID(const QTreeWidgetItem *item) { return item ? item->data(0, kIdRole).toUInt() : 0; }
bool IsSiteItem(const QTreeWidgetItem *item) { return item && ItemID(item) >= kSitePickerSiteBase; }

// Elements by code, sites by label; the two kinds never compare.
class SitePickerItem : public QTreeWidgetItem {
public:
  using QTreeWidgetItem::QTreeWidgetItem;
  bool operator<(const QTreeWidgetItem &other) const override {
    const bool site = IsSiteItem(this), otherSite = IsSiteItem(&other);
    if (site != otherSite) {
      FWrite("can't compare apples and oranges");
      return false;
    }
    if (!site)
      return ItemID(this) < ItemID(&other);
    return MyBooleanCompareSiteLabels(text(0).toStdString(), other.text(0).toStdString());
  }
};

std::string ElementText(ElementCode e) {
  const char text[3] = {static_cast<char>(e >> 8), static_cast<char>(e & 0xFF), '\0'};
  return text;
}

std::string Format(const char *format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

float FieldValue(QLineEdit *field) {
  bool ok = false;
  const float v = field ? field->text().trimmed().remove(QChar(0x00C5)).toFloat(&ok) : 0.0f;
  return ok ? v : -1.0f; // unreadable text fails the range check
}

class DefineClusterSheet : public QDialog {
public:
  DefineClusterSheet(WindowRef window, const DefineClusterRec &record, QWidget *parent)
      : QDialog(parent), window_(window), record_(record) {
    setWindowModality(Qt::WindowModal);
    setAttribute(Qt::WA_DeleteOnClose);
    ui_.setupUi(this);
    connect(ui_.okButton, &QPushButton::clicked, this, [this] { DefineClusterSheetCommand(this, kSheetOK); });
    connect(ui_.cancelButton, &QPushButton::clicked, this, [this] { DefineClusterSheetCommand(this, kSheetCancel); });
    connect(ui_.selectionRadio, &QRadioButton::clicked, this,
            [this] { DefineClusterSheetCommand(this, kClusterCentreOnSelection); });
    connect(ui_.siteRadio, &QRadioButton::clicked, this,
            [this] { DefineClusterSheetCommand(this, kClusterCentreOnSite); });
    connect(ui_.groupBox, &QCheckBox::clicked, this,
            [this] { DefineClusterSheetCommand(this, kClusterGroupByElement); });
    connect(ui_.innerArrows, &LittleArrows::Stepped, this, [this](int p) { DefineClusterArrowStep(this, 6, p); });
    connect(ui_.outerArrows, &LittleArrows::Stepped, this, [this](int p) { DefineClusterArrowStep(this, 8, p); });
    QTreeWidget *list = ui_.siteList;
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setSortingEnabled(true);
    list->sortByColumn(0, Qt::AscendingOrder);
    connect(list, &QTreeWidget::itemSelectionChanged, this, [this] { SelectionChanged(); });
    connect(list, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem *item) { Expand(item); });
    connect(list, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem *, int) {
      DefineClusterDoubleClick(this);
    });
  }

  void Expand(QTreeWidgetItem *item) {
    if (!item || IsSiteItem(item) || item->data(0, kChildrenAddedRole).toBool() || !record_.structure)
      return;
    item->setData(0, kChildrenAddedRole, true);
    AddBrowserChildItems(ui_.siteList, item, static_cast<ElementCode>(ItemID(item)), *record_.structure);
  }
  void SelectionChanged() {
    if (record_.centreMode == 2)
      ui_.okButton->setEnabled(IsSiteItem(ui_.siteList->currentItem()) &&
                               !ui_.siteList->selectedItems().isEmpty());
  }
  QTreeWidgetItem *SelectedItem() const {
    const QList<QTreeWidgetItem *> items = ui_.siteList->selectedItems();
    return items.isEmpty() ? nullptr : items.front();
  }
  // Reveals and selects the site's item, opening its element first.
  void RevealSite(int32_t site) {
    QTreeWidget *list = ui_.siteList;
    const uint32_t id = kSitePickerSiteBase + static_cast<uint32_t>(site);
    for (int k = 0; k < list->topLevelItemCount(); k++) {
      QTreeWidgetItem *top = list->topLevelItem(k);
      if (ItemID(top) == id) {
        list->setCurrentItem(top);
        return;
      }
      if (IsSiteItem(top) || !record_.structure || site >= record_.structure->siteCount)
        continue;
      if (ItemID(top) != record_.structure->sites[static_cast<size_t>(site)].elements[0])
        continue;
      top->setExpanded(true);
      Expand(top);
      for (int c = 0; c < top->childCount(); c++)
        if (ItemID(top->child(c)) == id) {
          list->setCurrentItem(top->child(c));
          list->scrollToItem(top->child(c));
          return;
        }
    }
  }

  WindowRef window_;
  DefineClusterRec record_;
  Ui::DefineCluster ui_;
};

DefineClusterSheet *Sheet(QDialog *dialog) { return dynamic_cast<DefineClusterSheet *>(dialog); }

} // namespace

void AddBrowserChildItems(QTreeWidget *list, QTreeWidgetItem *parent, ElementCode element,
                          const CrystalRec &structure) {
  for (size_t s = 0; s < UsableSiteSize(structure); s++) {
    const AsymmetricUnitRecord &site = structure.sites[s];
    if (element != 0 && site.elements[0] != element)
      continue;
    auto *item = parent ? new SitePickerItem(parent) : new SitePickerItem(list);
    item->setData(0, kIdRole, kSitePickerSiteBase + static_cast<uint32_t>(s));
    item->setText(0, QString::fromUtf8(site.label));
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
  }
}

void LoadCrystalSitePicker(const CrystalRec &structure, QTreeWidget *list, bool grouped) {
  list->clear();
  list->header()->resizeSection(0, grouped ? list->width() / 2 : list->width());
  if (!grouped) {
    AddBrowserChildItems(list, nullptr, 0, structure);
    if (list->topLevelItemCount() > 0)
      list->scrollToItem(list->topLevelItem(0));
    return;
  }
  std::set<ElementCode> seen;
  for (size_t t = 0; t < UsableSphereSize(structure); t++) {
    const ElementCode e = structure.spheres[t].element;
    if (!seen.insert(e).second)
      continue;
    auto *item = new SitePickerItem(list);
    item->setData(0, kIdRole, static_cast<uint32_t>(e));
    item->setText(0, QString::fromStdString(ElementText(e)));
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    item->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
  }
  if (list->topLevelItemCount() > 0)
    list->scrollToItem(list->topLevelItem(0)); // sorted: the smallest code
}

QDialog *ShowDefineClusterSheet(WindowRef window, const DefineClusterRec &record) {
  MainWindow *parent = GetMainWindow(window);
  if (!parent || !record.structure)
    return nullptr;
  auto *sheet = new DefineClusterSheet(window, record, parent);
  DefineClusterRec &r = sheet->record_;
  if (!r.hasSelection) {
    sheet->ui_.selectionRadio->setEnabled(false);
    r.centreMode = 2;
  }
  sheet->ui_.innerField->setText(QString::fromStdString(Format("%.2f", r.inner)));
  sheet->ui_.outerField->setText(QString::fromStdString(Format("%.2f", r.outer)));
  sheet->ui_.groupBox->setChecked(r.groupByElement != 0);
  LoadCrystalSitePicker(*r.structure, sheet->ui_.siteList, r.groupByElement != 0);
  if (r.presetSite)
    sheet->RevealSite(r.site);
  sheet->ui_.siteList->setFocus();
  DefineClusterSetCentre(sheet, r.centreMode);
  sheet->open();
  return sheet;
}

DefineClusterRec *GetDefineClusterPtr(QDialog *sheet) {
  DefineClusterSheet *s = Sheet(sheet);
  return s ? &s->record_ : nullptr;
}

void DefineClusterSetCentre(QDialog *dialog, uint16_t mode) {
  DefineClusterSheet *s = Sheet(dialog);
  if (!s)
    return;
  const bool onSite = mode == 2;
  s->ui_.selectionRadio->setChecked(!onSite);
  s->ui_.siteRadio->setChecked(onSite);
  s->ui_.siteList->setEnabled(onSite);
  s->record_.centreMode = mode;
  s->ui_.okButton->setEnabled(!onSite || IsSiteItem(s->SelectedItem()));
}

void DefineClusterArrowStep(QDialog *dialog, int arrowsID, int part) {
  DefineClusterSheet *s = Sheet(dialog);
  if (!s)
    return;
  const float step = part == kControlUpButtonPart ? kClusterRadiusStep : -kClusterRadiusStep;
  float inner = FieldValue(s->ui_.innerField), outer = FieldValue(s->ui_.outerField);
  if (arrowsID == 6) {
    inner += step;
    if (inner > outer)
      inner = outer - kClusterRadiusStep;
  } else {
    outer += step;
    if (inner > outer)
      inner = outer + step;
  }
  inner = std::clamp(inner, kClusterRadiusMin, kClusterRadiusMax);
  outer = std::clamp(outer, kClusterRadiusMin, kClusterRadiusMax);
  s->ui_.innerField->setText(QString::fromStdString(Format("%.2f", inner)));
  s->ui_.outerField->setText(QString::fromStdString(Format("%.2f", outer)));
}

bool ExtractDefineCluster(QDialog *dialog) {
  DefineClusterSheet *s = Sheet(dialog);
  if (!s)
    return false;
  DefineClusterRec &r = s->record_;
  if (r.centreMode == 2) {
    QTreeWidgetItem *item = s->SelectedItem();
    if (!IsSiteItem(item)) {
      MyCFNoteAlert("No central site selected!", "Please select a site (not an element) from the list");
      return false;
    }
    r.site = static_cast<int32_t>(ItemID(item) - kSitePickerSiteBase);
  }
  r.inner = FieldValue(s->ui_.innerField);
  r.outer = FieldValue(s->ui_.outerField);
  char text[128];
  for (int k = 0; k < 2; k++) {
    const float v = k == 0 ? r.inner : r.outer;
    if (v >= kClusterRadiusMin && v <= kClusterRadiusMax)
      continue;
    std::snprintf(text, sizeof text, "The %s cluster radius must lie in the range %.2f - %.0f \u00C5",
                  k == 0 ? "inner" : "outer", double(kClusterRadiusMin), double(kClusterRadiusMax));
    MyCFStopAlert("Invalid cluster radius", text);
    return false;
  }
  if (!(r.inner < r.outer)) {
    MyCFStopAlert("Invalid radii!", "The inner cluster radius must be less than the outer cluster radius.");
    return false;
  }
  return true;
}

void CloseDefineClusterSheet(QDialog *dialog, bool apply) {
  DefineClusterSheet *s = Sheet(dialog);
  if (!s)
    return;
  const WindowRef window = s->window_;
  const DefineClusterRec record = s->record_;
  s->record_.structure = nullptr;
  s->hide();
  if (apply)
    s->accept();
  else
    s->reject();
  if (apply)
    DoDefineCluster(window, record);
}

void DefineClusterDoubleClick(QDialog *dialog) {
  DefineClusterSheet *s = Sheet(dialog);
  if (!s || !IsSiteItem(s->SelectedItem()))
    return;
  QPointer<QDialog> guard(dialog);
  QTimer::singleShot(kClusterDoubleClickDelayMs, dialog, [guard] {
    if (guard && ExtractDefineCluster(guard))
      CloseDefineClusterSheet(guard, true);
  });
}

int32_t DefineClusterSheetCommand(QDialog *dialog, uint32_t command) {
  DefineClusterSheet *s = Sheet(dialog);
  if (!s)
    return kEventNotHandledErr;
  switch (command) {
  case kSheetOK:
    if (ExtractDefineCluster(dialog))
      CloseDefineClusterSheet(dialog, true);
    return 0;
  case kSheetCancel:
    CloseDefineClusterSheet(dialog, false);
    return 0;
  case kSheetQuit:
    CloseDefineClusterSheet(dialog, false);
    return kEventNotHandledErr;
  case kClusterCentreOnSelection:
    DefineClusterSetCentre(dialog, 1);
    return 0;
  case kClusterCentreOnSite:
    DefineClusterSetCentre(dialog, 2);
    return 0;
  case kClusterGroupByElement:
    s->record_.groupByElement = s->ui_.groupBox->isChecked() ? 1 : 0;
    if (s->record_.structure)
      LoadCrystalSitePicker(*s->record_.structure, s->ui_.siteList, s->record_.groupByElement != 0);
    DefineClusterSetCentre(dialog, s->record_.centreMode);
    return 0;
  default:
    return kEventNotHandledErr;
  }
}

#include "StructureChooser.h"

#include "Alerts.h"
#include "ShellDialogs.h"
#include "StoredLimits.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {
constexpr const char *kChooseAllProperty = "chooseAll";
constexpr const char *kAsViewsProperty = "asViews";
} // namespace

QDialog *CreateStructureChooser(QWidget *parent, const std::filesystem::path &file,
                                const std::vector<StructureSummary> &structures) {
  auto *dialog = new QDialog(parent);
  dialog->setObjectName("StructureChooser");
  dialog->setWindowTitle("Choose Structures");
  auto *layout = new QVBoxLayout(dialog);
  layout->addWidget(new QLabel(QString("\"%1\" holds %2 structures. Choose those to open: each opens in a window "
                                       "of its own, or all of them as the views of one window.")
                                   .arg(QString::fromStdString(file.filename().string()))
                                   .arg(structures.size()),
                               dialog));
  auto *list = new QTreeWidget(dialog);
  list->setObjectName("structures");
  list->setHeaderLabels({"Name", "Mineral or common name", "Title", "Formula", "Cell", "Space group"});
  list->setRootIsDecorated(false);
  list->setSelectionMode(QAbstractItemView::ExtendedSelection);
  bool commonNames = false, titles = false;
  for (size_t k = 0; k < structures.size(); k++) {
    const StructureSummary &s = structures[k];
    auto *item = new QTreeWidgetItem(
        list, {QString::fromStdString(s.name), QString::fromStdString(s.commonName), QString::fromStdString(s.title),
               QString::fromStdString(s.formula), QString::fromStdString(s.cell), QString::fromStdString(s.spaceGroup)});
    item->setData(0, Qt::UserRole, qulonglong(k));
    commonNames |= !s.commonName.empty();
    titles |= !s.title.empty();
  }
  // A column no structure fills takes no room.
  list->setColumnHidden(1, !commonNames);
  list->setColumnHidden(2, !titles);
  if (list->topLevelItemCount() > 0)
    list->topLevelItem(0)->setSelected(true);
  list->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  list->setMinimumWidth(640);
  layout->addWidget(list);
  auto *buttons = new QDialogButtonBox(dialog);
  QPushButton *open = buttons->addButton("Open", QDialogButtonBox::AcceptRole);
  QPushButton *all = buttons->addButton("Open All", QDialogButtonBox::AcceptRole);
  all->setObjectName("openAll");
  QPushButton *views = buttons->addButton("Open as Views of One Window", QDialogButtonBox::AcceptRole);
  views->setObjectName("openAsViews");
  buttons->addButton(QDialogButtonBox::Cancel);
  open->setDefault(true);
  auto acceptWith = [dialog](bool everyStructure, bool asViews) {
    dialog->setProperty(kChooseAllProperty, everyStructure);
    dialog->setProperty(kAsViewsProperty, asViews);
    dialog->accept();
  };
  QObject::connect(open, &QPushButton::clicked, dialog, [acceptWith] { acceptWith(false, false); });
  QObject::connect(all, &QPushButton::clicked, dialog, [acceptWith] { acceptWith(true, false); });
  // Views of one window: the selection, or every structure when only one
  // is selected (the first is, as the chooser opens).
  QObject::connect(views, &QPushButton::clicked, dialog,
                   [acceptWith, list] { acceptWith(list->selectedItems().size() < 2, true); });
  QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
  // A double click opens the structure clicked.
  QObject::connect(list, &QTreeWidget::itemDoubleClicked, dialog, [acceptWith] { acceptWith(false, false); });
  // Nothing selected: nothing to open.
  QObject::connect(list, &QTreeWidget::itemSelectionChanged, open,
                   [open, list] { open->setEnabled(!list->selectedItems().isEmpty()); });
  layout->addWidget(buttons);
  return dialog;
}

StructureChoice ReadStructureChooser(QDialog *chooser) {
  StructureChoice choice;
  auto *list = chooser->findChild<QTreeWidget *>("structures");
  if (!list)
    return choice;
  choice.all = chooser->property(kChooseAllProperty).toBool();
  choice.asViews = chooser->property(kAsViewsProperty).toBool();
  for (int k = 0; k < list->topLevelItemCount(); k++) {
    QTreeWidgetItem *item = list->topLevelItem(k);
    if (choice.all || item->isSelected())
      choice.picked.push_back(size_t(item->data(0, Qt::UserRole).toULongLong()));
  }
  return choice;
}

StructurePick ChooseStructuresToOpen(const std::filesystem::path &file,
                                     const std::vector<StructureSummary> &structures) {
  StructureChoice choice = GetShellDialogs().ChooseStructures(file, structures);
  if (choice.all) {
    choice.picked.clear();
    for (size_t k = 0; k < structures.size(); k++)
      choice.picked.push_back(k);
  }
  // Open All, or Open with so many rows selected: so many windows are
  // asked for first, the button saying how many. Views open in the one
  // window.
  const size_t windows = choice.picked.size();
  if (!choice.asViews && windows > kMaxWindowsWithoutAsking &&
      !MyCFChoiceAlert(kAlertCautionAlert, "Open " + std::to_string(windows) + " windows?",
                       "\"" + file.filename().string() + "\" holds " + std::to_string(structures.size()) +
                           " structures, and each opens in a window of its own.",
                       "Open " + std::to_string(windows), "Cancel"))
    return {};
  return StructurePick(std::move(choice.picked), choice.asViews);
}

#include "DontShowAgainSheet.h"

#include "shell/Forms.h"
#include "structurewindow/MainWindow.h"
#include "ui_DontShowAgainSheet.h"

#include "HostServices.h"

#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QStyle>

namespace {

// One row per notice.
const DontShowAgainNotice kDontShowAgainNotices[] = {
    {"HideOtherMolecules", &PrefsRecord::noticeHideOtherMolecules, "Hide other molecules?",
     "Every atom bonded, directly or through other atoms, to the selected atoms stays visible; all other atoms "
     "are hidden. Show All Atoms brings them back."},
    {"GenerateSiteLabels", &PrefsRecord::noticeGenerateSiteLabels, "Generate new site labels?",
     "Every site gets a new label made of its element and a number. The present labels are lost."},
    {"GenerateSiteColors", &PrefsRecord::noticeGenerateSiteColors, "Generate new site colours?",
     "Every site gets an atom type of its own, each in a colour of its own. Colours given to elements or sites "
     "are lost."},
    {"ColorByCoordination", &PrefsRecord::noticeColourSites, "Colour the sites by coordination?",
     "Every site gets an atom type of its own, coloured from blue for the lowest coordination number to red for "
     "the highest. Colours given to elements, sites or atoms are lost."},
    {"ColorByElement", &PrefsRecord::noticeColourSites, "Colour the sites by element?",
     "Every site takes the look of the first site of its element. Colours and radii given to single sites or "
     "atoms are lost."},
    {"ApplyDefaults", &PrefsRecord::noticeApplyDefaults, "Apply the element defaults?",
     "Every site takes the radius and colour of its element in the element table. Colours and radii given to "
     "elements, sites or atoms are lost."},
    {"DiscardSymmetry", &PrefsRecord::noticeDiscardSymmetry, "Discard the symmetry of this crystal?",
     "Every atom of the unit cell becomes a site of its own and the space group becomes P 1. The structure keeps "
     "all its atoms."},
    {"CrystalToMolecule", &PrefsRecord::noticeCrystalToMolecule, "Make a molecule of the visible atoms?",
     "Every visible atom becomes an atom of a molecule, with its bonds to other visible atoms; hidden atoms, the "
     "unit cell and the symmetry are dropped."},
    {"AutoGenerateBonds", &PrefsRecord::noticeAutoBonds, "Replace the bond specifications?",
     "The bond specifications are thrown away and new ones are made from the distances found between the atoms, "
     "judged against typical bond lengths."},
};

class DontShowAgainSheet : public QDialog {
public:
  DontShowAgainSheet(const DontShowAgainNotice &notice, WindowRef window, DontShowAgainCallback callback,
                     QWidget *parent)
      : QDialog(parent), window_(window), callback_(std::move(callback)) {
    ui_.setupUi(this);
    setWindowModality(Qt::WindowModal);
    setAttribute(Qt::WA_DeleteOnClose);
    ui_.icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(48, 48));
    ui_.message->setText(QString::fromUtf8(notice.message));
    ui_.explanation->setText(QString::fromUtf8(notice.explanation));
    connect(ui_.okButton, &QPushButton::clicked, this, [this] { Ok(); });
    connect(ui_.cancelButton, &QPushButton::clicked, this, [this] { reject(); });
  }

private:
  void Ok() {
    const bool ticked = ui_.dontShowAgain->isChecked();
    DontShowAgainCallback callback = std::move(callback_);
    WindowRef window = window_;
    QPointer<QWidget> parent = parentWidget();
    accept();
    // The command runs once the sheet is gone, and only while its window is.
    if (callback && parent && GetMainWindow(window))
      callback(window, ticked);
  }

  WindowRef window_;
  DontShowAgainCallback callback_;
  Ui::DontShowAgainSheet ui_;
};

} // namespace

const DontShowAgainNotice *FindDontShowAgainNotice(std::string_view key) {
  for (const DontShowAgainNotice &notice : kDontShowAgainNotices)
    if (key == notice.key)
      return &notice;
  return nullptr;
}

QDialog *ShowDontShowAgainSheet(std::string_view key, WindowRef window, DontShowAgainCallback callback) {
  const DontShowAgainNotice *notice = FindDontShowAgainNotice(key);
  MainWindow *w = GetMainWindow(window);
  if (!notice || !w)
    return nullptr;
  auto *sheet = new DontShowAgainSheet(*notice, window, std::move(callback), w);
  sheet->open();
  SetCocoaCursor(kArrowCursor);
  return sheet;
}

QDialog *PerformAfterNotice(std::string_view key, WindowRef window, std::function<void(WindowRef)> perform) {
  const DontShowAgainNotice *notice = FindDontShowAgainNotice(key);
  if (!notice || !perform)
    return nullptr;
  uint8_t PrefsRecord::*flag = notice->showFlag;
  if (gPrefs.*flag == 0) {
    perform(window);
    return nullptr;
  }
  return ShowDontShowAgainSheet(key, window, [flag, perform](WindowRef w, bool dontShowAgain) {
    gPrefs.*flag = dontShowAgain ? 0 : 1;
    perform(w);
  });
}

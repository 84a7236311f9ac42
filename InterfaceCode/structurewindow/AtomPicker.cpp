#include "AtomPicker.h"

#include "ui_AtomPicker.h"

#include "inspectors/InspectorKit.h"
#include "shell/Commands.h"
#include "shell/Forms.h"

#include "Alerts.h"
#include "ElementTable.h"
#include "Preferences.h"
#include "render/OffScreen.h"
#include "window/MainWindowData.h"

#include <QContextMenuEvent>
#include <QCursor>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QStyleOptionToolButton>
#include <QStylePainter>
#include <QVBoxLayout>
#include <memory>

QWidget *gAtomPickerWindow = nullptr;
QMenu *gAtomPickerElementMenu = nullptr;
int gAtomPickerActiveButtonID = 0;
AtomPickerHooks gAtomPickerHooks;

namespace {

constexpr ElementCode E(const char *symbol) { return TwoCharsToShort(symbol); }
constexpr ElementCode B = kBlankElement;

// The symbols of the short element menu.
constexpr const char *kShortMenuElements[] = {"H",  "Li", "B",  "C",  "N",  "O",  "F",  "Na", "Mg", "Al",
                                              "Si", "P",  "S",  "Cl", "K",  "Ca", "Ti", "Cr", "Mn", "Fe",
                                              "Co", "Ni", "Cu", "Zn", "Br", "Sr", "Ag", "I",  "Ba", "Pb"};

struct PresetCommand {
  const char *code;
  const ElementCode *list; // null: the saved list
};
const PresetCommand kPresetCommands[] = {
    {"MOrg", gPresetOrganic}, {"MSil", gPresetSilicates}, {"MCar", gPresetCarbonates},
    {"MHal", gPresetHalides}, {"MDef", nullptr},
};
constexpr const char *kUseCommands[kAtomPickerButtons] = {"Use1", "Use2", "Use3", "Use4", "Use5",
                                                          "Use6", "Use7", "Use8", "Use9", "UseA"};

QString SymbolOf(ElementCode code) {
  char two[2];
  ShortToTwoChars(code, two);
  if (two[1] == ' ' || two[1] == 0)
    return two[0] == ' ' || two[0] == 0 ? QString() : QString(QChar(two[0]));
  return QString::fromLatin1(two, 2);
}

ElementCode CodeOf(const QString &symbol) {
  if (symbol.isEmpty())
    return kBlankElement;
  const QByteArray bytes = symbol.toLatin1();
  return TwoCharsToShort(bytes.constData());
}

// The element's colour: its first atom type in the front structure, else
// its row of the element table.
bool ElementColour(ElementCode element, RGBColor *colour) {
  if (const CrystalRec *c = GetWindowCrystal(FrontGraphWindow()))
    for (const SphereRecord &type : c->spheres)
      if (type.element == element) {
        *colour = type.colour;
        return true;
      }
  for (const ElementData &row : gPrefs.elementData) {
    if ((row.element >> 8) < 33) // a blank row ends the table
      break;
    if (row.element == element) {
      *colour = row.colour;
      return true;
    }
  }
  return false;
}

void SyncActiveButton() {
  for (int id = 1; id <= kAtomPickerButtons; ++id)
    if (ElementButton *b = AtomPickerButton(id))
      b->setChecked(id == gAtomPickerActiveButtonID);
}

QMenu *ElementMenu() {
  if (!gAtomPickerElementMenu) {
    gAtomPickerElementMenu = new QMenu(gAtomPickerWindow);
    gAtomPickerElementMenu->setObjectName("ElementMenuShort");
    for (const char *symbol : kShortMenuElements)
      gAtomPickerElementMenu->addAction(QString::fromLatin1(symbol))->setData(0u);
    gAtomPickerElementMenu->addSeparator();
    gAtomPickerElementMenu->addAction(QObject::tr("Other…"))->setData(kCmdOtherElement);
    gAtomPickerElementMenu->addAction(QObject::tr("None"))->setData(kCmdNoElement);
  }
  return gAtomPickerElementMenu;
}

void InitAtomPickerWindow() {
  static std::unique_ptr<Ui::AtomPicker> ui;
  auto *window = new QWidget(nullptr, Qt::Tool);
  ui = std::make_unique<Ui::AtomPicker>();
  ui->setupUi(window);
  window->setObjectName("AtomPicker");
  gAtomPickerWindow = window;
  RegisterFloatingWindow({window, &gPrefs.atomPickerBounds, nullptr, [] { RedrawAtomPicker(); }, true, {}});

  // First use: beside the tool window, at the height of its middle.
  if (gPrefs.atomPickerBounds.IsEmpty()) {
    QWidget *tools = gAtomPickerHooks.toolWindow ? gAtomPickerHooks.toolWindow() : nullptr;
    if (tools && tools->isVisible()) {
      const QRect g = tools->frameGeometry();
      window->move(g.right() + 1, g.top() + g.height() / 2);
    }
  } else {
    window->move(gPrefs.atomPickerBounds.left, gPrefs.atomPickerBounds.top);
  }
  MoveWindowOnscreen(window);

  auto *presets = new QMenu(ui->presets);
  for (const PresetCommand &p : kPresetCommands)
    if (QAction *a = GetCommandAction(FourCharsToLong(p.code)))
      presets->addAction(a);
  ui->presets->setMenu(presets);

  DoPresetButtons(gPrefs.atomPickerElements);
  gAtomPickerActiveButtonID = 1;
  const int saved = std::min<int>(gPrefs.atomPickerCount, kAtomPickerButtons);
  for (int k = 0; k < saved; ++k)
    if (gPrefs.atomPickerElements[k] == gPrefs.atomPickerChoice) {
      gAtomPickerActiveButtonID = k + 1;
      break;
    }
  for (int id = 1; id <= kAtomPickerButtons; ++id)
    QObject::connect(AtomPickerButton(id), &QToolButton::clicked, window, [id] {
      DoChangeActiveElementButton(id);
      SyncActiveButton(); // a click on an empty button leaves the choice
    });
  SyncActiveButton();
}

} // namespace

const ElementCode gPresetOrganic[kAtomPickerButtons] = {E("C"), E("H"), E("O"), E("P"), E("S"), E("N"), B, B, B, B};
const ElementCode gPresetSilicates[kAtomPickerButtons] = {E("Al"), E("Si"), E("O"),  E("Na"), E("K"),
                                                          E("Ca"), E("Fe"), E("Mg"), B,       B};
const ElementCode gPresetCarbonates[kAtomPickerButtons] = {E("C"), E("O"), E("Ca"), E("Mg"), E("Fe"), E("Sr"),
                                                           B,      B,      B,       B};
const ElementCode gPresetHalides[kAtomPickerButtons] = {E("Fe"), E("Ca"), E("Na"), E("K"), E("Mg"),
                                                        E("F"),  E("Cl"), E("Br"), B,      B};

// ---- Buttons --------------------------------------------------------------------------

ElementButton::ElementButton(QWidget *parent) : QToolButton(parent) {
  hold_.setSingleShot(true);
  hold_.setInterval(kAtomPickerHoldMs);
  connect(&hold_, &QTimer::timeout, this, [this] { MouseStillDownTimerProc(); });
}

QRect ElementButton::DiscRect() const {
  const int d = height() - 12;
  return QRect(width() - 7 - d, 6, d, d);
}

void ElementButton::paintEvent(QPaintEvent *) {
  // The standard button, its title left of the disc.
  QStylePainter painter(this);
  QStyleOptionToolButton option;
  initStyleOption(&option);
  option.text.clear();
  painter.drawComplexControl(QStyle::CC_ToolButton, option);
  if (text().isEmpty())
    return;
  painter.drawText(QRect(0, 0, DiscRect().left(), height()), Qt::AlignCenter, text());
  painter.setRenderHint(QPainter::Antialiasing);
  RGBColor colour;
  QRectF disc = DiscRect();
  disc.adjust(0.5, 0.5, -0.5, -0.5);
  if (ElementColour(CodeOf(text()), &colour)) {
    painter.setBrush(QColor::fromRgb(colour.red >> 8, colour.green >> 8, colour.blue >> 8));
  } else {
    painter.setBrush(Qt::NoBrush);
  }
  painter.setPen(QPen(QColor::fromRgbF(0.5, 0.5, 0.5, 0.5), 1.0));
  painter.drawEllipse(disc);
}

void ElementButton::mousePressEvent(QMouseEvent *e) {
  QToolButton::mousePressEvent(e);
  if (e->button() != Qt::LeftButton)
    return;
  down_ = true;
  last_ = e->position().toPoint();
  hold_.start();
}

void ElementButton::mouseMoveEvent(QMouseEvent *e) {
  last_ = e->position().toPoint();
  QToolButton::mouseMoveEvent(e);
}

void ElementButton::mouseReleaseEvent(QMouseEvent *e) {
  down_ = false;
  hold_.stop();
  QToolButton::mouseReleaseEvent(e);
}

void ElementButton::contextMenuEvent(QContextMenuEvent *) { DoContextualClickOnElementButton(ControlID(this)); }

void ElementButton::MouseStillDownTimerProc() {
  hold_.stop();
  if (!down_ || !rect().contains(last_))
    return;
  down_ = false;
  setDown(false);
  DoContextualClickOnElementButton(ControlID(this));
}

// ---- The palette ----------------------------------------------------------------------

ElementButton *AtomPickerButton(int id) {
  if (!gAtomPickerWindow || id < 1 || id > kAtomPickerButtons)
    return nullptr;
  return dynamic_cast<ElementButton *>(FindControl(gAtomPickerWindow, id));
}

void DoShowAtomPickerWindow() {
  if (!gAtomPickerWindow)
    InitAtomPickerWindow();
  gAtomPickerWindow->show();
  gAtomPickerWindow->raise();
}

bool GetAtomPickerElementChoice(ElementCode *element) {
  ElementButton *b = AtomPickerButton(gAtomPickerActiveButtonID);
  // An emptied active button chooses nothing: atoms never get a blank element.
  if (!b || b->text().isEmpty())
    return false;
  if (element)
    *element = CodeOf(b->text());
  return true;
}

void RedrawAtomPicker() {
  for (int id = 1; id <= kAtomPickerButtons; ++id)
    if (ElementButton *b = AtomPickerButton(id))
      b->update();
}

void SaveAtomPickerWindowPrefs() {
  if (!gAtomPickerWindow)
    return;
  // All ten in button order, so that an emptied button stays empty.
  for (int id = 1; id <= kAtomPickerButtons; ++id)
    gPrefs.atomPickerElements[id - 1] = CodeOf(AtomPickerButton(id)->text());
  gPrefs.atomPickerCount = kAtomPickerButtons;
  ElementCode chosen;
  if (GetAtomPickerElementChoice(&chosen))
    gPrefs.atomPickerChoice = chosen;
}

void DoPresetButtons(const ElementCode list[kAtomPickerButtons]) {
  for (int id = 1; id <= kAtomPickerButtons; ++id)
    if (ElementButton *b = AtomPickerButton(id))
      b->setText(SymbolOf(list[id - 1]));
}

void DoChangeActiveElementButton(int id) {
  ElementButton *b = AtomPickerButton(id);
  if (!b || b->text().isEmpty())
    return;
  gAtomPickerActiveButtonID = id;
  SyncActiveButton();
}

void DoContextualClickOnElementButton(int id) {
  ElementButton *b = AtomPickerButton(id);
  if (!b)
    return;
  QMenu *menu = ElementMenu();
  const QPoint at = QCursor::pos() + QPoint(kAtomPickerMenuOffset, 0);
  QAction *chosen = gAtomPickerHooks.popUpMenu ? gAtomPickerHooks.popUpMenu(menu, at) : menu->exec(at);
  if (!chosen)
    return;
  const uint32_t code = chosen->data().toUInt();
  if (code == kCmdOtherElement) {
    QString symbol;
    if (GetOtherElementSymbol(&symbol))
      b->setText(symbol);
  } else if (code == kCmdNoElement) {
    b->setText(QString());
  } else {
    for (int other = 1; other <= kAtomPickerButtons; ++other)
      if (AtomPickerButton(other)->text() == chosen->text()) {
        SysBeep();
        return;
      }
    b->setText(chosen->text());
  }
  b->update();
}

bool VerifyElementText(const QString &text) {
  if (text == "OH")
    return true;
  if (text.size() < 1 || text.size() > 2)
    return false;
  if (text[0] < 'A' || text[0] > 'Z')
    return false;
  return text.size() == 1 || (text[1] >= 'a' && text[1] <= 'z');
}

OtherPickerDialog::OtherPickerDialog(QWidget *parent) : QDialog(parent) {
  setObjectName("OtherPicker");
  setWindowTitle(tr("Other Element"));
  setWindowModality(Qt::ApplicationModal);
  auto *layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(tr("Element symbol:"), this));
  auto *field = new QLineEdit(this);
  field->setProperty(kControlIDProperty, 3);
  field->setMaxLength(2);
  layout->addWidget(field);
  auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, [this] { Ok(); });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

QString OtherPickerDialog::GetElementText() const { return FindControl<QLineEdit>(const_cast<OtherPickerDialog *>(this), 3)->text(); }

void OtherPickerDialog::SetElementText(const QString &text) { FindControl<QLineEdit>(this, 3)->setText(text); }

void OtherPickerDialog::Ok() {
  if (!VerifyElementText(GetElementText())) {
    MyCFCautionAlert("Invalid element symbol",
                     "Symbols must be valid 1 or 2-character strings. Please check your typing and try again.");
    return;
  }
  accept();
}

bool GetOtherElementSymbol(QString *text) {
  OtherPickerDialog dialog(gAtomPickerWindow);
  const int result = gAtomPickerHooks.runModal ? gAtomPickerHooks.runModal(&dialog) : dialog.exec();
  if (result != QDialog::Accepted)
    return false;
  if (text)
    *text = dialog.GetElementText();
  return true;
}

int32_t AtomPickerCommand(uint32_t command) {
  for (const PresetCommand &p : kPresetCommands)
    if (FourCharsToLong(p.code) == command) {
      if (gAtomPickerWindow)
        DoPresetButtons(p.list ? p.list : gPrefs.atomPickerElements);
      RedrawAtomPicker();
      return kEventNotHandledErr;
    }
  for (int k = 0; k < kAtomPickerButtons; ++k)
    if (FourCharsToLong(kUseCommands[k]) == command) {
      DoChangeActiveElementButton(k + 1);
      return kEventNotHandledErr;
    }
  return kEventNotHandledErr;
}

void InstallAtomPicker() {
  static const uint32_t kShowPicker = FourCharsToLong("*AtP");
  AddCommandHandler(
      [](uint32_t command, const QVariant &) -> OSStatus {
        if (command == kShowPicker) {
          DoShowAtomPickerWindow();
          return kNoErr;
        }
        return AtomPickerCommand(command);
      },
      [](uint32_t command, QAction *action) -> OSStatus {
        if (command != kShowPicker)
          return kEventNotHandledErr;
        action->setEnabled(true);
        return kNoErr;
      });
  // At start-up the palette opens again when it was showing at the last quit.
  AddWindowOpener([] {
    if (!gPrefs.atomPickerBounds.IsEmpty())
      DoShowAtomPickerWindow();
  });
}

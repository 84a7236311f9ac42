#include "structurewindow/ContextMenus.h"
#include "structurewindow/EditAnnotation.h"
#include "ModelOptions.h"

#include "InspectorKit.h"
#include "shell/Commands.h"
#include "shell/Forms.h"

#include "Alerts.h"
#include "LongCommand.h"
#include "PlotRange.h"
#include "Polyhedra.h"
#include "Preferences.h"
#include "documents/PrefsFile.h"
#include "export/PictureServices.h"
#include "render/AnnotationObjects.h"
#include "render/Background.h"
#include "render/PlotPipeline.h"
#include "window/MainWindowData.h"

#include "ui_Atoms.h"
#include "ui_Background.h"
#include "ui_Bonds.h"
#include "ui_Cell.h"
#include "ui_Depth.h"
#include "ui_Labels.h"
#include "ui_ModelOptions.h"
#include "ui_Reflectance.h"

#include <QAbstractButton>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPixmap>
#include <cstdio>

ModelOptionsRec gModelOptions;
QWidget *gModelOptionsWindow = nullptr;
QWidget *gModelOptionsUserPane = nullptr;
QMenu *gModelOptionsMenu = nullptr;

namespace {

constexpr uint32_t kCmdShowModelOptions = FourCharsToLong("MOpt");
constexpr std::array<uint32_t, 7> kTabCommands{FourCharsToLong("Atom"), FourCharsToLong("Bond"),
                                               FourCharsToLong("Cell"), FourCharsToLong("Labl"),
                                               FourCharsToLong("Back"), FourCharsToLong("Refl"),
                                               FourCharsToLong("Dept")};

// The tabs this window holds; a tab without a pane keeps its button hidden.
struct TabOps {
  void (*init)();
  void (*fill)(const CrystalRec &);
  void (*update)();
  bool (*extract)();
  void (*apply)();
  void (*saveDefaults)();
};
TabOps TabFor(int tab) {
  switch (tab) {
  case kAtomsTab:
    return {InitAtomOptions, FillAtomOptions, UpdateAtomOptions, ExtractAtomOptions, ApplyAtomOptions,
            SaveAtomOptionsAsDefaults};
  case kBondsTab:
    return {InitBondOptions, FillBondOptions, UpdateBondOptions, ExtractBondOptions, ApplyBondOptions,
            SaveBondOptionsAsDefaults};
  case kCellTab:
    return {InitCellOptions, FillCellOptions, UpdateCellOptions, ExtractCellOptions, ApplyCellOptions,
            SaveCellOptionsAsDefaults};
  case kLabelsTab:
    return {InitLabelOptions, FillLabelOptions, UpdateLabelOptions, ExtractLabelOptions, ApplyLabelOptions,
            SaveLabelOptionsAsDefaults};
  case kBackgroundTab:
    return {InitBackgroundOptions, FillBackgroundOptions, UpdateBackgroundOptions, ExtractBackgroundOptions,
            ApplyBackgroundOptions, SaveBackgroundOptionsAsDefaults};
  case kReflectanceTab:
    return {InitReflectanceOptions, FillReflectanceOptions, UpdateReflectanceOptions, ExtractReflectanceOptions,
            ApplyReflectanceOptions, SaveReflectanceOptionsAsDefaults};
  case kDepthTab:
    return {InitDepthOptions, FillDepthOptions, UpdateDepthOptions, ExtractDepthOptions, ApplyDepthOptions,
            SaveDepthOptionsAsDefaults};
  default:
    return {};
  }
}
// Refresh order of the controls, and the order Return applies and saving
// extracts in.
constexpr std::array<int, 7> kUpdateOrder{kAtomsTab, kBondsTab, kLabelsTab, kCellTab,
                                          kBackgroundTab, kReflectanceTab, kDepthTab};
constexpr std::array<int, 7> kApplyOrder{kAtomsTab, kBondsTab, kCellTab, kLabelsTab,
                                         kBackgroundTab, kReflectanceTab, kDepthTab};

class ModelOptionsWindow : public QWidget {
public:
  ModelOptionsWindow() { ui.setupUi(this); }
  Ui::ModelOptions ui;

protected:
  void keyPressEvent(QKeyEvent *event) override {
    // Return and Enter apply every tab, from whichever field they came.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
      ApplyModelOptions();
      event->accept();
      return;
    }
    QWidget::keyPressEvent(event);
  }
  void contextMenuEvent(QContextMenuEvent *event) override {
    if (gModelOptionsMenu)
      gModelOptionsMenu->popup(event->globalPos());
  }
};

// A pane from its form; the form object keeps only pointers into the pane.
template <typename Form> QWidget *PaneFromForm() {
  static Form form;
  auto *pane = new QWidget;
  form.setupUi(pane);
  return pane;
}
QWidget *BuildPane(int tab) {
  switch (tab) {
  case kAtomsTab: return PaneFromForm<Ui::AtomsPane>();
  case kBondsTab: return PaneFromForm<Ui::BondsPane>();
  case kCellTab: return PaneFromForm<Ui::CellPane>();
  case kLabelsTab: return PaneFromForm<Ui::LabelsPane>();
  case kBackgroundTab: return PaneFromForm<Ui::BackgroundPane>();
  case kReflectanceTab: return PaneFromForm<Ui::ReflectancePane>();
  case kDepthTab: return PaneFromForm<Ui::DepthPane>();
  default: return nullptr;
  }
}

constexpr std::array<const char *, 7> kTabImageNames{"Atoms", "Bonds", "Cell", "Labels",
                                                    "Background", "Reflectance", "Depth"};

// Shows the tab's picture, chosen or not, on its button; a button whose
// picture cannot be loaded keeps its text.
void LoadModelOptionsButtonImage(int tab, bool selected) {
  if (!gModelOptionsWindow || tab < 0 || tab >= kModelOptionsTabCount)
    return;
  auto *button = FindControl<QAbstractButton>(gModelOptionsWindow, gModelOptions.buttonIDs[size_t(tab)]);
  if (!button)
    return;
  const std::string name =
      std::string("MO ") + kTabImageNames[size_t(tab)] + (selected ? " Sel.png" : " Norm.png");
  const QImage image = MyLoadPictureResourceIntoImageRef(name);
  if (image.isNull())
    return;
  button->setIcon(QIcon(QPixmap::fromImage(image)));
  button->setIconSize(image.size());
  button->setText(QString());
  button->setToolTip(gModelOptions.titles[size_t(tab)]);
}

bool WindowHoldsStructure(WindowRef window) { return window && GetWindowCrystal(window) && IsWindowFileOpen(window); }

void InitModelOptions() {
  auto *window = new ModelOptionsWindow;
  gModelOptionsWindow = window;
  gModelOptionsUserPane = FindControl(window, 4);
  if (!gModelOptionsUserPane) {
    std::fprintf(stderr, "Error loading control %d of %d at LoadModelOptionsWindow()\n", 4, 4);
    std::fprintf(stderr, "Error loading Model Options\n");
    return;
  }
  gModelOptionsMenu = new QMenu(window);
  for (uint32_t code : {FourCharsToLong("svMO"), FourCharsToLong("MOHp")})
    gModelOptionsMenu->addAction(GetCommandAction(code));

  for (int tab = 0; tab < kModelOptionsTabCount; tab++) {
    QWidget *pane = BuildPane(tab);
    auto *button = FindControl<QAbstractButton>(window, gModelOptions.buttonIDs[size_t(tab)]);
    if (button) {
      button->setCheckable(true);
      button->setHidden(pane == nullptr);
      const uint32_t code = kTabCommands[size_t(tab)];
      QObject::connect(button, &QAbstractButton::clicked, button, [code] { ProcessCommand(code); });
      // Another tab's button shows its chosen picture while held down.
      QObject::connect(button, &QAbstractButton::pressed, button, [tab] {
        if (tab != gModelOptions.tab)
          LoadModelOptionsButtonImage(tab, true);
      });
      QObject::connect(button, &QAbstractButton::released, button, [tab] {
        if (tab != gModelOptions.tab)
          LoadModelOptionsButtonImage(tab, false);
      });
    }
    if (!pane)
      continue;
    if (ControlID(pane) != gModelOptions.paneIDs[size_t(tab)]) {
      std::fprintf(stderr, "Error loading control %d of %d at LoadModelOptionsWindow()\n", tab + 1, 7);
      std::fprintf(stderr, "Error loading Model Options\n");
      delete pane;
      return;
    }
    pane->setParent(gModelOptionsUserPane);
    pane->move(0, 0);
    pane->hide();
    gModelOptions.panes[size_t(tab)] = pane;
  }

  for (int tab = 0; tab < kModelOptionsTabCount; tab++)
    LoadModelOptionsButtonImage(tab, false);
  // The buttons of the tabs this window holds stand side by side.
  int x = 6;
  for (int16_t id : gModelOptions.buttonIDs)
    if (auto *button = FindControl<QAbstractButton>(window, id); button && !button->isHidden()) {
      button->move(x, button->y());
      button->resize(button->sizeHint().width() + 8, button->height());
      x += button->width() + 2;
    }

  OpenContextMenusOnControlClick(window);
  RegisterFloatingWindow(
      {window, &gPrefs.modelOptionsBounds, &gPrefs.modelOptionsVisible, [] { DoUpdateModelOptions(); }, false, {}});
  for (int tab = 0; tab < kModelOptionsTabCount; tab++)
    if (TabFor(tab).init)
      TabFor(tab).init();
  DoModelOptionsTabChoice(gPrefs.modelOptionsTab);
}

} // namespace

void DoModelOptions() {
  if (!gModelOptionsWindow)
    InitModelOptions();
  if (!gModelOptionsWindow)
    return;
  // Shown first: a hidden inspector leaves out what only its rows need.
  gModelOptionsWindow->show();
  DoUpdateModelOptions();
  gModelOptionsWindow->raise();
  MoveWindowOnscreen(gModelOptionsWindow);
}

void ToggleShowModelOptionsWindow() {
  if (gModelOptionsWindow && gModelOptionsWindow->isVisible())
    gModelOptionsWindow->hide();
  else
    DoModelOptions();
}

void ShowBackgroundOptions() {
  DoModelOptions();
  DoModelOptionsTabChoice(kBackgroundTab);
}

void DoUpdateModelOptions() {
  WindowRef window = FrontGraphWindow();
  CrystalRec *c = window ? GetWindowCrystal(window) : nullptr;
  if (!c) {
    // The records keep what they showed, but nothing may be written into a
    // structure whose window has gone.
    gModelOptions.crystal = nullptr;
    return;
  }
  gModelOptions.crystal = c;
  for (int tab : kApplyOrder)
    if (TabFor(tab).fill)
      TabFor(tab).fill(*c);
  if (!gModelOptionsWindow)
    return;
  for (int tab : kUpdateOrder)
    if (TabFor(tab).update)
      TabFor(tab).update();
  DoModelOptionsTabChoice(gModelOptions.tab);
}

CrystalRec *ModelOptionsCrystal() {
  WindowRef window = FrontGraphWindow();
  CrystalRec *front = window ? GetWindowCrystal(window) : nullptr;
  if (front != gModelOptions.crystal) {
    // The shown structure is not the front one any more (its window closed
    // or went behind): show the front one before writing anything.
    gModelOptions.crystal = nullptr;
    if (front) {
      DoUpdateModelOptions();
      return nullptr; // the controls now show another structure; this edit is void
    }
  }
  return gModelOptions.crystal;
}

void ReplotAfterModelOptions(bool resetOffScreen, bool reRender) {
  WindowRef window = FrontGraphWindow();
  if (!WindowHoldsStructure(window))
    return;
  if (resetOffScreen)
    ResetOffScreen(window);
  NewPlot(window, false, reRender);
}

void DoModelOptionsTabChoice(int tab) {
  if (tab < 0 || tab >= kModelOptionsTabCount || !gModelOptions.panes[size_t(tab)])
    tab = gModelOptions.panes[kAtomsTab] ? kAtomsTab : kCellTab;
  if (!gModelOptionsWindow)
    return;
  if (QWidget *focus = gModelOptionsWindow->focusWidget())
    focus->clearFocus();
  for (int t = 0; t < kModelOptionsTabCount; t++)
    if (auto *button = FindControl<QAbstractButton>(gModelOptionsWindow, gModelOptions.buttonIDs[size_t(t)]))
      button->setChecked(t == tab);
  if (gModelOptions.tab != tab)
    LoadModelOptionsButtonImage(gModelOptions.tab, false);
  LoadModelOptionsButtonImage(tab, true);
  gModelOptions.tab = uint16_t(tab);
  gPrefs.modelOptionsTab = uint16_t(tab);
  for (QWidget *pane : gModelOptions.panes)
    if (pane)
      pane->hide();
  QWidget *pane = gModelOptions.panes[size_t(tab)];
  const QSize paneSize = pane->sizeHint().expandedTo(pane->minimumSize()).expandedTo(pane->size());
  pane->resize(paneSize);
  const int growth = paneSize.height() - gModelOptionsUserPane->height();
  gModelOptionsUserPane->resize(std::max(gModelOptionsUserPane->width(), paneSize.width()), paneSize.height());
  gModelOptionsWindow->resize(std::max(gModelOptionsWindow->width(),
                                       gModelOptionsUserPane->x() + gModelOptionsUserPane->width()),
                              gModelOptionsWindow->height() + growth);
  pane->show();
  gModelOptionsWindow->setWindowTitle(gModelOptions.titles[size_t(tab)]);
}

void ApplyModelOptions() {
  // Copies from the last refresh are only written into the structure they
  // came from.
  if (ModelOptionsCrystal()) {
    for (int tab : kApplyOrder)
      if (TabFor(tab).apply)
        TabFor(tab).apply();
  }
  WindowRef window = FrontGraphWindow();
  if (WindowHoldsStructure(window)) {
    NewPlot(window, false, true);
  } else if (window) {
    ClearScreen(window);
  }
}

bool SaveModelOptions() {
  for (int tab : kApplyOrder)
    if (TabFor(tab).extract && TabFor(tab).extract())
      TabFor(tab).saveDefaults();
  // The style of new annotation objects is saved with the model options.
  CopyEditAnnotationToPrefs(&gPrefs);
  return CreateAndSavePrefsFile(); // a failure is said there
}

void DoModelOptionsHelp() { MyOpenHelpPage("pages/ModelInspector.html"); }

// ---- Display toggles --------------------------------------------------------------

namespace {
CrystalRec *ToggleCrystal(WindowRef window) { return window ? GetWindowCrystal(window) : nullptr; }
void Replot(WindowRef window, bool reset, bool reRender) {
  if (!WindowHoldsStructure(window))
    return;
  if (reset)
    ResetOffScreen(window);
  NewPlot(window, false, reRender);
}
} // namespace

void DoNewModelType(WindowRef window, int type) {
  CrystalRec *c = ToggleCrystal(window);
  if (!c || c->modelType == type)
    return;
  c->modelType = int8_t(type);
  if (WindowHoldsStructure(window))
    DimensionPlot(c, c->plotCentre, &c->plotExtent);
  Replot(window, false, true);
  // The plot made the polyhedra: an empty polyhedral picture gets its word.
  if (WindowHoldsStructure(window) && !LongCommandCancelled())
    TellWhyNoPolyhedronIsDrawn(*GetWindowCrystal(window));
}

void DoToggleShowAxes(WindowRef window) {
  if (CrystalRec *c = ToggleCrystal(window)) {
    c->showAxes = !c->showAxes;
    Replot(window, false, false);
  }
}

void DoToggleShowUnitCell(WindowRef window) {
  CrystalRec *c = ToggleCrystal(window);
  if (!c || c->molecule)
    return;
  c->showUnitCell = !c->showUnitCell;
  Replot(window, false, false);
}

void TogglePerspective(WindowRef window) {
  if (CrystalRec *c = ToggleCrystal(window)) {
    c->perspective = !c->perspective;
    Replot(window, false, false);
    UpdateModelOptions();
  }
}

void ToggleDepthFading(WindowRef window) {
  if (CrystalRec *c = ToggleCrystal(window)) {
    c->depthFading = !c->depthFading;
    Replot(window, false, false);
    UpdateModelOptions();
  }
}

void ToggleStereo(WindowRef window) {
  CrystalRec *c = ToggleCrystal(window);
  if (!c)
    return;
  c->stereoOn = !c->stereoOn;
  if (WindowHoldsStructure(window) && c->stereoMode == 2)
    AdjustAnnotationToStereoMode(window);
  Replot(window, true, true);
  UpdateModelOptions();
}

void SwitchStereoMode(WindowRef window) {
  CrystalRec *c = ToggleCrystal(window);
  if (!c)
    return;
  c->stereoMode = c->stereoMode == 1 ? 2 : 1;
  if (c->stereoOn) {
    AdjustAnnotationToStereoMode(window);
    ResetOffScreen(window);
    NewPlot(window, false, true);
  } else {
    NoteWindowChange(window); // a stored setting, shown once stereo is on
  }
  UpdateModelOptions();
}

void DoToggleSurfaceOverlay(WindowRef window) {
  if (CrystalRec *c = ToggleCrystal(window)) {
    c->surfaceOverlay = !c->surfaceOverlay;
    Replot(window, true, true);
  }
}

void DoFastRotationMode() { gPrefs.fastRotation = 1; }
void DoFullRenderingMode() { gPrefs.fastRotation = 0; }

// ---- Commands ---------------------------------------------------------------------

namespace {
constexpr std::array<const char *, 6> kModelTypeCodes{"Ball", "Spac", "Poly", "Wire", "Stik", "Elps"};

int ModelTypeOf(uint32_t command) {
  for (size_t i = 0; i < kModelTypeCodes.size(); i++)
    if (command == FourCharsToLong(kModelTypeCodes[i]))
      return int(i) + 1;
  return 0;
}

OSStatus ModelOptionsCommand(uint32_t command, const QVariant &) {
  WindowRef window = FrontGraphWindow();
  if (int type = ModelTypeOf(command)) {
    DoNewModelType(window, type);
    return kNoErr;
  }
  for (int tab = 0; tab < kModelOptionsTabCount; tab++)
    if (command == kTabCommands[size_t(tab)]) {
      DoModelOptionsTabChoice(tab);
      return kEventNotHandledErr; // the tab's pane may take it too
    }
  switch (command) {
  case FourCharsToLong("*Axs"): DoToggleShowAxes(window); break;
  case FourCharsToLong("*Cel"): DoToggleShowUnitCell(window); break;
  case FourCharsToLong("Prsp"): TogglePerspective(window); break;
  case FourCharsToLong("Fade"): ToggleDepthFading(window); break;
  case FourCharsToLong("Ster"): ToggleStereo(window); break;
  case FourCharsToLong("RedB"):
  case FourCharsToLong("Pair"): SwitchStereoMode(window); break;
  case FourCharsToLong("*Srf"): DoToggleSurfaceOverlay(window); break;
  case FourCharsToLong("Fast"): DoFastRotationMode(); break;
  case FourCharsToLong("Full"): DoFullRenderingMode(); break;
  case FourCharsToLong("MOHp"): DoModelOptionsHelp(); break;
  case FourCharsToLong("svMO"): SaveModelOptions(); break;
  case FourCharsToLong("*MOK"): ShowBackgroundOptions(); break;
  case kCmdShowModelOptions: ToggleShowModelOptionsWindow(); break;
  default: return kEventNotHandledErr;
  }
  return kNoErr;
}

OSStatus ModelOptionsStatus(uint32_t command, QAction *action) {
  const CrystalRec *c = FrontGraphWindow() ? GetWindowCrystal(FrontGraphWindow()) : nullptr;
  auto check = [&](bool enabled, bool checked) {
    action->setEnabled(enabled);
    action->setCheckable(true);
    action->setChecked(checked);
    return kNoErr;
  };
  if (int type = ModelTypeOf(command))
    return check(c != nullptr, c && c->modelType == type);
  switch (command) {
  case FourCharsToLong("*Axs"): return check(c != nullptr, c && c->showAxes);
  case FourCharsToLong("*Cel"): return check(c && !c->molecule, c && !c->molecule && c->showUnitCell);
  case FourCharsToLong("Prsp"): return check(c != nullptr, c && c->perspective);
  case FourCharsToLong("Fade"): return check(c != nullptr, c && c->depthFading);
  case FourCharsToLong("Ster"): return check(c != nullptr, c && c->stereoOn);
  case FourCharsToLong("RedB"): return check(c != nullptr, c && c->stereoMode == 1);
  case FourCharsToLong("Pair"): return check(c != nullptr, c && c->stereoMode == 2);
  case FourCharsToLong("*Srf"): return check(c != nullptr, c && c->surfaceOverlay);
  case FourCharsToLong("Fast"): return check(true, gPrefs.fastRotation != 0);
  case FourCharsToLong("Full"): return check(true, gPrefs.fastRotation == 0);
  case kCmdShowModelOptions:
    return check(true, gModelOptionsWindow && gModelOptionsWindow->isVisible());
  default: return kEventNotHandledErr;
  }
}
} // namespace

void InstallModelOptions() {
  static bool installed = false;
  if (installed)
    return;
  installed = true;
  AddCommandHandler(ModelOptionsCommand, ModelOptionsStatus);
  AddWindowOpener([] {
    if (gPrefs.modelOptionsVisible)
      DoModelOptions();
  });
}

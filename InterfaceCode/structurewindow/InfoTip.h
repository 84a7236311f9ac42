// The atom info tip: a frameless translucent speech bubble pointing at an
// atom of a structure window, with the atom's title line and, extended, a
// table of its coordinates, bonds and bond lengths and three buttons that
// write the site, bond and angle reports to the Log.
#pragma once

#include "HostServices.h"
#include "StructureRecord.h"

#include <QPainterPath>
#include <QPointF>
#include <QPushButton>
#include <QString>
#include <QTextDocument>
#include <QWidget>
#include <memory>

class InfoTipWidget;

struct InfoTipRec {
  std::unique_ptr<QTextDocument> shortText;
  std::unique_ptr<QTextDocument> extendedText;
  bool showExtended = false;
  uint32_t placement = 5; // 1-3 above the atom, 4-6 below; pointer right, centre, left
  uint32_t atomIndex = 0;
  WindowRef parentWindow = nullptr;
  QPushButton *siteButton = nullptr;    // 'IT*S'
  QPushButton *bondsButton = nullptr;   // 'IT*B'
  QPushButton *anglesButton = nullptr;  // 'IT*A'
};

// The title line shows the coordinates instead of the occupancy and number.
extern bool gShowCoordinatesInTitle;
// The extended state the next tip opens with.
extern bool gSaveShowExtended;

class InfoTipWidget : public QWidget {
public:
  InfoTipWidget(WindowRef parent, uint32_t atom);
  InfoTipRec &Rec() { return rec_; }
  // The bubble's outline in widget coordinates.
  QPainterPath Outline() const;

protected:
  void paintEvent(QPaintEvent *) override;
  void mousePressEvent(QMouseEvent *) override;

private:
  InfoTipRec rec_;
};

// The composition of the site with subscript digits ("Fe₀.₅ Mg₀.₅"); empty
// for a site index out of range.
QString OccupancyStringForCrystalSite(const CrystalRec *crystal, uint32_t site);
// The tip's text as plain lines (title, then tab-separated key and value
// lines when extended); empty when the atom is out of range.
QString InfoPlainTextForAtom(const CrystalRec *crystal, int32_t atom, bool extended);
// The tip's text laid out; null when the atom is out of range.
std::unique_ptr<QTextDocument> InfoStringForAtomInWindow(int32_t atom, WindowRef window, bool extended);
// Where the pointer's tip goes (window content coordinates) and the placement code.
QPointF GetInfoTipPositionForAtomInWindowWithText(int32_t atom, WindowRef window, const QTextDocument &text,
                                                  uint32_t *placement);
// Lays out and places the tip.
void ResetBoundsForInfoWindow(InfoTipWidget *tip);
// Flips the extended state (remembered for the next tip) and lays it out again.
void ToggleExtendedInfoWindow(InfoTipWidget *tip);
// Flips the title mode and makes the window's tip again for the same atom.
void ToggleInfoWindowTitle(WindowRef window);
// Makes and shows the window's tip for the atom, replacing any earlier one.
InfoTipWidget *CreateInfoTipOverlay(WindowRef window, int32_t atom);
// Removes the window's tip, if any.
void DestroyInfoTipOverlay(WindowRef window);
// The window's tip; null for none.
InfoTipWidget *GetWindowInfoTip(WindowRef window);
// Shows the window's hidden tip a tenth of a second later (on activation).
void RequestShowInfoTipForWindow(WindowRef window);
// With the tip showing, Shift and Alt held together flip its title mode.
// Returns whether it did.
bool InfoTipModifiersChanged(WindowRef window, Qt::KeyboardModifiers modifiers);
// Whether the window point lies over the body of the window's tip.
bool MouseOverInfoTipOverlay(WindowRef window, Point point);
// Installs the tip into the info tool.
void InstallInfoTip();

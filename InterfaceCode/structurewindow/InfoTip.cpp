#include "InfoTip.h"

#include "InfoTool.h"
#include "MainWindow.h"
#include "Geometry.h"
#include "SiteBrowserData.h"
#include "Utilities.h"
#include "render/HitTesting.h"
#include "window/MainWindowData.h"

#include <QTimer>
#include <QFont>
#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextOption>
#include <algorithm>
#include <cmath>
#include <map>

bool gShowCoordinatesInTitle = false;
bool gSaveShowExtended = false;

namespace {

std::map<WindowRef, InfoTipWidget *> gTips;

constexpr const char *kKeys[] = {"Occupancy:", "Atom №:", "Frac xyz:", "Orth xyz:", "Bonds:",
                                 "Distance:", "Range:", "Mean Length:", "Coordination:"};

bool ValidAtom(const CrystalRec *c, int64_t atom) {
  return c && atom >= 0 && static_cast<size_t>(atom) < c->atoms.size() && c->atoms[atom].site < c->sites.size();
}

QString Subscripts(QString text) {
  for (QChar &ch : text)
    if (ch >= '0' && ch <= '9')
      ch = QChar(0x2080 + (ch.unicode() - '0'));
  return text;
}

QString Num(double v) { return QString::asprintf("%.3f", v); }

bool Above(uint32_t placement) { return placement >= 1 && placement <= 3; }

} // namespace

QString OccupancyStringForCrystalSite(const CrystalRec *crystal, uint32_t site) {
  if (!crystal || site >= crystal->sites.size())
    return {};
  const AsymmetricUnitRecord &s = crystal->sites[site];
  QString text;
  for (int i = 0; i < kMaxSiteElements; ++i) {
    if (!(s.occupancies[i] > 0.0f))
      continue;
    if (!text.isEmpty())
      text += ' ';
    text += QChar((s.elements[i] >> 8) & 0xFF);
    const int second = s.elements[i] & 0xFF;
    if (second >= 33)
      text += QChar(second);
    if (s.occupancies[i] > 0.9999f)
      break;
    text += Subscripts(QString::fromStdString(MyTrimSprintf("%.3f", s.occupancies[i])));
  }
  return text;
}

QString InfoPlainTextForAtom(const CrystalRec *c, int32_t atom, bool extended) {
  if (!ValidAtom(c, atom))
    return {};
  const AtomRecord &a = c->atoms[atom];
  const AsymmetricUnitRecord &s = c->sites[a.site];
  const QString label = QString::fromLatin1(s.label);
  const float *p = c->molecule ? a.cart : a.xyz;
  const QString xyz = QString("(%1, %2, %3%4)").arg(Num(p[0]), Num(p[1]), Num(p[2]), c->molecule ? " Å" : "");
  const QString occupancy = OccupancyStringForCrystalSite(c, a.site);
  QString text = gShowCoordinatesInTitle ? label + " " + xyz
                                         : QString("%1 (%2) № %3").arg(label, occupancy).arg(atom + 1);
  if (!extended)
    return text;
  text += "\n";
  if (gShowCoordinatesInTitle)
    text += QString("\n\tOccupancy:\t%1\n\tAtom №:\t%2").arg(occupancy).arg(atom + 1);
  else
    text += QString("\n\t%1\t%2").arg(c->molecule ? "Orth xyz:" : "Frac xyz:", xyz);
  int visible = 0;
  std::vector<float> lengths;
  for (uint32_t other : a.bonds) {
    // Entries a later edit left behind are skipped.
    if (!ValidAtom(c, other))
      continue;
    visible += c->atoms[other].visible ? 1 : 0;
    lengths.push_back(FBondDist(c, atom, static_cast<int32_t>(other)));
  }
  text += QString("\n\tBonds:\t%1 of %2 visible").arg(visible).arg(s.coordination);
  if (lengths.size() == 1) {
    text += QString("\n\tDistance:\t%1 Å").arg(Num(lengths[0]));
  } else if (lengths.size() >= 2) {
    float lo = 9.9e31f, hi = 0.0f;
    double sum = 0;
    for (float d : lengths) {
      lo = std::min(lo, d);
      hi = std::max(hi, d);
      sum += d;
    }
    const double mean = sum / double(lengths.size());
    if (hi - lo > 0.001f)
      text += QString("\n\tRange:\t%1–%2 Å\n\tMean Length:\t%3 Å").arg(Num(lo), Num(hi), Num(mean));
    else
      text += QString("\n\tDistance:\t%1 Å").arg(Num(mean));
    if (const std::optional<std::string> phrase = CoordinationDescriptionForSite(c, static_cast<int32_t>(a.site));
        phrase && !phrase->empty())
      text += QString("\n\tCoordination:\t%1").arg(QString::fromStdString(*phrase));
  }
  return text;
}

std::unique_ptr<QTextDocument> InfoStringForAtomInWindow(int32_t atom, WindowRef window, bool extended) {
  const CrystalRec *c = GetWindowCrystal(window);
  const QString plain = InfoPlainTextForAtom(c, atom, extended);
  if (plain.isEmpty())
    return nullptr;
  auto doc = std::make_unique<QTextDocument>();
  doc->setDocumentMargin(0);
  QFont body;
  body.setPointSizeF(11);
  QFont key = body;
  key.setBold(true);
  qreal widestKey = 0;
  for (const char *k : kKeys)
    widestKey = std::max(widestKey, QFontMetricsF(key).horizontalAdvance(QString::fromUtf8(k)));
  QTextCursor cursor(doc.get());
  const QStringList lines = plain.split('\n');
  // Title: bold 14 pt label, 12 pt rest, centred.
  QTextBlockFormat title;
  title.setAlignment(Qt::AlignHCenter);
  cursor.setBlockFormat(title);
  QTextCharFormat labelFormat;
  QFont labelFont;
  labelFont.setPointSizeF(14);
  labelFont.setBold(true);
  labelFormat.setFont(labelFont);
  QTextCharFormat titleFormat;
  QFont titleFont;
  titleFont.setPointSizeF(12);
  titleFormat.setFont(titleFont);
  const QString label = QString::fromLatin1(c->sites[c->atoms[atom].site].label);
  cursor.insertText(label, labelFormat);
  cursor.insertText(lines[0].mid(label.size()), titleFormat);
  QTextBlockFormat table;
  table.setAlignment(Qt::AlignLeft);
  table.setTabPositions({QTextOption::Tab(widestKey + 10, QTextOption::RightTab),
                         QTextOption::Tab(widestKey + 15, QTextOption::LeftTab)});
  QTextCharFormat bodyFormat, keyFormat;
  bodyFormat.setFont(body);
  keyFormat.setFont(key);
  for (int i = 1; i < lines.size(); ++i) {
    cursor.insertBlock(table, bodyFormat);
    const QStringList parts = lines[i].split('\t');
    if (parts.size() == 3) {
      cursor.insertText("\t", bodyFormat);
      cursor.insertText(parts[1], keyFormat);
      cursor.insertText("\t" + parts[2], bodyFormat);
    } else {
      cursor.insertText(lines[i], bodyFormat);
    }
  }
  doc->adjustSize();
  return doc;
}

QPointF GetInfoTipPositionForAtomInWindowWithText(int32_t atom, WindowRef window, const QTextDocument &text,
                                                  uint32_t *placement) {
  const CrystalRec *c = GetWindowCrystal(window);
  MainWindow *w = GetMainWindow(window);
  if (!ValidAtom(c, atom) || !w)
    return {};
  const QRect g = w->GraphPane()->geometry();
  // The atom's radius on screen: its hit radius stands for its drawn image.
  const double r = AtomHitRadius(c, static_cast<uint32_t>(atom));
  const AtomRecord &a = c->atoms[atom];
  const double x = std::clamp<double>(g.left() + a.pixel[0], g.left(), g.right());
  const QSizeF size = text.size();
  uint32_t code = 5;
  double y = g.top() + a.pixel[1] + r;
  if (g.top() + a.pixel[1] + r + size.height() + 33 + 20 > g.bottom()) {
    code = 2;
    y = g.top() + a.pixel[1] - r;
  }
  const double half = (size.width() + 20) / 2;
  if (x - half < g.left())
    code = code == 2 ? 3 : 6;
  else if (x + half > g.right())
    code = code == 2 ? 1 : 4;
  if (placement)
    *placement = code;
  return {x, y};
}

InfoTipWidget::InfoTipWidget(WindowRef parent, uint32_t atom) : QWidget(GetMainWindow(parent)->Content()) {
  setAttribute(Qt::WA_TranslucentBackground);
  setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
  rec_.atomIndex = atom;
  rec_.parentWindow = parent;
  rec_.showExtended = gSaveShowExtended;
  rec_.shortText = InfoStringForAtomInWindow(int32_t(atom), parent, false);
  rec_.extendedText = InfoStringForAtomInWindow(int32_t(atom), parent, true);
  auto make = [this](const char *title, const char *code, void (*report)(WindowRef, int32_t)) {
    auto *b = new QPushButton(title, this);
    b->setObjectName(code);
    b->resize(46, 20);
    connect(b, &QPushButton::clicked, this, [this, report] {
      // The atom may have gone since the tip was made.
      if (ValidAtom(GetWindowCrystal(rec_.parentWindow), rec_.atomIndex))
        report(rec_.parentWindow, int32_t(rec_.atomIndex));
    });
    return b;
  };
  rec_.siteButton = make("Site", "IT*S", FWriteSiteInfo);
  rec_.bondsButton = make("Bonds", "IT*B", FWriteBondInfo);
  rec_.anglesButton = make("Angles", "IT*A", FWriteAngleInfo);
}

QPainterPath InfoTipWidget::Outline() const {
  // Widget coordinates, y down: below the atom the pointer rises to the top.
  const QRectF b = QRectF(rect()).adjusted(8, 8, -8, -8);
  const bool above = Above(rec_.placement);
  const QRectF body = above ? b.adjusted(0, 0, 0, -12) : b.adjusted(0, 12, 0, 0);
  const double px = (rec_.placement == 3 || rec_.placement == 6)   ? b.left() + 30
                    : (rec_.placement == 1 || rec_.placement == 4) ? b.right() - 30
                                                                   : b.center().x();
  const QPointF tip(px, above ? b.bottom() : b.top());
  const double edge = above ? body.bottom() : body.top();
  QPainterPath path;
  path.moveTo(tip);
  path.lineTo(px - 10, edge);
  QPainterPath round;
  round.addRoundedRect(body, 8, 8);
  path.lineTo(px + 10, edge);
  path.closeSubpath();
  return round.united(path);
}

void InfoTipWidget::paintEvent(QPaintEvent *) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  p.setOpacity(0.95);
  const QPainterPath outline = Outline();
  // Shadow: 5 pixels below in this y-down space.
  p.fillPath(outline.translated(0, 5), QColor(0, 0, 0, 40));
  p.fillPath(outline, Qt::white);
  p.setPen(QPen(QColor::fromRgbF(0.7, 0.7, 0.7, 0.5), 1));
  p.drawPath(outline);
  QTextDocument *doc = rec_.showExtended ? rec_.extendedText.get() : rec_.shortText.get();
  if (!doc)
    return;
  const QRectF area = QRectF(rect()).adjusted(18, 15, -18, -15).translated(0, Above(rec_.placement) ? 0 : 12);
  // Disclosure triangle at the text's left edge.
  QPolygonF triangle;
  const QPointF o = area.topLeft() + QPointF(0, -1);
  if (rec_.showExtended)
    triangle << o + QPointF(3, 5) << o + QPointF(13, 5) << o + QPointF(8, 12);
  else
    triangle << o + QPointF(5, 3) << o + QPointF(12, 8) << o + QPointF(5, 13);
  p.setBrush(QColor(90, 90, 90));
  p.setPen(Qt::NoPen);
  p.drawPolygon(triangle);
  // Laid out across the whole text area, so that the centred title is
  // centred in it; measuring goes on with the text's own width.
  const qreal ownWidth = doc->textWidth();
  doc->setTextWidth(area.width());
  p.translate(area.topLeft());
  doc->drawContents(&p, QRectF(QPointF(), area.size()));
  doc->setTextWidth(ownWidth);
}

void InfoTipWidget::mousePressEvent(QMouseEvent *) { ToggleExtendedInfoWindow(this); }

void ResetBoundsForInfoWindow(InfoTipWidget *tip) {
  InfoTipRec &rec = tip->Rec();
  if (!rec.shortText || !rec.extendedText)
    return;
  const QPointF at = GetInfoTipPositionForAtomInWindowWithText(int32_t(rec.atomIndex), rec.parentWindow,
                                                               *rec.extendedText, &rec.placement);
  const QSizeF s = rec.shortText->size(), e = rec.extendedText->size();
  double w = s.width() + 40, h = s.height();
  if (rec.showExtended) {
    w = std::max(w, e.width());
    h = e.height();
  }
  w += 21;
  h += 27;
  if (rec.showExtended) {
    h += 27;
    w = std::max(w, 166.0);
  }
  double left = at.x() - w / 2;
  if (rec.placement == 1 || rec.placement == 4)
    left = at.x() + 30 - w;
  else if (rec.placement == 3 || rec.placement == 6)
    left = at.x() - 30;
  const double top = Above(rec.placement) ? at.y() - h : at.y();
  const QRect bounds = QRect(int(left), int(top), int(w), int(h)).adjusted(-8, -8, 8, 8);
  tip->setGeometry(bounds);
  const int first = bounds.width() / 2 - 73;
  const int bottom = bounds.height() - (Above(rec.placement) ? 27 : 15);
  QPushButton *buttons[] = {rec.siteButton, rec.bondsButton, rec.anglesButton};
  for (int i = 0; i < 3; ++i) {
    buttons[i]->move(first + 50 * i, bottom - 20);
    buttons[i]->setVisible(rec.showExtended);
  }
  tip->update();
}

void ToggleExtendedInfoWindow(InfoTipWidget *tip) {
  tip->Rec().showExtended = !tip->Rec().showExtended;
  gSaveShowExtended = tip->Rec().showExtended;
  ResetBoundsForInfoWindow(tip);
}

InfoTipWidget *GetWindowInfoTip(WindowRef window) {
  auto it = gTips.find(window);
  return it == gTips.end() ? nullptr : it->second;
}

void DestroyInfoTipOverlay(WindowRef window) {
  auto it = gTips.find(window);
  if (it == gTips.end())
    return;
  InfoTipWidget *tip = it->second;
  gTips.erase(it);
  tip->hide();
  tip->deleteLater();
}

InfoTipWidget *CreateInfoTipOverlay(WindowRef window, int32_t atom) {
  if (!GetMainWindow(window) || !ValidAtom(GetWindowCrystal(window), atom))
    return nullptr;
  DestroyInfoTipOverlay(window);
  auto *tip = new InfoTipWidget(window, uint32_t(atom));
  gTips[window] = tip;
  // The tip goes with its structure window.
  QObject::connect(tip, &QObject::destroyed, [window, tip] {
    auto it = gTips.find(window);
    if (it != gTips.end() && it->second == tip)
      gTips.erase(it);
  });
  ResetBoundsForInfoWindow(tip);
  tip->show();
  tip->raise();
  return tip;
}

void ToggleInfoWindowTitle(WindowRef window) {
  InfoTipWidget *tip = GetWindowInfoTip(window);
  if (!tip)
    return;
  gShowCoordinatesInTitle = !gShowCoordinatesInTitle;
  gSaveShowExtended = tip->Rec().showExtended;
  CreateInfoTipOverlay(window, int32_t(tip->Rec().atomIndex));
}

void RequestShowInfoTipForWindow(WindowRef window) {
  InfoTipWidget *tip = GetWindowInfoTip(window);
  if (!tip || tip->isVisible())
    return;
  // Shown a moment later, if the window still has a tip then.
  QTimer::singleShot(100, GetMainWindow(window), [window] {
    if (InfoTipWidget *t = GetWindowInfoTip(window))
      t->show();
  });
}

bool InfoTipModifiersChanged(WindowRef window, Qt::KeyboardModifiers modifiers) {
  InfoTipWidget *tip = GetWindowInfoTip(window);
  if (!tip || !tip->isVisible() || !(modifiers & Qt::ShiftModifier) || !(modifiers & Qt::AltModifier))
    return false;
  ToggleInfoWindowTitle(window);
  return true;
}

bool MouseOverInfoTipOverlay(WindowRef window, Point point) {
  InfoTipWidget *tip = GetWindowInfoTip(window);
  if (!tip || !tip->isVisible())
    return false;
  QRect r = tip->geometry().adjusted(8, 0, -8, 0);
  if (Above(tip->Rec().placement))
    r.setTop(r.top() + 8);
  else
    r.setBottom(r.bottom() - 8);
  return r.contains(point.h, point.v);
}

void InstallInfoTip() {
  gCreateInfoTipHook = [](WindowRef window, int32_t atom) { CreateInfoTipOverlay(window, atom); };
  gRemoveInfoTipHook = [](WindowRef window) { DestroyInfoTipOverlay(window); };
  gMouseOverInfoTipHook = [](WindowRef window, Point p) { return MouseOverInfoTipOverlay(window, p); };
}

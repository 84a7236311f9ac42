// The Depth tab: depth fading, perspective and stereo.
#include "DepthGraph.h"
#include "InspectorKit.h"
#include "ModelOptions.h"
#include "shell/Forms.h"

#include "Preferences.h"
#include "Utilities.h"
#include "render/Projection.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QSlider>

DepthOptions depthOptions;

namespace {
// The value fields, each with its slider.
constexpr StoredField kDistanceField{stored::kPerspectiveDistance};
constexpr StoredField kSeparationField{stored::kStereoAngle};
constexpr StoredField kStandoutField{stored::kStereoSeparation};
constexpr int kDistanceID = 822, kSeparationID = 833, kStandoutID = 837;
constexpr int kDistanceSlider = 824, kSeparationSlider = 836, kStandoutSlider = 835;
DepthZoomSaved gDepthZoomSaved;

QWidget *Pane() { return gModelOptions.panes[kDepthTab]; }
constexpr RGBColor kRoyalBlue{16705, 26985, 57825};
template <typename T = QWidget> T *Ctl(int id) { return FindControl<T>(Pane(), id); }

void SetDepthPreset(int item) {
  if (item == depthOptions.presetItem)
    return;
  depthOptions.presetItem = uint16_t(item);
  Ctl<QComboBox>(803)->setCurrentIndex(item - 1);
}
void UpdateDepthZoomSlider() {
  auto *slider = Ctl<QSlider>(810);
  const QSignalBlocker block(slider);
  const int value = DepthZoomSliderValue(depthOptions.curve, slider->maximum());
  slider->setEnabled(value >= 0 && depthOptions.fading);
  if (value >= 0)
    slider->setValue(value);
  gDepthZoomSaved = SaveDepthZoom(depthOptions.curve);
}
void UpdatePerspectiveOptions() {
  const QSignalBlocker block(Ctl(824));
  Ctl<QCheckBox>(821)->setChecked(depthOptions.perspective);
  ShowStoredValue(Ctl<QLineEdit>(kDistanceID), depthOptions.viewDistance,
                  MyTrimSprintf("%.0f", depthOptions.viewDistance) + " Å");
  Ctl<QSlider>(kDistanceSlider)->setValue(int(depthOptions.viewDistance));
}
void UpdateStereoOptions() {
  const QSignalBlocker b1(Ctl(835)), b2(Ctl(836));
  Ctl<QCheckBox>(831)->setChecked(depthOptions.stereo);
  SetPopupValue(Ctl<QComboBox>(832), int(depthOptions.stereoMode));
  ShowStoredValue(Ctl<QLineEdit>(kSeparationID), depthOptions.angularSeparation,
                  MyTrimSprintf("%.1f", depthOptions.angularSeparation) + "°");
  ShowStoredValue(Ctl<QLineEdit>(kStandoutID), depthOptions.standout, MyTrimSprintf("%.1f", depthOptions.standout));
  Ctl<QSlider>(kStandoutSlider)->setValue(int(depthOptions.standout));
  Ctl<QSlider>(kSeparationSlider)->setValue(int(depthOptions.angularSeparation));
}
void EnableFadingOptions(bool on) {
  EnableControls(Pane(), {802, 803, 809, 804, 805, 806, 807, 808, 811}, on);
  UpdateDepthZoomSlider();
}
// The captions 826, 838 and 839 name the distance, separation and standout
// rows and follow them.
void EnablePerspectiveOptions(bool on) { EnableControls(Pane(), {822, 824, 826}, on); }
void EnableStereoOptions(bool on) {
  EnableControls(Pane(), {832, 833, 836, 835, 837, 838, 839}, on);
  EnableControls(Pane(), {835}, on && GetPopupValue(Ctl<QComboBox>(832)) == 1);
}

void CurveChanged() {
  SetDepthPreset(kDepthCustomItem);
  Ctl(802)->update();
  UpdateDepthZoomSlider();
  DoApplyDepthOptions();
}

OSStatus DepthOptionsEventHandler(uint32_t command) {
  switch (command) {
  case FourCharsToLong("mFad"): {
    const int item = GetPopupValue(Ctl<QComboBox>(803));
    depthOptions.presetItem = uint16_t(item);
    if (item < 1 || item > kDepthPresetCount)
      return kNoErr;
    depthOptions.curve = DepthPresetCurve(item);
    Ctl(802)->update();
    UpdateDepthZoomSlider();
    DoApplyDepthOptions();
    return kNoErr;
  }
  case FourCharsToLong("tgDf"):
    depthOptions.fading = !depthOptions.fading;
    EnableFadingOptions(depthOptions.fading);
    Ctl(802)->update();
    DoApplyDepthOptions();
    return kEventNotHandledErr;
  case FourCharsToLong("tgPr"):
    depthOptions.perspective = !depthOptions.perspective;
    EnablePerspectiveOptions(depthOptions.perspective);
    DoApplyDepthOptions();
    return kEventNotHandledErr;
  case FourCharsToLong("tgSt"):
    depthOptions.stereo = !depthOptions.stereo;
    EnableStereoOptions(depthOptions.stereo);
    ToggleStereo(FrontGraphWindow());
    return kEventNotHandledErr;
  case FourCharsToLong("StMo"):
    depthOptions.stereoMode = uint32_t(GetPopupValue(Ctl<QComboBox>(832)));
    EnableStereoOptions(true);
    SwitchStereoMode(FrontGraphWindow());
    return kEventNotHandledErr;
  default: return kEventNotHandledErr;
  }
}

DepthCurve CurveOf(const CrystalRec &c) {
  return DepthCurve{c.upperMinOpacity, c.upperBaseZ, c.upperPlateauZ, c.lowerMinOpacity, c.lowerBaseZ, c.lowerPlateauZ};
}
void PutCurve(CrystalRec &c, const DepthCurve &k) {
  c.upperMinOpacity = k.upperMinOpacity;
  c.upperBaseZ = k.upperBaseZ;
  c.upperPlateauZ = k.upperPlateauZ;
  c.lowerMinOpacity = k.lowerMinOpacity;
  c.lowerBaseZ = k.lowerBaseZ;
  c.lowerPlateauZ = k.lowerPlateauZ;
}

// The preview strip: the fading curve applied to a royal blue bar over the
// structure's background, the front on the left.
void DrawDepthPreview(QPainter &p) {
  CrystalRec *c = gModelOptions.crystal;
  QWidget *strip = Ctl(809);
  if (!c || !strip)
    return;
  const QRect r = strip->rect().adjusted(3, 0, -3, 0);
  auto qcolor = [](RGBColor k) { return QColor::fromRgb(k.red >> 8, k.green >> 8, k.blue >> 8); };
  if (depthOptions.fading) {
    // The curve is the record's for the drawing only.
    const uint8_t fading = c->depthFading;
    const DepthCurve shown = CurveOf(*c);
    c->depthFading = 1;
    PutCurve(*c, depthOptions.curve);
    p.fillRect(r, qcolor(c->backgroundColor));
    const int n = r.width();
    for (int i = 0; i < n; i++) {
      RGBColor shaded;
      float opacity = 1.0f;
      DepthShading(c, n > 1 ? 1.0f - float(i) / float(n - 1) : 1.0f, kRoyalBlue, shaded, opacity);
      QColor colour = qcolor(shaded);
      colour.setAlphaF(std::clamp(opacity, 0.0f, 1.0f));
      p.fillRect(QRect(r.left() + i, r.top() + 5, 1, r.height() - 11), colour);
    }
    p.setPen(QColor(204, 204, 204));
    p.drawLine(r.left(), r.top() + 4, r.right(), r.top() + 4);
    p.drawLine(r.left(), r.bottom() - 4, r.right(), r.bottom() - 4);
    c->depthFading = fading;
    PutCurve(*c, shown);
  } else {
    p.fillRect(r, QColor(221, 221, 221));
  }
  p.setPen(QColor(128, 128, 128));
  p.drawRect(r.adjusted(0, 0, -1, -1));
}

} // namespace

// ---- The graph --------------------------------------------------------------------

DepthGraph::DepthGraph(QWidget *parent) : QWidget(parent) { setMouseTracking(true); }

void DepthGraph::paintEvent(QPaintEvent *) {
  QPainter p(this);
  p.fillRect(rect(), palette().window());
  const QRect g = GraphRect();
  p.fillRect(g, Qt::white);
  p.setRenderHint(QPainter::Antialiasing);
  const bool on = isEnabled();
  p.setOpacity(on ? 1.0 : 0.2);
  for (auto [steps, colour] : {std::pair{20, QColor::fromRgbF(0.8667f, 0.8667f, 1.0f)},
                               std::pair{5, QColor::fromRgbF(0.7333f, 0.7333f, 1.0f)}}) {
    p.setPen(QPen(colour, 1));
    for (int i = 0; i <= steps; i++) {
      const double x = g.left() + double(g.width() - 1) * i / steps, y = g.top() + double(g.height() - 1) * i / steps;
      p.drawLine(QPointF(x, g.top()), QPointF(x, g.bottom()));
      p.drawLine(QPointF(g.left(), y), QPointF(g.right(), y));
    }
  }
  if (!curve_)
    return;
  QPolygonF line;
  for (int h = 0; h < 6; h++)
    line << DepthHandlePoint(*curve_, g, h);
  QPen pen(QColor(0, 0, 0, 77), 1.5);
  pen.setJoinStyle(Qt::BevelJoin);
  p.setPen(pen);
  p.drawPolyline(line.translated(1, 1));
  if (on) {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 77));
    for (const QPointF &pt : line)
      p.drawEllipse(pt + QPointF(1, 1), kDepthHandleRadius, kDepthHandleRadius);
  }
  p.setPen(QPen(Qt::red, 1));
  p.setBrush(Qt::NoBrush);
  p.drawPolyline(line);
  if (on) {
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::red);
    for (const QPointF &pt : line)
      p.drawEllipse(pt, kDepthHandleRadius, kDepthHandleRadius);
  }
}

void DepthGraph::mousePressEvent(QMouseEvent *event) {
  handle_ = curve_ && isEnabled() ? HitDepthHandle(*curve_, GraphRect(), event->position().toPoint()) : -1;
}

void DepthGraph::mouseMoveEvent(QMouseEvent *event) {
  const QRect g = GraphRect();
  const QPoint pos = event->position().toPoint();
  if (handle_ < 0 || !(event->buttons() & Qt::LeftButton)) {
    // The cross over a handle shows where a drag would take.
    const bool over = curve_ && isEnabled() && HitDepthHandle(*curve_, g, pos) >= 0;
    setCursor(over ? Qt::CrossCursor : Qt::ArrowCursor);
    return;
  }
  const float opacity = float(g.bottom() - pos.y()) / float(std::max(1, g.bottom() - g.top()));
  const float z = float(g.right() - pos.x()) / float(std::max(1, g.right() - g.left()));
  if (DragDepthHandle(*curve_, handle_, z, opacity) && changed_)
    changed_();
}

void DepthGraph::mouseReleaseEvent(QMouseEvent *) { handle_ = -1; }

// ---- The tab ----------------------------------------------------------------------

void InitDepthOptions() {
  QWidget *pane = Pane();
  InstallHandDrawnList(Ctl(809), {DrawDepthPreview, {}, {}, {}});
  auto *zoom = Ctl<QSlider>(810);
  zoom->setMaximum(std::max(1, zoom->width()));
  QObject::connect(zoom, &QSlider::valueChanged, pane, [zoom](int value) {
    SetDepthZoomAmount(depthOptions.curve, gDepthZoomSaved, 1.0f - float(value) / float(zoom->maximum()));
    Ctl(802)->update();
    DoApplyDepthOptions();
  });
  auto *presets = Ctl<QComboBox>(803);
  presets->clear();
  for (int row = 1; row <= kDepthPresetCount; row++)
    presets->addItem(DepthPresetName(row));
  presets->insertSeparator(kDepthPresetCount);
  presets->addItem("Custom");
  Ctl<DepthGraph>(802)->SetCurve(&depthOptions.curve, CurveChanged);
  SetSliderLimits(Ctl(kDistanceSlider), kDistanceField);
  SetSliderLimits(Ctl(kSeparationSlider), kSeparationField);
  SetSliderLimits(Ctl(kStandoutSlider), kStandoutField);
  QObject::connect(Ctl<QSlider>(kDistanceSlider), &QSlider::valueChanged, pane, [](int v) {
    depthOptions.viewDistance = float(v);
    UpdatePerspectiveOptions();
    DoApplyDepthOptions();
  });
  QObject::connect(Ctl<QSlider>(kSeparationSlider), &QSlider::valueChanged, pane, [](int v) {
    depthOptions.angularSeparation = float(v);
    UpdateStereoOptions();
    DoApplyDepthOptions();
  });
  QObject::connect(Ctl<QSlider>(kStandoutSlider), &QSlider::valueChanged, pane, [](int v) {
    depthOptions.standout = float(v);
    UpdateStereoOptions();
    DoApplyDepthOptions();
  });
  // Return shows the clamped values before the window applies every tab.
  for (int id : {kDistanceID, kSeparationID, kStandoutID})
    QObject::connect(Ctl<QLineEdit>(id), &QLineEdit::returnPressed, pane, [] {
      ExtractDepthOptions();
      UpdatePerspectiveOptions();
      UpdateStereoOptions();
    });
  ConnectPaneCommands(pane, DepthOptionsEventHandler);
}

void FillDepthOptions(const CrystalRec &c) {
  DepthOptions &o = depthOptions;
  o.fading = c.depthFading;
  o.curve = CurveOf(c);
  o.perspective = c.perspective;
  o.viewDistance = c.viewDistance;
  o.stereo = c.stereoOn;
  o.stereoMode = uint32_t(c.stereoMode);
  o.angularSeparation = c.stereoAngle;
  o.standout = c.stereoSeparation;
}

void UpdateDepthOptions() {
  if (!Pane())
    return;
  Ctl(809)->update();
  Ctl<QCheckBox>(801)->setChecked(depthOptions.fading);
  depthOptions.presetItem = 0; // force the pop-up to follow
  SetDepthPreset(MatchDepthPreset(depthOptions.curve));
  UpdatePerspectiveOptions();
  UpdateStereoOptions();
  EnableFadingOptions(depthOptions.fading);
  EnablePerspectiveOptions(depthOptions.perspective);
  EnableStereoOptions(depthOptions.stereo);
  Ctl(802)->update();
}

bool ExtractDepthOptions() {
  if (!Pane())
    return false;
  DepthOptions &o = depthOptions;
  o.viewDistance = StoredFieldValue(Ctl<QLineEdit>(kDistanceID), kDistanceField);
  o.angularSeparation = StoredFieldValue(Ctl<QLineEdit>(kSeparationID), kSeparationField);
  o.standout = StoredFieldValue(Ctl<QLineEdit>(kStandoutID), kStandoutField);
  return true;
}

void ApplyDepthOptions() {
  CrystalRec *c = gModelOptions.crystal;
  if (!c)
    return;
  ExtractDepthOptions();
  const DepthOptions &o = depthOptions;
  PutCurve(*c, o.curve);
  c->depthFading = o.fading;
  c->perspective = o.perspective;
  c->viewDistance = o.viewDistance;
  c->stereoOn = o.stereo;
  c->stereoMode = int8_t(o.stereoMode);
  c->stereoAngle = o.angularSeparation;
  c->stereoSeparation = o.standout;
}

void DoApplyDepthOptions() {
  if (!ModelOptionsCrystal())
    return;
  ApplyDepthOptions();
  ReplotAfterModelOptions(false, false);
  if (QWidget *preview = Ctl(809))
    preview->update();
}

void SaveDepthOptionsAsDefaults() {
  const DepthOptions &o = depthOptions;
  PrefsRecord &p = gPrefs;
  p.upperMinOpacity = o.curve.upperMinOpacity;
  p.upperBaseZ = o.curve.upperBaseZ;
  p.upperPlateauZ = o.curve.upperPlateauZ;
  p.lowerMinOpacity = o.curve.lowerMinOpacity;
  p.lowerBaseZ = o.curve.lowerBaseZ;
  p.lowerPlateauZ = o.curve.lowerPlateauZ;
  p.depthFading = o.fading;
  p.viewDistance = o.viewDistance;
  p.perspective = o.perspective;
  p.stereoAngle = o.angularSeparation;
  p.stereoSeparation = o.standout;
}

#include "Lighting.h"

#include <QMouseEvent>
#include <QPainter>
#include <QRadialGradient>
#include <algorithm>
#include <cmath>

namespace {
constexpr double kDegrees = 180.0 / M_PI;
constexpr float kFlatLight = 0.1f; // below this in-plane length the bearing reads 0
constexpr int kDimpleRadius = 6;
} // namespace

float WrapBearing(float b) {
  if (std::isnan(b))
    return 0.0f;
  if (b < 0.0f)
    return b + 360.0f * float(1 + int64_t(std::fabs(b)) / 360);
  if (b > 360.0f)
    return b - 360.0f * float(int64_t(b) / 360);
  return b;
}

LightVector LightDirectionFromAngles(float bearing, float elevation) {
  const double e = std::clamp(double(std::isnan(elevation) ? 0.0f : elevation), 0.0, double(kMaxLightElevation)) / kDegrees;
  const float b = WrapBearing(bearing);
  double x, y;
  // The axes are exact so that 90 degrees gives (0, 1, 0).
  if (b == 0.0f || b == 360.0f) {
    x = 1, y = 0;
  } else if (b == 90.0f) {
    x = 0, y = 1;
  } else if (b == 180.0f) {
    x = -1, y = 0;
  } else if (b == 270.0f) {
    x = 0, y = -1;
  } else {
    x = std::cos(b / kDegrees);
    y = std::sin(b / kDegrees);
  }
  return LightVector{float(x * std::cos(e)), float(y * std::cos(e)), float(std::sin(e))};
}

void AnglesFromLightDirection(const LightVector &d, float *bearing, float *elevation) {
  const double n = std::sqrt(double(d[0]) * d[0] + double(d[1]) * d[1] + double(d[2]) * d[2]);
  if (!(n > 0.0) || !std::isfinite(n)) {
    *bearing = 0.0f;
    *elevation = kMaxLightElevation;
    return;
  }
  const double x = d[0] / n, y = d[1] / n, z = std::clamp(d[2] / n, -1.0, 1.0);
  *elevation = float(std::asin(z) * kDegrees);
  const double flat = std::sqrt(x * x + y * y);
  if (flat <= kFlatLight) {
    *bearing = 0.0f;
    return;
  }
  double b = std::acos(std::clamp(x / flat, -1.0, 1.0)) * kDegrees;
  if (y < 0.0)
    b = 360.0 - b;
  *bearing = float(b);
}

LightVector TrackballDirection(int dx, int dy, float r) {
  double dz = 0.0;
  const double rest = double(r) * r - double(dx) * dx - double(dy) * dy;
  if (std::abs(dx) <= r && std::abs(dy) <= r && std::trunc(rest) > 0.0)
    dz = std::trunc(std::sqrt(std::trunc(rest)));
  const double n = std::sqrt(double(dx) * dx + double(dy) * dy + dz * dz);
  if (n == 0.0)
    return LightVector{0.0f, 0.0f, 1.0f};
  return LightVector{float(dx / n), float(dy / n), float(dz / n)};
}

int PhongToSlider(int phong) { return int(std::log10(double(std::clamp(phong, kMinPhong, kMaxPhong))) * kPhongSliderScale); }

int PhongFromSlider(int value) {
  return std::clamp(int(std::pow(10.0, value * 0.003)), kMinPhong, kMaxPhong);
}

Trackball::Trackball(QWidget *parent) : QWidget(parent) {}

float Trackball::Radius() const { return float(std::min(width(), height())) / 2.0f - kDimpleRadius; }

void Trackball::paintEvent(QPaintEvent *) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const QPointF c = Centre();
  const float r = Radius() + kDimpleRadius;
  LightVector l = light_ ? *light_ : LightVector{0, 0, 1};
  QRadialGradient shade(c, r, c + QPointF(l[0] * r * 0.6, -l[1] * r * 0.6));
  shade.setColorAt(0, QColor(250, 250, 250));
  shade.setColorAt(1, QColor(90, 90, 100));
  p.setBrush(shade);
  p.setPen(QPen(Qt::darkGray, 1));
  p.drawEllipse(c, r, r);
  const QPointF dimple(std::lround(Radius() * l[0] + width() / 2), std::lround(height() / 2 - Radius() * l[1]));
  p.setBrush(QColor(255, 220, 80));
  p.drawEllipse(dimple, kDimpleRadius, kDimpleRadius);
}

void Trackball::Track(QPoint point) {
  if (!light_)
    return;
  *light_ = TrackballDirection(point.x() - Centre().x(), Centre().y() - point.y(), Radius());
  update();
  if (changed_)
    changed_();
}

void Trackball::mousePressEvent(QMouseEvent *event) {
  tracking_ = isEnabled();
  if (tracking_)
    Track(event->position().toPoint());
}
void Trackball::mouseMoveEvent(QMouseEvent *event) {
  if (tracking_ && (event->buttons() & Qt::LeftButton))
    Track(event->position().toPoint());
}
void Trackball::mouseReleaseEvent(QMouseEvent *) { tracking_ = false; }

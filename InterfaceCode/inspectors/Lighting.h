// The light of the Reflectance tab: bearing and elevation, the trackball,
// and the logarithmic Phong slider, as pure functions.
//
// The bearing is the light's angle in the screen plane from +x (right)
// towards +y (up); the elevation its angle above the screen towards the
// viewer. The direction is (cos E cos B, cos E sin B, sin E).
#pragma once

#include "StoredLimits.h"

#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>

using LightVector = std::array<float, 3>;

inline constexpr int kMinPhong = int(stored::kPhongExponent.low), kMaxPhong = int(stored::kPhongExponent.high);
// The elevation runs from the screen plane to straight at the viewer.
inline constexpr float kMaxLightElevation = 90.0f;
inline constexpr float kPhongSliderScale = 333.333333f; // slider steps per decade

// Negative bearings and those above 360 come back into 0..360 (360 stays).
float WrapBearing(float bearing);
LightVector LightDirectionFromAngles(float bearing, float elevation);
// Bearing and elevation (degrees) of a direction; a direction that is not a
// unit vector is normalised first, and a zero one reads as straight at the
// viewer.
void AnglesFromLightDirection(const LightVector &direction, float *bearing, float *elevation);
// The light for a point on the trackball of radius r, offsets from its
// centre (dy up); outside the outline the light lies in the screen plane.
// The centre itself gives (0, 0, 1).
LightVector TrackballDirection(int dx, int dy, float r);
int PhongToSlider(int phong);
int PhongFromSlider(int value);

// The trackball: a lit sphere with a dimple where the light comes from; a
// press and drag move the light.
class Trackball : public QWidget {
  Q_OBJECT
public:
  explicit Trackball(QWidget *parent = nullptr);
  void SetLight(LightVector *light, std::function<void()> changed) {
    light_ = light;
    changed_ = std::move(changed);
    update();
  }
  float Radius() const; // the reach of the dimple's centre
  QPoint Centre() const { return QPoint(width() / 2, height() / 2); }

protected:
  void paintEvent(QPaintEvent *event) override;
  void mousePressEvent(QMouseEvent *event) override;
  void mouseMoveEvent(QMouseEvent *event) override;
  void mouseReleaseEvent(QMouseEvent *event) override;

private:
  void Track(QPoint point);
  LightVector *light_ = nullptr;
  std::function<void()> changed_;
  bool tracking_ = false;
};

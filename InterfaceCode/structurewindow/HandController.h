// The hand controller: a device that watches the user's hands and turns
// their movements into rotations and zooms of the front structure window.
//
// The device's driver calls the listener on a thread of its own. The
// listener gathers small movements there and posts them, once they are big
// enough, as 'leap' events to the main thread; the window merges every
// event waiting into one rotation and zoom.
//
// No driver for such a device exists here: the program runs with the
// "no controller" device, which never connects and never calls back. Tests
// install a device of their own and feed the listener frames.
#pragma once

#include "HostServices.h"

#include <QEvent>
#include <mutex>
#include <vector>

// What the listener needs to know of one frame of the device.
struct HandFrame {
  // Fingers held out by each hand seen.
  std::vector<int> fingersPerHand;
  // Since the frame before: how likely the movement is a rotation or a
  // scaling, the rotation about the screen axes (radians) and the scale.
  float rotationProbability = 0;
  float scaleProbability = 0;
  float rotationAngle[3] = {0, 0, 0};
  float scaleFactor = 1;
};

class HandFrameListener;

// A hand controller device.
class HandController {
public:
  virtual ~HandController() = default;
  virtual bool IsConnected() const = 0;
  virtual void AddListener(HandFrameListener *listener) = 0;
  virtual void RemoveListener(HandFrameListener *listener) = 0;
};

// The device that is never there.
class NoHandController : public HandController {
public:
  bool IsConnected() const override { return false; }
  void AddListener(HandFrameListener *) override {}
  void RemoveListener(HandFrameListener *) override {}
};

inline constexpr int kLeapEventRotate = 1;
inline constexpr int kLeapEventScale = 2;
// Degrees per radian and the gain applied to hand rotations.
inline constexpr float kLeapDegreesPerRadian = 57.29578f;
inline constexpr float kLeapRotationGain = 1.3f;
// Movements gather until they reach these.
inline constexpr float kLeapMinRotation = 0.1f;
inline constexpr float kLeapMinScaleChange = 0.01f;

// One gathered movement.
struct LeapEventData {
  int kind = 0; // kLeapEventRotate or kLeapEventScale
  float xrot = 0, yrot = 0, zrot = 0;
  float scal = 1;
};

// The 'leap' event: a registered event type posted to the structure window.
class LeapEvent : public QEvent {
public:
  static QEvent::Type EventType();
  explicit LeapEvent(const LeapEventData &movement) : QEvent(EventType()), data(movement) {}
  LeapEventData data;
};

// The listener of the front structure window.
class HandFrameListener {
public:
  explicit HandFrameListener(WindowRef window) : window_(window) {}
  virtual ~HandFrameListener() = default;
  WindowRef Window() const { return window_; }
  void OnConnect();
  // On the device's thread: the newest frame.
  void OnFrame(const HandFrame &frame);
  bool SendRotate(const HandFrame &frame, float minimumProbability);
  bool SendScale(const HandFrame &frame, float minimumProbability);

private:
  void Post(const LeapEventData &data);
  WindowRef window_;
  float x_ = 0, y_ = 0, z_ = 0;
  float scale_ = 1;
};

// The device in use; the program starts with `NoHandController`. Answers
// the previous one (the caller keeps ownership).
HandController *SetHandController(HandController *controller);
bool IsLeapMotionConnected();
void AssociateFrameListenerWithWindow(WindowRef window);
void DissociateFrameListenerFromWindow();
// The listener now attached; null for none.
HandFrameListener *CurrentFrameListener();

// Main thread: merges the event and every other 'leap' event waiting for
// the window into one `DoCombinedScaleRotate`.
void HandleLeapEvents(WindowRef window, const LeapEvent &event);
void DoCombinedScaleRotate(WindowRef window, float x, float y, float z, float scale);

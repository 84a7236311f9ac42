#include "HandController.h"

#include "MainWindow.h"
#include "WindowInput.h"

#include "PaneDrawing.h"
#include "StructureArrays.h"
#include "ViewOrientation.h"
#include "render/PlotPipeline.h"
#include "window/MainWindowData.h"

#include <QCoreApplication>
#include <cmath>
#include <deque>
#include <memory>

namespace {

NoHandController gNoController;
HandController *gController = &gNoController;
std::unique_ptr<HandFrameListener> gListener;

// Movements posted and not yet merged, oldest first. The device's thread
// appends; the main thread takes them all at the first 'leap' event.
std::mutex gPendingMutex;
std::deque<std::pair<WindowRef, LeapEventData>> gPending;

} // namespace

QEvent::Type LeapEvent::EventType() {
  static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
}

HandController *SetHandController(HandController *controller) {
  HandController *previous = gController;
  if (gListener)
    gController->RemoveListener(gListener.get());
  gController = controller ? controller : &gNoController;
  if (gListener)
    gController->AddListener(gListener.get());
  return previous == &gNoController ? nullptr : previous;
}

bool IsLeapMotionConnected() { return gController->IsConnected(); }

void AssociateFrameListenerWithWindow(WindowRef window) {
  DissociateFrameListenerFromWindow();
  gListener = std::make_unique<HandFrameListener>(window);
  gController->AddListener(gListener.get());
}

void DissociateFrameListenerFromWindow() {
  if (!gListener)
    return;
  // The device lets go of the listener before it is deleted.
  gController->RemoveListener(gListener.get());
  gListener.reset();
}

HandFrameListener *CurrentFrameListener() { return gListener.get(); }

void HandFrameListener::OnConnect() {
  x_ = y_ = z_ = 0;
  scale_ = 1;
}

void HandFrameListener::OnFrame(const HandFrame &frame) {
  int hands = 0;
  for (int fingers : frame.fingersPerHand)
    if (fingers >= 2)
      ++hands;
  if (hands == 0)
    return;
  if (hands == 1 || frame.rotationProbability >= frame.scaleProbability)
    SendRotate(frame, 0);
  else
    SendScale(frame, 0);
}

bool HandFrameListener::SendRotate(const HandFrame &frame, float minimumProbability) {
  if (frame.rotationProbability < minimumProbability)
    return false;
  // About the negative screen axes, in degrees, with the gain.
  x_ += -frame.rotationAngle[0] * kLeapDegreesPerRadian * kLeapRotationGain;
  y_ += -frame.rotationAngle[1] * kLeapDegreesPerRadian * kLeapRotationGain;
  z_ += -frame.rotationAngle[2] * kLeapDegreesPerRadian * kLeapRotationGain;
  if (std::fabs(x_) < kLeapMinRotation && std::fabs(y_) < kLeapMinRotation && std::fabs(z_) < kLeapMinRotation)
    return true;
  LeapEventData data;
  data.kind = kLeapEventRotate;
  data.xrot = x_, data.yrot = y_, data.zrot = z_;
  Post(data);
  x_ = y_ = z_ = 0;
  return true;
}

bool HandFrameListener::SendScale(const HandFrame &frame, float minimumProbability) {
  if (frame.scaleProbability < minimumProbability)
    return false;
  scale_ += frame.scaleFactor - 1.0f;
  if (std::fabs(1.0f - scale_) < kLeapMinScaleChange)
    return false;
  LeapEventData data;
  data.kind = kLeapEventScale;
  data.scal = scale_;
  Post(data);
  scale_ = 1;
  return true;
}

void HandFrameListener::Post(const LeapEventData &data) {
  auto *target = static_cast<QObject *>(static_cast<MainWindow *>(window_->native));
  {
    std::lock_guard lock(gPendingMutex);
    gPending.emplace_back(window_, data);
  }
  QCoreApplication::postEvent(target, new LeapEvent(data));
}

void HandleLeapEvents(WindowRef window, const LeapEvent &) {
  float x = 0, y = 0, z = 0, scale = 1;
  bool any = false;
  {
    // The event in hand and every one still queued behind it; their own
    // events then find nothing left.
    std::lock_guard lock(gPendingMutex);
    for (auto it = gPending.begin(); it != gPending.end();) {
      if (it->first != window) {
        ++it;
        continue;
      }
      const LeapEventData &d = it->second;
      if (d.kind == kLeapEventRotate) {
        x += d.xrot, y += d.yrot, z += d.zrot;
      } else if (d.kind == kLeapEventScale) {
        scale += d.scal - 1.0f;
      }
      any = true;
      it = gPending.erase(it);
    }
  }
  if (any)
    DoCombinedScaleRotate(window, x, y, z, scale);
}

void DoCombinedScaleRotate(WindowRef window, float x, float y, float z, float s) {
  CrystalRec *crystal = GetWindowCrystal(window);
  if (!crystal)
    return;
  const bool rotation = x != 0 || y != 0 || z != 0;
  if (s == 1.0f && !rotation)
    return;
  if (s == 1.0f) {
    RotateAndPlot(window, x, y, z);
    return;
  }
  // The same scale bounds as the wheel's.
  const bool accepted = ChangeInteractiveScale(window, crystal->plotScale * s);
  if (!rotation && !accepted)
    return;
  gTrackBallRotn = 1;
  if (rotation) {
    const float angles[3] = {x, y, z};
    gRotateSelection ? RotateSelectionXYZ(crystal, angles) : RotateXYZ(crystal, angles);
  }
  if (IsWindowFileOpen(window))
    NewPlot(window, false, true);
  else
    DrawGraphPane(window);
  gTrackBallRotn = 0;
}

// A hand controller that is always connected and hands its frames to the
// listener the program attaches. Header only.
#pragma once

#include "structurewindow/HandController.h"

class FakeHandController : public HandController {
public:
  bool IsConnected() const override { return true; }
  void AddListener(HandFrameListener *l) override { listener = l; }
  void RemoveListener(HandFrameListener *l) override {
    if (listener == l)
      listener = nullptr;
  }
  HandFrameListener *listener = nullptr;
};

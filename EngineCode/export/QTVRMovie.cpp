#include "export/QTVRMovie.h"

#include "Alerts.h"
#include "HostServices.h"
#include "ViewOrientation.h"
#include "export/MovieRecording.h"
#include "export/VideoRecorder.h"
#include "render/OffScreen.h"
#include "render/PlotPipeline.h"
#include "render/RenderGlobals.h"
#include "window/MainWindowData.h"

#include <cmath>
#include <cstring>

using ovmovie::AtomBuilder;
using ovmovie::FourCC;

bool gQTVRStopRequested = false;

namespace {

constexpr double kRadiansPerDegree = 0.0174532925199;

uint32_t SerializedSize(const QTAtom &a) {
  uint32_t size = 20 + uint32_t(a.data.size());
  for (const QTAtom &c : a.children)
    size += SerializedSize(c);
  return size;
}

void Serialize(AtomBuilder &b, const QTAtom &a) {
  b.U32(SerializedSize(a));
  b.U32(a.type);
  b.U32(a.id);
  b.U16(0);
  b.U16(uint32_t(a.children.size()));
  b.U32(0);
  b.Append(a.data);
  for (const QTAtom &c : a.children)
    Serialize(b, c);
}

void Float(AtomBuilder &b, float v) {
  uint32_t u;
  std::memcpy(&u, &v, 4);
  b.U32(u);
}

std::vector<uint8_t> PanoImaging(uint32_t mode, uint32_t quality, uint32_t directDraw) {
  AtomBuilder b;
  b.U16(2);
  b.U16(0);
  b.U32(mode);
  b.U32(7); // correction, quality and direct draw are valid
  b.U32(2); // full correction
  b.U32(quality);
  b.U32(directDraw);
  b.Zeros(32); // imaging properties and reserved
  return std::move(b.bytes);
}

void Rotate(WindowRef window, float x, float y, float z) {
  const float angles[3] = {x, y, z};
  RotateXYZ(GetWindowCrystal(window), angles);
}

} // namespace

std::vector<uint8_t> SerializeQTAtomContainer(const std::vector<QTAtom> &rootChildren) {
  QTAtom root;
  root.type = FourCC("sean");
  root.children = rootChildren;
  AtomBuilder b;
  b.Zeros(12);
  Serialize(b, root);
  return std::move(b.bytes);
}

float QTVRPanStep(float startH, float endH, uint32_t columns) {
  const float range = std::fabs(endH - startH);
  if (startH == 0 && (endH == 0 || endH == 360))
    return columns ? range / float(columns) : 0;
  return columns >= 2 ? range / float(columns - 1) : 0;
}

bool MakeQTVRMovie() {
  CreateMovieRecord &m = createMovie;
  if (!m.movie || m.movie->SampleCount(0) == 0)
    return false;
  const QTVROptions &o = gQTVROptions;
  const uint32_t duration = uint32_t(m.movie->TrackDuration(0));
  const int width = m.movie->Track(0).width, height = m.movie->Track(0).height;

  // The VR world: header, imaging parent with the motion and static
  // imaging, and the node parent with the one object node.
  AtomBuilder world;
  world.U16(2);
  world.U16(0);
  world.U32(0); // name atom
  world.U32(1); // default node
  world.Zeros(12);
  AtomBuilder location;
  location.U16(2);
  location.U16(0);
  location.U32(FourCC("obje"));
  location.Zeros(16);
  QTAtom imaging{FourCC("imgp"), 1, {}, {{FourCC("impn"), 1, PanoImaging(2, 256, 1), {}},
                                        {FourCC("impn"), 2, PanoImaging(1, 768, 0), {}}}};
  QTAtom nodes{FourCC("vrnp"), 1, {}, {{FourCC("vrni"), 1, {}, {{FourCC("nloc"), 1, location.bytes, {}}}}}};
  const std::vector<uint8_t> worldContainer =
      SerializeQTAtomContainer({{FourCC("vrsc"), 1, world.bytes, {}}, imaging, nodes});
  AtomBuilder vrDescription;
  vrDescription.U32(16 + uint32_t(worldContainer.size()));
  vrDescription.U32(FourCC("qtvr"));
  vrDescription.Zeros(6);
  vrDescription.U16(0); // data reference index: the published header wants 0
  vrDescription.Append(worldContainer);

  AtomBuilder node;
  node.U16(2);
  node.U16(0);
  node.U32(FourCC("obje"));
  node.U32(1); // node ID
  node.Zeros(16);
  const std::vector<uint8_t> nodeSample = SerializeQTAtomContainer({{FourCC("ndhd"), 1, node.bytes, {}}});

  AtomBuilder object;
  object.U16(2);
  object.U16(0);
  object.U16(1); // movie type
  object.U16(1); // view states
  object.U16(1); // default view state
  object.U16(1); // mouse-down view state
  object.U32(m.frameDuration);
  object.U32(o.columns);
  object.U32(o.rows);
  const float panRange = o.endHPan - o.startHPan;
  Float(object, panRange); // mouse motion scale
  Float(object, o.startHPan);
  Float(object, o.endHPan);
  Float(object, o.startHPan + 0.5f * panRange); // default pan, within the range
  Float(object, o.startVPan);
  Float(object, o.endVPan);
  Float(object, o.endVPan <= 0 && o.startVPan >= 0 ? 0.0f : o.endVPan);
  Float(object, 1.0f);   // minimum field of view
  Float(object, 180.0f); // field of view
  Float(object, 180.0f); // default field of view
  Float(object, 0.0f);
  Float(object, 0.0f);
  Float(object, 1.0f); // view rate
  Float(object, 1.0f); // frame rate
  object.U32(0);       // animation settings
  object.U32(std::fabs(panRange) >= 360 ? 5 : 4); // wrap pan + zoom, or zoom
  const std::vector<uint8_t> objectSample = SerializeQTAtomContainer({{FourCC("obji"), 1, object.bytes, {}}});

  AtomBuilder placeholder;
  placeholder.U32(16);
  placeholder.U32(FourCC("obje"));
  placeholder.Zeros(6);
  placeholder.U16(1);

  // Video 1, QTVR 2, object 3; samples are sync, as every sample we write.
  ovmovie::TrackSpec vr;
  vr.handlerType = FourCC("qtvr");
  vr.videoMediaHeader = false;
  vr.width = width;
  vr.height = height;
  vr.sampleDescription = std::move(vrDescription.bytes);
  vr.references = {{FourCC("obje"), {3}}};
  ovmovie::TrackSpec obje = vr;
  obje.handlerType = FourCC("obje");
  obje.sampleDescription = std::move(placeholder.bytes);
  obje.references = {{FourCC("imgt"), {1}}};
  const size_t vrIndex = m.movie->AddTrack(std::move(vr));
  const size_t objIndex = m.movie->AddTrack(std::move(obje));
  int err = m.movie->AppendSample(vrIndex, nodeSample, duration);
  if (!err)
    err = m.movie->AppendSample(objIndex, objectSample, duration);
  if (err) {
    char message[96];
    std::snprintf(message, sizeof message, "Unable to create QuickTime VR movie; error code = %d.", err);
    MyCFStopAlert(message);
    return false;
  }
  m.movie->AddUserData({FourCC("ctyp"), {'q', 't', 'v', 'r'}});
  return true;
}

bool AbortQTVRRecording() {
  if (GetMovieHooks().processEvents)
    GetMovieHooks().processEvents();
  if (!gQTVRStopRequested)
    return false;
  gQTVRStopRequested = false;
  SetCocoaCursor(kArrowCursor);
  if (!MyCFChoiceAlert(kAlertCautionAlert, "Abort the QTVR recording?", {}, "Abort", "Continue"))
    return false;
  DoStopButton();
  return true;
}

int DoQuickTimeVRFrames(WindowRef window, uint32_t rows, uint32_t columns, float startH, float endH, float startV,
                        float endV) {
  if (!window || rows == 0 || columns == 0)
    return 0;
  // Rows run from the start tilt to the end tilt, so that the frames agree
  // with the tilt range the object declares.
  const float tiltStep = rows >= 2 ? (endV - startV) / float(rows - 1) : 0;
  const float panRange = std::fabs(endH - startH);
  const float panStep = QTVRPanStep(startH, endH, columns);
  gQTVRStopRequested = false;
  gRecordingVideo = 0;
  Rotate(window, 0, panRange / 2, 0);
  Rotate(window, startV, 0, 0);
  gRecordingVideo = 1;
  float t = startV;
  uint32_t frames = 0;
  for (uint32_t r = 0; r < rows; ++r) {
    t = startV + float(r) * tiltStep;
    const double tr = double(t) * kRadiansPerDegree;
    const float sinStep = float(panStep * std::sin(tr)), cosStep = float(panStep * std::cos(tr));
    PlotCrystal(window, kPlotToWindow);
    ++frames;
    for (uint32_t c = 1; c < columns; ++c) {
      Rotate(window, 0, -cosStep, -sinStep);
      PlotCrystal(window, kPlotToWindow);
      ++frames;
      // Also stopped when the movie ended meanwhile (its window closed).
      if (AbortQTVRRecording() || !MovieIsRolling())
        return 1;
      if (!(GetMovieHooks().videoWindowVisible && GetMovieHooks().videoWindowVisible()))
        WriteProgress("Recording QuickTime VR movie", float(frames) * 100.0f / float(rows * columns));
    }
    gRecordingVideo = 0;
    for (uint32_t c = 1; c < columns; ++c) {
      Rotate(window, 0, 0, sinStep);
      Rotate(window, 0, cosStep, 0);
    }
    if (r + 1 < rows)
      Rotate(window, tiltStep, 0, 0);
    gRecordingVideo = 1;
  }
  gRecordingVideo = 0;
  Rotate(window, -t, -panRange / 2, 0);
  PlotCrystal(window, kPlotToWindow);
  DoStopButton();
  return 0;
}

void DoExportQTVRMovie(WindowRef window) {
  if (!window || !IsWindowFileOpen(window))
    return;
  const uint8_t wasVR = gIsVRMovie;
  if (!gIsVRMovie)
    DoToggleVR();
  auto restore = [&] {
    if (gIsVRMovie != wasVR)
      DoToggleVR();
  };
  if (!InitializeVideoRecording() || !GetMovieHooks().getQTVROptions ||
      !GetMovieHooks().getQTVROptions(gQTVROptions)) {
    restore();
    return;
  }
  if (!StartWindowMovie(window)) {
    restore();
    return;
  }
  gRecordingVideo = 1;
  const uint8_t fast = gUseFastRotn;
  gUseFastRotn = 0;
  WriteProgress("Recording QuickTime VR movie frames...", 0);
  const QTVROptions o = gQTVROptions;
  DoQuickTimeVRFrames(window, o.rows, o.columns, o.startHPan, o.endHPan, o.startVPan, o.endVPan);
  gUseFastRotn = fast;
  gFrameNum = 0;
  restore();
  CloseStatus();
}

// The geometry of the Overview window's thumbnail grid, as pure functions of
// the pane's size, the thumbnail width, the thumbnail count and the scroll
// value: the slot rectangles (with the extra row that keeps the pane full),
// the size slider, the re-fit after a resize, scrolling, hit tests and the
// drop target of a dragged thumbnail; and the small rules of playback.
//
// Coordinates are the pane's own: its top-left corner is (0, 0) unless a
// caller passes another pane box.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A box with exclusive right and bottom edges.
struct GridBox {
  int left = 0, top = 0, right = 0, bottom = 0;
  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  bool Contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
  friend bool operator==(const GridBox &, const GridBox &) = default;
};

inline constexpr int kThumbnailMargin = 8;       // pane left and top; between columns
inline constexpr int kThumbnailCaptionBand = 20; // under each image
inline constexpr int kMinThumbnailWidth = 44;
inline constexpr int kMaxThumbnailWidth = 512;
inline constexpr int kThumbnailSliderTop = 1000; // slider value = 1000 - columns

struct ThumbnailLayout {
  int width = 0;  // of each image
  int height = 0; // width x 3 / 4
  int columns = 1;
  std::vector<GridBox> boxes; // rows x columns image boxes, display order
};

// The image height of a width (integer division).
inline int ThumbnailHeightForWidth(int width) { return width * 3 / 4; }

// The grid for `count` thumbnails: the width cut to the pane width less 16,
// as many columns as fit (at least one), enough rows for the thumbnails and
// never fewer than fill the pane plus one.
ThumbnailLayout LayoutThumbnails(const GridBox &pane, int width, int count, int scroll);

// The width `columns` columns give in a pane of this width; true when it is
// a usable one.
bool GetThumbnailWidthForNumCols(int paneWidth, int columns, int *width);

struct SliderSetting {
  int minimum = 0, maximum = 0, value = 0;
};
// The size slider for a pane width and thumbnail width.
SliderSetting ThumbnailSlider(int paneWidth, int width);
// The width a slider value asks for; `current` when its column count gives
// no usable width.
int ThumbnailWidthForSlider(int paneWidth, int sliderValue, int current);

// After a resize: from the current column count, the width nearest the
// target that a whole number of columns gives.
int RefitThumbnailWidth(int paneWidth, int columns, int target);

// The scroll bar's maximum and its arrow step.
int ThumbnailScrollMaximum(int paneHeight, int thumbnailHeight, int count, int columns);
int ThumbnailLineStep(int maximum, int viewSize, int barHeight);
// How far to scroll (positive: down) to show a slot and its caption, the
// point telling which half of the pane the slot is wanted in.
int ScrollDeltaToShowSlot(const GridBox &pane, const GridBox &slot, int pointY);

// The slot index under a point (image or caption band), -1 for none. A hit
// may lie beyond the last thumbnail; callers compare it with the count.
int ThumbnailIndexAtPoint(const ThumbnailLayout &layout, const GridBox &pane, int x, int y);
int CaptionIndexAtPoint(const ThumbnailLayout &layout, const GridBox &pane, int x, int y);
// The caption band of a slot.
GridBox CaptionBox(const GridBox &slot);

// Where a dragged thumbnail would go with the pointer at (x, y): the target
// thumbnail and whether before it; index -1 when nothing is under the
// pointer.
struct DropTarget {
  int index = -1;
  bool before = false;
};
DropTarget ThumbnailDropTarget(const ThumbnailLayout &layout, const GridBox &pane, int count, int x, int y);
// True when moving thumbnail `from` to the target changes nothing.
bool DropChangesNothing(int from, const DropTarget &target);
// The list order after moving `from` to the target (the records found by
// index before anything moves). Empty when an index has no record.
std::vector<int> MovedOrder(int count, int from, int to, bool before);

// ---- Playback -------------------------------------------------------------------------

// The index to show after `index` of `count`; -1 when playback ends. A
// bounce turns `direction` around at either end.
int NextPlayIndex(int index, int count, bool loop, int mode, int *direction);

struct PlaySettings {
  float seconds = 1.0f;
  uint8_t rotate = 0, loop = 0, mode = 1, fullScreen = 0;
};
// The preset the settings match: 'Anim', 'Slid', 'Spin', else 'Cust'.
uint32_t MatchPlayPreset(const PlaySettings &settings);
// The settings of a preset; false for one that is not a preset.
bool PlayPresetSettings(uint32_t name, PlaySettings *settings);
// Seconds typed into the play options: absolute value, within 0.01 .. 60.
float ClampPlaySeconds(float seconds);
// Degrees a spinning structure turns per plot so that one turn takes about
// `seconds`: at least 1.
float PlayRotationStep(float plotSeconds, float seconds);

// The format badge of a text file: its extension upper-cased, "TEXT" for
// none, "GSAS" for one containing "EXP", "SHELX" for one containing "RES".
std::string ThumbnailBadgeText(const std::string &extension);

// QuickTime VR object movies: a grid of views recorded by turning the
// structure step by step, and the VR tracks that make the movie an object
// movie.
#pragma once

#include "StructureRecord.h"
#include "movie/MovieFile.h"

#include <cstdint>
#include <vector>

// A QT atom: data or children, never both. Serialised in a container with
// its 12-byte header and the 'sean' root.
struct QTAtom {
  uint32_t type = 0;
  uint32_t id = 1;
  std::vector<uint8_t> data;
  std::vector<QTAtom> children;
};
std::vector<uint8_t> SerializeQTAtomContainer(const std::vector<QTAtom> &rootChildren);

// The export command for a structure window.
void DoExportQTVRMovie(WindowRef window);
// Records the grid and concludes the movie; non-zero when the user aborted.
int DoQuickTimeVRFrames(WindowRef window, uint32_t rows, uint32_t columns, float startH, float endH, float startV,
                        float endV);
// True when the user pressed Stop and confirmed (the movie is then stopped).
bool AbortQTVRRecording();
// Adds the VR tracks to the movie being concluded, from the grid of
// gQTVROptions and the recording's frame duration.
bool MakeQTVRMovie();
// Set by the recorder's Stop while a grid records; AbortQTVRRecording asks.
extern bool gQTVRStopRequested;
// Pan step of a grid: a full turn from 0 does not repeat its first view.
float QTVRPanStep(float startH, float endH, uint32_t columns);

// Our own writer of QuickTime movie files: a 'qt  ' file type atom, the media
// data appended as it comes (its 64-bit size patched at close) and the movie
// atom last. The movie goes to a temporary file that replaces the chosen one
// when the movie is closed (files/AtomicFileWriter.h), so a movie that fails
// or is abandoned leaves an earlier file of that name as it was. Tracks hold
// any sample description and samples, so the same writer makes plain video
// movies and object movies with extra tracks. Frame encoders: the Animation
// ('rle ') key frames are ours, Photo-JPEG and PNG go through Qt's image
// writers.
#pragma once

#include "files/AtomicFileWriter.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

class QImage;

namespace ovmovie {

constexpr uint32_t FourCC(const char (&s)[5]) {
  return (uint32_t(uint8_t(s[0])) << 24) | (uint32_t(uint8_t(s[1])) << 16) |
         (uint32_t(uint8_t(s[2])) << 8) | uint32_t(uint8_t(s[3]));
}

constexpr uint32_t kCodecAnimation = FourCC("rle ");
constexpr uint32_t kCodecPhotoJPEG = FourCC("jpeg");
constexpr uint32_t kCodecPNG = FourCC("png ");
constexpr uint32_t kMovieTimeScale = 600; // units per second

// Status codes of the writer (0 is success).
constexpr int kMovieFileOpenError = -43;   // the file cannot be created
constexpr int kMovieWriteError = -36;      // a write failed (disk full, I/O)
constexpr int kMovieEncodeError = -8961;   // a frame could not be encoded
constexpr int kMovieStateError = -2009;    // call out of order

// Big-endian byte builder with nested atoms whose sizes are filled in when
// they end.
class AtomBuilder {
public:
  std::vector<uint8_t> bytes;

  void U8(uint8_t v) { bytes.push_back(v); }
  void U16(uint32_t v);
  void U32(uint32_t v);
  void U64(uint64_t v);
  void Zeros(size_t n) { bytes.insert(bytes.end(), n, 0); }
  void Append(const std::vector<uint8_t>& b) { bytes.insert(bytes.end(), b.begin(), b.end()); }
  void PascalString(const std::string& s, size_t padTo = 0);
  void Begin(uint32_t type);
  void BeginFull(uint32_t type, uint32_t flags = 0); // version 0 + flags
  void End();
  void PutU32At(size_t offset, uint32_t v);

private:
  std::vector<size_t> open_;
};

// The 86-byte video sample description of stsd.
std::vector<uint8_t> VideoSampleDescription(uint32_t codecType, int width, int height, int depth,
                                            uint32_t spatialQuality);
// "Animation", "Photo - JPEG", "PNG".
const char* CompressorName(uint32_t codecType);

// One key frame of the Animation codec at depth 32 (A R G B, A = 0xFF) or 24
// (R G B), from 32-bit xRGB pixels (QImage Format_RGB32 layout).
void EncodeAnimationKeyFrame(const uint32_t* pixels, int width, int height, size_t pixelsPerRow,
                             int depth, std::vector<uint8_t>& out);

// Encodes an image with one of the three codecs; false when the codec is
// unknown or Qt's writer fails. Spatial quality 0..1024 sets the JPEG quality.
bool EncodeFrame(const QImage& image, uint32_t codecType, int depth, uint32_t spatialQuality,
                 std::vector<uint8_t>& out);

struct TrackSpec {
  uint32_t handlerType = FourCC("vide"); // 'vide', 'qtvr', 'obje', …
  std::vector<uint8_t> sampleDescription;  // one whole stsd entry, its size first
  int width = 0, height = 0;               // the track header's size, pixels
  uint32_t flags = 0x0F;                   // enabled, in movie, preview, poster
  bool videoMediaHeader = true;            // vmhd, else the base header gmhd
  // Track references ('imgt', 'obje', …) to 1-based track IDs.
  std::vector<std::pair<uint32_t, std::vector<uint32_t>>> references;
  // Extra payload of the media header of a non-video track, after gmin
  // (for example the 'gmhd' child atoms a VR track wants); raw atoms.
  std::vector<uint8_t> extraMediaInfo;
};

struct UserDataItem {
  uint32_t type;
  std::vector<uint8_t> payload;
};

// Writes one movie file. Tracks are declared before Open; samples go to
// the media data in the order they are appended. A track that received no
// sample is left out of the movie.
class MovieFileWriter {
public:
  MovieFileWriter() = default;
  MovieFileWriter(const MovieFileWriter&) = delete;
  MovieFileWriter& operator=(const MovieFileWriter&) = delete;
  ~MovieFileWriter(); // abandons an unfinished file

  size_t AddTrack(TrackSpec spec); // returns the 0-based index
  TrackSpec& Track(size_t index) { return tracks_[index].spec; }
  int Open(const std::filesystem::path& path);
  int AppendSample(size_t track, const uint8_t* data, size_t size, uint32_t duration);
  int AppendSample(size_t track, const std::vector<uint8_t>& data, uint32_t duration) {
    return AppendSample(track, data.data(), data.size(), duration);
  }
  void AddUserData(UserDataItem item) { userData_.push_back(std::move(item)); }
  // Patches the media data size, writes the movie atom and puts the file in
  // place.
  int Close();
  // Drops a file that will not be finished; an earlier file stays.
  void Abandon();

  bool IsOpen() const { return file_ != nullptr; }
  // The system's reason of the last failure to open or write, if any.
  const std::string& Reason() const { return reason_; }
  size_t SampleCount(size_t track) const { return tracks_[track].sizes.size(); }
  uint64_t TrackDuration(size_t track) const;
  uint64_t MediaBytes() const { return position_ - mdatStart_ - 16; }
  const std::filesystem::path& Path() const { return path_; }

  // Offsets above this use 64-bit chunk offsets; tests lower it.
  uint64_t chunkOffsetLimit = 0xFFFFFFFFull;

private:
  struct TrackState {
    TrackSpec spec;
    std::vector<uint64_t> offsets;
    std::vector<uint32_t> sizes;
    std::vector<uint32_t> durations;
  };
  std::vector<uint8_t> BuildMovieAtom() const;
  void WriteTrack(AtomBuilder& b, const TrackState& t, uint32_t id) const;
  bool Write(const void* data, size_t size);

  std::unique_ptr<AtomicFileWriter> file_;
  std::filesystem::path path_;
  std::string reason_;
  std::vector<TrackState> tracks_;
  std::vector<UserDataItem> userData_;
  uint64_t mdatStart_ = 0;
  uint64_t position_ = 0;
};

} // namespace ovmovie

#include "movie/MovieFile.h"

#include <QBuffer>
#include <QImage>
#include <QImageWriter>

#include <algorithm>
#include <cstring>

namespace ovmovie {

void AtomBuilder::U16(uint32_t v) {
  bytes.push_back(uint8_t(v >> 8));
  bytes.push_back(uint8_t(v));
}

void AtomBuilder::U32(uint32_t v) {
  for (int s = 24; s >= 0; s -= 8)
    bytes.push_back(uint8_t(v >> s));
}

void AtomBuilder::U64(uint64_t v) {
  for (int s = 56; s >= 0; s -= 8)
    bytes.push_back(uint8_t(v >> s));
}

void AtomBuilder::PascalString(const std::string& s, size_t padTo) {
  size_t n = std::min<size_t>(s.size(), padTo ? padTo - 1 : 255);
  U8(uint8_t(n));
  bytes.insert(bytes.end(), s.begin(), s.begin() + n);
  if (padTo > n + 1)
    Zeros(padTo - n - 1);
}

void AtomBuilder::Begin(uint32_t type) {
  open_.push_back(bytes.size());
  U32(0);
  U32(type);
}

void AtomBuilder::BeginFull(uint32_t type, uint32_t flags) {
  Begin(type);
  U32(flags & 0xFFFFFF);
}

void AtomBuilder::End() {
  size_t start = open_.back();
  open_.pop_back();
  PutU32At(start, uint32_t(bytes.size() - start));
}

void AtomBuilder::PutU32At(size_t offset, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    bytes[offset + i] = uint8_t(v >> (24 - 8 * i));
}

const char* CompressorName(uint32_t codecType) {
  if (codecType == kCodecAnimation)
    return "Animation";
  if (codecType == kCodecPhotoJPEG)
    return "Photo - JPEG";
  if (codecType == kCodecPNG)
    return "PNG";
  return "";
}

std::vector<uint8_t> VideoSampleDescription(uint32_t codecType, int width, int height, int depth,
                                            uint32_t spatialQuality) {
  AtomBuilder b;
  b.Begin(codecType);
  b.Zeros(6);
  b.U16(1); // data reference index
  b.U16(0);
  b.U16(0);
  b.U32(FourCC("appl"));
  b.U32(0); // temporal quality: key frames only
  b.U32(spatialQuality);
  b.U16(uint32_t(width));
  b.U16(uint32_t(height));
  b.U32(0x00480000); // 72 dpi
  b.U32(0x00480000);
  b.U32(0);
  b.U16(1); // frames per sample
  b.PascalString(CompressorName(codecType), 32);
  b.U16(uint32_t(depth));
  b.U16(0xFFFF); // no colour table
  b.End();
  return std::move(b.bytes);
}

namespace {

// Appends one Animation line: skip byte 1, then repeat and literal codes.
// A repeat code covers 2..128 pixels; a single pixel goes into a literal,
// since −1 ends the line.
template <int kBytes>
inline uint8_t* EncodeLine(const uint32_t* row, int width, uint8_t* o) {
  auto put = [&o](uint32_t p) {
    if constexpr (kBytes == 4)
      *o++ = uint8_t(p >> 24) | 0xFF; // opaque: A R G B
    *o++ = uint8_t(p >> 16);
    *o++ = uint8_t(p >> 8);
    *o++ = uint8_t(p);
  };
  *o++ = 1;
  int x = 0;
  int litStart = 0; // first pixel of the pending literal run
  auto flushLiterals = [&](int end) {
    while (litStart < end) {
      int n = std::min(127, end - litStart);
      *o++ = uint8_t(n);
      for (int i = 0; i < n; ++i)
        put(row[litStart + i]);
      litStart += n;
    }
  };
  while (x < width) {
    uint32_t p = row[x];
    int run = 1;
    while (x + run < width && row[x + run] == p)
      ++run;
    if (run >= 2) {
      flushLiterals(x);
      int left = run;
      while (left >= 2) {
        int n = std::min(128, left);
        if (left - n == 1 && n > 2)
          --n; // keep the tail a pair rather than a lone pixel
        *o++ = uint8_t(int8_t(-n));
        put(p);
        left -= n;
      }
      x += run - left;
      litStart = x; // a lone leftover pixel starts the next literal
      if (left == 1)
        ++x;
    } else {
      ++x;
    }
  }
  flushLiterals(width);
  *o++ = 0xFF;
  return o;
}

} // namespace

void EncodeAnimationKeyFrame(const uint32_t* pixels, int width, int height, size_t pixelsPerRow,
                             int depth, std::vector<uint8_t>& out) {
  const int bpp = depth == 24 ? 3 : 4;
  // Worst case per line: skip byte, end code and one code byte per 127
  // literal pixels.
  size_t perLine = 2 + size_t(width) * bpp + size_t(width) / 127 + 1;
  out.resize(6 + perLine * size_t(height));
  uint8_t* o = out.data() + 6;
  for (int y = 0; y < height; ++y) {
    const uint32_t* row = pixels + size_t(y) * pixelsPerRow;
    o = bpp == 4 ? EncodeLine<4>(row, width, o) : EncodeLine<3>(row, width, o);
  }
  size_t size = size_t(o - out.data());
  out.resize(size);
  out[0] = uint8_t(size >> 24);
  out[1] = uint8_t(size >> 16);
  out[2] = uint8_t(size >> 8);
  out[3] = uint8_t(size);
  out[4] = 0; // header 0: every line follows
  out[5] = 0;
}

bool EncodeFrame(const QImage& image, uint32_t codecType, int depth, uint32_t spatialQuality,
                 std::vector<uint8_t>& out) {
  if (image.isNull())
    return false;
  if (codecType == kCodecAnimation) {
    QImage rgb = image.format() == QImage::Format_RGB32 || image.format() == QImage::Format_ARGB32
                     ? image
                     : image.convertToFormat(QImage::Format_RGB32);
    EncodeAnimationKeyFrame(reinterpret_cast<const uint32_t*>(rgb.constBits()), rgb.width(),
                            rgb.height(), size_t(rgb.bytesPerLine()) / 4, depth, out);
    return true;
  }
  QByteArray data;
  QBuffer buffer(&data);
  buffer.open(QIODevice::WriteOnly);
  bool ok = false;
  if (codecType == kCodecPhotoJPEG) {
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(int(std::min<uint32_t>(spatialQuality, 1024) * 100 / 1024));
    ok = writer.write(image.convertToFormat(QImage::Format_RGB888));
  } else if (codecType == kCodecPNG) {
    QImageWriter writer(&buffer, "png");
    ok = writer.write(depth == 32 && image.hasAlphaChannel()
                          ? image.convertToFormat(QImage::Format_ARGB32)
                          : image.convertToFormat(QImage::Format_RGB888));
  }
  if (!ok)
    return false;
  out.assign(data.begin(), data.end());
  return true;
}

MovieFileWriter::~MovieFileWriter() {
  if (file_)
    Abandon();
}

size_t MovieFileWriter::AddTrack(TrackSpec spec) {
  tracks_.push_back(TrackState{std::move(spec), {}, {}, {}});
  return tracks_.size() - 1;
}

bool MovieFileWriter::Write(const void* data, size_t size) {
  if (!file_->Write(data, size)) {
    reason_ = file_->Reason();
    return false;
  }
  position_ += size;
  return true;
}

int MovieFileWriter::Open(const std::filesystem::path& path) {
  if (file_)
    return kMovieStateError;
  path_ = path;
  reason_.clear();
  file_ = std::make_unique<AtomicFileWriter>(path);
  if (!file_->IsOpen()) {
    reason_ = file_->Reason();
    file_.reset();
    return kMovieFileOpenError;
  }
  position_ = 0;
  AtomBuilder b;
  b.Begin(FourCC("ftyp"));
  b.U32(FourCC("qt  "));
  b.U32(0x200);
  b.U32(FourCC("qt  "));
  b.End();
  mdatStart_ = b.bytes.size();
  // Media data with a 64-bit size, patched at close.
  b.U32(1);
  b.U32(FourCC("mdat"));
  b.U64(0);
  if (!Write(b.bytes.data(), b.bytes.size())) {
    Abandon();
    return kMovieWriteError;
  }
  return 0;
}

int MovieFileWriter::AppendSample(size_t track, const uint8_t* data, size_t size,
                                  uint32_t duration) {
  if (!file_ || track >= tracks_.size())
    return kMovieStateError;
  uint64_t offset = position_;
  if (!Write(data, size))
    return kMovieWriteError;
  TrackState& t = tracks_[track];
  t.offsets.push_back(offset);
  t.sizes.push_back(uint32_t(size));
  t.durations.push_back(duration);
  return 0;
}

uint64_t MovieFileWriter::TrackDuration(size_t track) const {
  uint64_t d = 0;
  for (uint32_t v : tracks_[track].durations)
    d += v;
  return d;
}

namespace {

void UnityMatrix(AtomBuilder& b) {
  const uint32_t m[9] = {0x00010000, 0, 0, 0, 0x00010000, 0, 0, 0, 0x40000000};
  for (uint32_t v : m)
    b.U32(v);
}

void Handler(AtomBuilder& b, uint32_t component, uint32_t subtype) {
  b.BeginFull(FourCC("hdlr"));
  b.U32(component);
  b.U32(subtype);
  b.Zeros(12);
  b.U8(0); // empty name
  b.End();
}

} // namespace

void MovieFileWriter::WriteTrack(AtomBuilder& b, const TrackState& t, uint32_t id) const {
  uint64_t duration = 0;
  for (uint32_t d : t.durations)
    duration += d;
  const uint32_t dur32 = uint32_t(std::min<uint64_t>(duration, 0xFFFFFFFFu));
  b.Begin(FourCC("trak"));
  b.BeginFull(FourCC("tkhd"), t.spec.flags);
  b.U32(0);
  b.U32(0);
  b.U32(id);
  b.U32(0);
  b.U32(dur32);
  b.Zeros(8);
  b.U16(0); // layer
  b.U16(0); // alternate group
  b.U16(0); // volume
  b.U16(0);
  UnityMatrix(b);
  b.U32(uint32_t(t.spec.width) << 16);
  b.U32(uint32_t(t.spec.height) << 16);
  b.End();

  b.Begin(FourCC("edts"));
  b.BeginFull(FourCC("elst"));
  b.U32(1);
  b.U32(dur32);
  b.U32(0);          // media time
  b.U32(0x00010000); // rate 1.0
  b.End();
  b.End();

  if (!t.spec.references.empty()) {
    b.Begin(FourCC("tref"));
    for (const auto& [type, ids] : t.spec.references) {
      b.Begin(type);
      for (uint32_t r : ids)
        b.U32(r);
      b.End();
    }
    b.End();
  }

  b.Begin(FourCC("mdia"));
  b.BeginFull(FourCC("mdhd"));
  b.U32(0);
  b.U32(0);
  b.U32(kMovieTimeScale);
  b.U32(dur32);
  b.U16(0); // language
  b.U16(0); // quality
  b.End();
  Handler(b, FourCC("mhlr"), t.spec.handlerType);
  b.Begin(FourCC("minf"));
  if (t.spec.videoMediaHeader) {
    b.BeginFull(FourCC("vmhd"), 1);
    b.U16(0x0040);
    b.U16(0x8000);
    b.U16(0x8000);
    b.U16(0x8000);
    b.End();
  } else {
    b.Begin(FourCC("gmhd"));
    b.BeginFull(FourCC("gmin"));
    b.U16(0x0040);
    b.U16(0x8000);
    b.U16(0x8000);
    b.U16(0x8000);
    b.U16(0); // balance
    b.U16(0);
    b.End();
    b.Append(t.spec.extraMediaInfo);
    b.End();
  }
  Handler(b, FourCC("dhlr"), FourCC("alis"));
  b.Begin(FourCC("dinf"));
  b.BeginFull(FourCC("dref"));
  b.U32(1);
  b.BeginFull(FourCC("alis"), 1); // the data is in this file
  b.End();
  b.End();
  b.End();

  b.Begin(FourCC("stbl"));
  b.BeginFull(FourCC("stsd"));
  b.U32(1);
  b.Append(t.spec.sampleDescription);
  b.End();
  // Sample durations, run-length coded.
  std::vector<std::pair<uint32_t, uint32_t>> runs;
  for (uint32_t d : t.durations) {
    if (!runs.empty() && runs.back().second == d)
      ++runs.back().first;
    else
      runs.emplace_back(1, d);
  }
  b.BeginFull(FourCC("stts"));
  b.U32(uint32_t(runs.size()));
  for (auto [n, d] : runs) {
    b.U32(n);
    b.U32(d);
  }
  b.End();
  // Every sample is a key frame: no stss. One sample per chunk.
  b.BeginFull(FourCC("stsc"));
  b.U32(1);
  b.U32(1);
  b.U32(1);
  b.U32(1);
  b.End();
  b.BeginFull(FourCC("stsz"));
  b.U32(0);
  b.U32(uint32_t(t.sizes.size()));
  for (uint32_t s : t.sizes)
    b.U32(s);
  b.End();
  bool wide = !t.offsets.empty() && t.offsets.back() > chunkOffsetLimit;
  b.BeginFull(FourCC(wide ? "co64" : "stco"));
  b.U32(uint32_t(t.offsets.size()));
  for (uint64_t off : t.offsets) {
    if (wide)
      b.U64(off);
    else
      b.U32(uint32_t(off));
  }
  b.End();
  b.End(); // stbl
  b.End(); // minf
  b.End(); // mdia
  b.End(); // trak
}

std::vector<uint8_t> MovieFileWriter::BuildMovieAtom() const {
  uint64_t longest = 0;
  for (size_t i = 0; i < tracks_.size(); ++i)
    longest = std::max(longest, TrackDuration(i));
  AtomBuilder b;
  b.Begin(FourCC("moov"));
  b.BeginFull(FourCC("mvhd"));
  b.U32(0);
  b.U32(0);
  b.U32(kMovieTimeScale);
  b.U32(uint32_t(std::min<uint64_t>(longest, 0xFFFFFFFFu)));
  b.U32(0x00010000); // rate
  b.U16(0x0100);     // volume
  b.Zeros(10);
  UnityMatrix(b);
  b.Zeros(24);
  b.U32(uint32_t(tracks_.size() + 1)); // next track ID
  b.End();
  for (size_t i = 0; i < tracks_.size(); ++i)
    if (!tracks_[i].sizes.empty())
      WriteTrack(b, tracks_[i], uint32_t(i + 1));
  if (!userData_.empty()) {
    b.Begin(FourCC("udta"));
    for (const UserDataItem& item : userData_) {
      b.Begin(item.type);
      b.Append(item.payload);
      b.End();
    }
    b.U32(0);
    b.End();
  }
  b.End();
  return std::move(b.bytes);
}

int MovieFileWriter::Close() {
  if (!file_)
    return kMovieStateError;
  const uint64_t mdatSize = position_ - mdatStart_;
  std::vector<uint8_t> moov = BuildMovieAtom();
  if (!Write(moov.data(), moov.size())) {
    Abandon();
    return kMovieWriteError;
  }
  uint8_t size[8];
  for (int i = 0; i < 8; ++i)
    size[i] = uint8_t(mdatSize >> (56 - 8 * i));
  const bool ok = file_->WriteAt(mdatStart_ + 8, size, 8) && file_->Commit();
  if (!ok)
    reason_ = file_->Reason();
  file_.reset();
  return ok ? 0 : kMovieWriteError;
}

void MovieFileWriter::Abandon() { file_.reset(); }

} // namespace ovmovie

// The movie file writer: the atom tree and its fields read back by our walker,
// and movies of every codec written for tests/oracle/movies_oracle.py.

#include "AtomWalker.h"

#include "movie/MovieFile.h"

#include <QImage>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

using namespace ovmovie;

namespace {

// Frames with long runs (more than 128 pixels), pairs, lone pixels and noise.
QImage TestFrame(int width, int height, int phase) {
  QImage img(width, height, QImage::Format_RGB32);
  uint32_t seed = 12345u + uint32_t(phase);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      QRgb c;
      if (y % 4 == 0)
        c = qRgb(10 * phase, 20, 30); // a whole line of one colour
      else if (y % 4 == 1)
        c = qRgb((x / 2) * 3 % 256, y * 5 % 256, phase); // pairs
      else if (y % 4 == 2 && x > width / 3) {
        seed = seed * 1103515245u + 12345u;
        c = qRgb(seed >> 24, (seed >> 16) & 255, (seed >> 8) & 255); // noise
      } else
        c = qRgb(x % 3 == 0 ? 255 : 0, (x + phase) % 256, 77);
      img.setPixel(x, y, c);
    }
  return img;
}

std::filesystem::path TempMovie(const std::string& name) {
  return std::filesystem::temp_directory_path() / ("ov_moviefile_" + name + ".mov");
}

int WriteMovie(const std::filesystem::path& path, uint32_t codec, int depth, int w, int h, int frames,
               uint32_t duration, MovieFileWriter* writer = nullptr) {
  MovieFileWriter local;
  MovieFileWriter& mw = writer ? *writer : local;
  TrackSpec spec;
  spec.sampleDescription = VideoSampleDescription(codec, w, h, depth, 512);
  spec.width = w;
  spec.height = h;
  mw.AddTrack(spec);
  if (int err = mw.Open(path))
    return err;
  std::vector<uint8_t> data;
  for (int i = 0; i < frames; ++i) {
    if (!EncodeFrame(TestFrame(w, h, i), codec, depth, 512, data))
      return kMovieEncodeError;
    if (int err = mw.AppendSample(0, data, duration))
      return err;
  }
  return mw.Close();
}

} // namespace

TEST(MovieFileTest, TreeSizesAndOffsets) {
  const auto path = TempMovie("tree");
  MovieFileWriter mw;
  mw.AddUserData({FourCC("LOOP"), {0, 0, 0, 1}});
  ASSERT_EQ(WriteMovie(path, kCodecAnimation, 32, 131, 9, 3, 60, &mw), 0);
  AtomFile f(path);
  ASSERT_TRUE(f.ok);
  ASSERT_EQ(f.root.children.size(), 3u);
  EXPECT_EQ(f.root.children[0].type, "ftyp");
  EXPECT_EQ(f.root.children[0].size, 20u);
  EXPECT_EQ(f.Type(f.root.children[0].payloadOffset), "qt  ");
  const Atom& mdat = f.root.children[1];
  EXPECT_EQ(mdat.type, "mdat");
  EXPECT_EQ(f.U32(mdat.offset), 1u); // 64-bit size, patched
  EXPECT_EQ(f.root.children[2].type, "moov");
  const Atom& moov = f.root.children[2];
  const Atom* mvhd = moov.Find("mvhd");
  ASSERT_TRUE(mvhd);
  EXPECT_EQ(mvhd->size, 108u);
  EXPECT_EQ(f.U32(mvhd->payloadOffset + 12), 600u);
  EXPECT_EQ(f.U32(mvhd->payloadOffset + 16), 180u);
  EXPECT_EQ(f.U32(mvhd->payloadOffset + 96), 2u);
  const Atom* tkhd = moov.Find("trak/tkhd");
  ASSERT_TRUE(tkhd);
  EXPECT_EQ(tkhd->size, 92u);
  EXPECT_EQ(f.U32(tkhd->payloadOffset + 76), 131u << 16);
  EXPECT_EQ(f.U32(tkhd->payloadOffset + 80), 9u << 16);
  EXPECT_EQ(moov.Find("trak/edts")->size, 36u);
  EXPECT_EQ(moov.Find("trak/mdia/mdhd")->size, 32u);
  EXPECT_EQ(moov.Find("trak/mdia/hdlr")->size, 33u);
  EXPECT_EQ(moov.Find("trak/mdia/minf/vmhd")->size, 20u);
  EXPECT_EQ(moov.Find("trak/mdia/minf/dinf")->size, 36u);
  const Atom* stbl = moov.Find("trak/mdia/minf/stbl");
  ASSERT_TRUE(stbl);
  EXPECT_EQ(stbl->Find("stss"), nullptr); // all key frames
  const Atom* stsd = stbl->Find("stsd");
  EXPECT_EQ(f.U32(stsd->payloadOffset + 8), 86u);
  EXPECT_EQ(f.Type(stsd->payloadOffset + 12), "rle ");
  EXPECT_EQ(f.U16(stsd->payloadOffset + 8 + 82), 32u);
  const Atom* stts = stbl->Find("stts");
  EXPECT_EQ(f.U32(stts->payloadOffset + 4), 1u);
  EXPECT_EQ(f.U32(stts->payloadOffset + 8), 3u);
  EXPECT_EQ(f.U32(stts->payloadOffset + 12), 60u);
  // Each chunk offset points at a frame whose first word is its own size,
  // and the frames fill the media data exactly.
  const Atom* stsz = stbl->Find("stsz");
  const Atom* stco = stbl->Find("stco");
  ASSERT_TRUE(stsz && stco);
  uint64_t expected = mdat.payloadOffset;
  for (uint32_t i = 0; i < 3; ++i) {
    const uint32_t size = f.U32(stsz->payloadOffset + 12 + 4 * i);
    const uint32_t offset = f.U32(stco->payloadOffset + 8 + 4 * i);
    EXPECT_EQ(offset, expected);
    EXPECT_EQ(f.U32(offset), size);
    expected += size;
  }
  EXPECT_EQ(expected, mdat.offset + mdat.size);
  const Atom* loop = moov.Find("udta/LOOP");
  ASSERT_TRUE(loop);
  EXPECT_EQ(f.U32(loop->payloadOffset), 1u);
  std::filesystem::remove(path);
}

TEST(MovieFileTest, EmptyMovieWideOffsetsAndAbandon) {
  const auto path = TempMovie("empty");
  ASSERT_EQ(WriteMovie(path, kCodecAnimation, 32, 16, 16, 0, 60), 0);
  {
    AtomFile f(path);
    ASSERT_TRUE(f.ok);
    const Atom* moov = f.root.Find("moov");
    ASSERT_TRUE(moov && moov->Find("mvhd"));
    EXPECT_TRUE(moov->All("trak").empty());
    EXPECT_EQ(f.U32(moov->Find("mvhd")->payloadOffset + 16), 0u);
  }
  MovieFileWriter wide;
  wide.chunkOffsetLimit = 100; // as if past 4 GiB
  ASSERT_EQ(WriteMovie(path, kCodecPNG, 24, 16, 16, 2, 50, &wide), 0);
  {
    AtomFile f(path);
    ASSERT_TRUE(f.ok);
    const Atom* co64 = f.root.Find("moov/trak/mdia/minf/stbl/co64");
    ASSERT_TRUE(co64);
    EXPECT_EQ(f.root.Find("moov/trak/mdia/minf/stbl/stco"), nullptr);
    EXPECT_EQ(f.U64(co64->payloadOffset + 8), f.root.Find("mdat")->payloadOffset);
  }
  // An abandoned movie leaves the earlier file of its name as it was, and
  // nothing beside it.
  std::ifstream earlier(path, std::ios::binary);
  const std::string before((std::istreambuf_iterator<char>(earlier)), {});
  MovieFileWriter gone;
  gone.AddTrack(TrackSpec{});
  ASSERT_EQ(gone.Open(path), 0);
  ASSERT_EQ(gone.AppendSample(0, std::vector<uint8_t>(64, 1), 10), 0);
  gone.Abandon();
  std::ifstream after(path, std::ios::binary);
  EXPECT_TRUE(std::string((std::istreambuf_iterator<char>(after)), {}) == before) << "the earlier movie was changed";
  for (const auto& entry : std::filesystem::directory_iterator(path.parent_path()))
    EXPECT_EQ(entry.path().filename().string().find(".~" + path.filename().string()), std::string::npos);
  EXPECT_EQ(gone.Open("/nonexistent-folder/x.mov"), kMovieFileOpenError);
}

TEST(MovieFileTest, OracleDump) {
  const char* out = std::getenv("OV_MOVIE_DUMP_DIR");
  if (!out)
    GTEST_SKIP() << "run by tests/oracle/movies_oracle.py";
  const std::filesystem::path folder(out);
  std::ofstream manifest(folder / "manifest.txt", std::ios::app);
  struct Case {
    const char* name;
    uint32_t codec;
    int depth, width, height, frames;
    uint32_t duration;
  };
  const Case cases[] = {{"rle32", kCodecAnimation, 32, 301, 23, 4, 60},
                        {"rle24", kCodecAnimation, 24, 130, 17, 3, 20},
                        {"jpeg", kCodecPhotoJPEG, 24, 64, 48, 3, 60},
                        {"png", kCodecPNG, 24, 40, 30, 2, 100}};
  for (const Case& c : cases) {
    const auto file = folder / (std::string(c.name) + ".mov");
    ASSERT_EQ(WriteMovie(file, c.codec, c.depth, c.width, c.height, c.frames, c.duration), 0);
    manifest << file.filename().string() << ' ' << c.name << ' ' << c.width << ' ' << c.height << ' '
             << c.frames << ' ' << c.duration << '\n';
    for (int i = 0; i < c.frames; ++i)
      TestFrame(c.width, c.height, i)
          .save(QString::fromStdString((folder / (std::string(c.name) + "_src" + std::to_string(i) + ".png")).string()));
  }
}

#include "PictureResources.h"

#include <QImage>
#include <QString>

#include <map>
#include <memory>

namespace ovgfx {

namespace {

std::map<int16_t, std::unique_ptr<PixelBuffer>> &Cache() {
  static std::map<int16_t, std::unique_ptr<PixelBuffer>> cache;
  return cache;
}

std::unique_ptr<PixelBuffer> Load(int16_t id) {
  QImage image(QStringLiteral(":/pictures/%1.png").arg(id));
  if (image.isNull())
    return nullptr;
  image = image.convertToFormat(QImage::Format_RGB32);
  auto pixels = PixelBuffer::Create(MakeRect(0, 0, image.width(), image.height()), 32);
  if (!pixels)
    return nullptr;
  for (int y = 0; y < image.height(); ++y) {
    const auto *line = reinterpret_cast<const uint32_t *>(image.constScanLine(y));
    uint32_t *row = pixels->Row32(y);
    for (int x = 0; x < image.width(); ++x)
      row[x] = line[x] | kAlphaMask;
  }
  return pixels;
}

} // namespace

const PixelBuffer *GetPictureResource(int16_t id) {
  auto &cache = Cache();
  auto it = cache.find(id);
  if (it == cache.end())
    it = cache.emplace(id, Load(id)).first;
  return it->second.get();
}

} // namespace ovgfx

// Walks a PICT picture (extended version 2) as a reader would: the header,
// then opcode after opcode, each at an even offset, until the end opcode.
// Only opcodes whose data length it knows are accepted, so a writer that
// emits a wrong length or an unknown opcode fails the walk. Direct pixel
// maps are unpacked into 0xFFRRGGBB pixels.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct PictPixMap {
  size_t begin = 0, end = 0; // the opcode's bytes, from the picture's start
  int top = 0, left = 0, bottom = 0, right = 0; // destination rectangle
  int width = 0, height = 0;
  uint16_t mode = 0;
  std::vector<uint32_t> pixels; // row by row
};

struct PictWalk {
  bool ok = false;
  std::string error;
  int frameWidth = 0, frameHeight = 0;
  double hRes = 0;
  std::vector<uint16_t> opcodes; // in order, the end opcode last
  std::vector<PictPixMap> pixMaps;
  size_t Count(uint16_t op) const {
    size_t n = 0;
    for (uint16_t o : opcodes)
      n += o == op;
    return n;
  }
};

// `bytes` is a picture file (512-byte header first) when `fileHeader`.
inline PictWalk WalkPict(const std::vector<uint8_t> &bytes, bool fileHeader = true) {
  PictWalk w;
  const size_t base = fileHeader ? 512 : 0;
  size_t at = base;
  const auto fail = [&](const std::string &why) {
    w.ok = false;
    w.error = why + " at offset " + std::to_string(at - base);
    return w;
  };
  const auto need = [&](size_t n) { return at + n <= bytes.size(); };
  const auto u8 = [&]() { return bytes[at++]; };
  const auto u16 = [&]() {
    const uint16_t v = uint16_t(bytes[at] << 8 | bytes[at + 1]);
    at += 2;
    return v;
  };
  const auto u32 = [&]() {
    const uint32_t hi = u16();
    return hi << 16 | u16();
  };
  if (fileHeader) {
    if (bytes.size() < 512)
      return fail("short file");
    for (size_t k = 0; k < 512; k++)
      if (bytes[k] != 0)
        return fail("header byte not zero");
  }
  if (!need(40))
    return fail("short picture");
  u16(); // size
  const int top = int16_t(u16()), left = int16_t(u16()), bottom = int16_t(u16()), right = int16_t(u16());
  w.frameWidth = right - left;
  w.frameHeight = bottom - top;
  if (u16() != 0x0011 || u16() != 0x02FF)
    return fail("no version 2 opcode");
  if (u16() != 0x0C00 || u16() != 0xFFFE)
    return fail("no extended header");
  u16();
  w.hRes = u32() / 65536.0;
  at += 4 + 8 + 4;
  for (;;) {
    if ((at - base) & 1)
      return fail("odd opcode offset");
    if (!need(2))
      return fail("no end opcode");
    const uint16_t op = u16();
    w.opcodes.push_back(op);
    size_t len = 0;
    switch (op) {
    case 0x00FF:
      w.ok = true;
      return w;
    case 0x001E:
      len = 0;
      break;
    case 0x0003:
    case 0x0008:
    case 0x000D:
      len = 2;
      break;
    case 0x0004:
      len = 1;
      break;
    case 0x0007:
      len = 4;
      break;
    case 0x0009:
    case 0x000A:
    case 0x0020:
    case 0x0030:
    case 0x0031:
    case 0x0032:
    case 0x0034:
    case 0x0050:
    case 0x0051:
    case 0x0052:
    case 0x0054:
      len = 8;
      break;
    case 0x001A:
    case 0x001B:
    case 0x001F:
      len = 6;
      break;
    case 0x0060:
      len = 12;
      break;
    case 0x0001:
    case 0x0070:
    case 0x0071:
    case 0x0072:
    case 0x0074: {
      if (!need(2))
        return fail("short region");
      const uint16_t size = u16();
      if (size < 10)
        return fail("region or polygon smaller than its header");
      len = size - 2;
      break;
    }
    case 0x0028: {
      if (!need(5))
        return fail("short text");
      at += 4;
      len = u8();
      break;
    }
    case 0x002C: {
      if (!need(2))
        return fail("short font name");
      len = u16();
      break;
    }
    case 0x009A: {
      if (!need(50))
        return fail("short pixel map");
      PictPixMap m;
      m.begin = at - 2 - base;
      at += 4;
      const uint32_t rowBytes = u16() & 0x7FFF;
      const int bt = int16_t(u16()), bl = int16_t(u16()), bb = int16_t(u16()), br = int16_t(u16());
      m.width = br - bl;
      m.height = bb - bt;
      at += 2;
      const uint16_t packType = u16();
      at += 4 + 8;
      const uint16_t pixelType = u16(), pixelSize = u16(), cmpCount = u16(), cmpSize = u16();
      if (pixelType != 16 || pixelSize != 32 || cmpCount != 3 || cmpSize != 8 || packType != 4 ||
          rowBytes != uint32_t(m.width) * 4)
        return fail("unexpected pixel map");
      at += 12 + 8;
      m.top = int16_t(u16());
      m.left = int16_t(u16());
      m.bottom = int16_t(u16());
      m.right = int16_t(u16());
      m.mode = u16();
      for (int y = 0; y < m.height; y++) {
        std::vector<uint8_t> row;
        if (rowBytes < 8) {
          if (!need(rowBytes))
            return fail("short row");
          for (int x = 0; x < m.width; x++, at += 4)
            m.pixels.push_back(0xFF000000u | uint32_t(bytes[at + 1]) << 16 | uint32_t(bytes[at + 2]) << 8 |
                               bytes[at + 3]);
          continue;
        }
        const size_t count = m.width > 250 ? (need(2) ? u16() : 0) : (need(1) ? u8() : 0);
        if (!need(count))
          return fail("short packed row");
        const size_t end = at + count;
        while (at < end) {
          const int n = int8_t(u8());
          if (n >= 0) {
            if (at + size_t(n) + 1 > end)
              return fail("literal past row");
            row.insert(row.end(), bytes.begin() + long(at), bytes.begin() + long(at) + n + 1);
            at += size_t(n) + 1;
          } else if (n != -128) {
            if (at >= end)
              return fail("repeat past row");
            row.insert(row.end(), size_t(1 - n), u8());
          }
        }
        if (row.size() != size_t(m.width) * 3)
          return fail("row unpacks to " + std::to_string(row.size()) + " bytes");
        for (int x = 0; x < m.width; x++)
          m.pixels.push_back(0xFF000000u | uint32_t(row[size_t(x)]) << 16 | uint32_t(row[size_t(m.width + x)]) << 8 |
                             row[size_t(2 * m.width + x)]);
      }
      if ((at - base) & 1)
        at++;
      m.end = at - base;
      w.pixMaps.push_back(std::move(m));
      continue;
    }
    default:
      return fail("unknown opcode " + std::to_string(op));
    }
    if (!need(len))
      return fail("short opcode data");
    at += len;
    if ((at - base) & 1)
      at++;
  }
}

// Reads a QuickTime file's atom tree back for tests: sizes (32- and 64-bit),
// types, payloads, and the children of the container atoms we write.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

struct Atom {
  std::string type;
  uint64_t offset = 0; // of the header, in the file
  uint64_t size = 0;   // whole atom
  uint64_t payloadOffset = 0;
  std::vector<Atom> children;

  const Atom* Find(const std::string& path) const { // "trak/mdia/minf"
    size_t slash = path.find('/');
    std::string head = path.substr(0, slash);
    for (const Atom& c : children)
      if (c.type == head)
        return slash == std::string::npos ? &c : c.Find(path.substr(slash + 1));
    return nullptr;
  }
  std::vector<const Atom*> All(const std::string& wanted) const {
    std::vector<const Atom*> r;
    for (const Atom& c : children)
      if (c.type == wanted)
        r.push_back(&c);
    return r;
  }
};

class AtomFile {
public:
  std::vector<uint8_t> bytes;
  Atom root;
  bool ok = true;

  explicit AtomFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    root.type = "file";
    root.size = bytes.size();
    Walk(root, 0, bytes.size());
  }
  uint32_t U32(uint64_t at) const {
    return (uint32_t(bytes[at]) << 24) | (uint32_t(bytes[at + 1]) << 16) |
           (uint32_t(bytes[at + 2]) << 8) | bytes[at + 3];
  }
  uint16_t U16(uint64_t at) const { return uint16_t((bytes[at] << 8) | bytes[at + 1]); }
  uint64_t U64(uint64_t at) const { return (uint64_t(U32(at)) << 32) | U32(at + 4); }
  std::string Type(uint64_t at) const { return std::string(bytes.begin() + at, bytes.begin() + at + 4); }

private:
  void Walk(Atom& parent, uint64_t from, uint64_t to) {
    static const std::set<std::string> containers = {"moov", "trak", "mdia", "minf", "dinf",
                                                     "stbl", "edts", "udta", "tref", "gmhd"};
    uint64_t at = from;
    while (at + 8 <= to) {
      Atom a;
      a.offset = at;
      a.size = U32(at);
      a.type = Type(at + 4);
      a.payloadOffset = at + 8;
      if (a.size == 1) {
        a.size = U64(at + 8);
        a.payloadOffset = at + 16;
      } else if (a.size == 0) {
        if (parent.type == "udta")
          break; // the trailing zero
        a.size = to - at;
      }
      if (a.size < 8 || at + a.size > to) {
        ok = false;
        return;
      }
      if (containers.count(a.type))
        Walk(a, a.payloadOffset, at + a.size);
      else if (a.type == "dref")
        Walk(a, a.payloadOffset + 8, at + a.size);
      parent.children.push_back(std::move(a));
      at += parent.children.back().size;
    }
    if (at != to && parent.type != "udta")
      ok = false;
  }
};

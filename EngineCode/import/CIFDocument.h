// A CIF text as parsed: data blocks of items, each a pair (a data name and
// its value) or a loop (data names and their rows of values). The values are
// views of the text, not copies, and each loop row keeps the line it starts
// on, so that what a mapping says of a row names its line. Nothing here knows
// a data name: the names and values are read through CIFTags.h.
//
// This header and CIFDocument.cpp, the one file that includes gemmi's CIF
// grammar, are plain C++17: Debian's gemmi does not compile as C++20 with
// every compiler.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

// A list of plain records that grows through the allocator's realloc: a
// block as large as a big file's loops is grown by moving its pages rather
// than by copying it into fresh ones, so the records are written once and
// the memory they take is touched once.
template <typename T> class CIFPlainList {
  static_assert(std::is_trivially_copyable_v<T>);

public:
  CIFPlainList() = default;
  CIFPlainList(CIFPlainList &&other) noexcept
      : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)),
        capacity_(std::exchange(other.capacity_, 0)) {}
  CIFPlainList &operator=(CIFPlainList &&other) noexcept {
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
    std::swap(capacity_, other.capacity_);
    return *this;
  }
  CIFPlainList(const CIFPlainList &) = delete;
  CIFPlainList &operator=(const CIFPlainList &) = delete;
  ~CIFPlainList() { std::free(data_); }

  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  const T *data() const { return data_; }
  const T &operator[](size_t k) const { return data_[k]; }
  void push_back(const T &value) {
    if (size_ == capacity_)
      Grow();
    data_[size_++] = value;
  }

private:
  void Grow() {
    constexpr size_t kFirst = 64;
    const size_t capacity = capacity_ == 0 ? kFirst : 2 * capacity_;
    if (capacity > SIZE_MAX / sizeof(T))
      throw std::bad_alloc();
    void *grown = std::realloc(data_, capacity * sizeof(T));
    if (!grown)
      throw std::bad_alloc();
    data_ = static_cast<T *>(grown);
    capacity_ = capacity;
  }

  T *data_ = nullptr;
  size_t size_ = 0, capacity_ = 0;
};

// A loop's value: where it stands in the text, in half a view's room (a text
// the import path reads fits in 32-bit offsets), as loops hold most of a file.
struct CIFValuePlace {
  uint32_t offset = 0, size = 0;
};

struct CIFItem {
  bool loop = false;
  int line = 0;
  std::string_view tag, value;         // a pair
  std::vector<std::string_view> tags;  // a loop
  // A loop: its values, the `count` from `first` on in the document's one
  // list of every loop's values (one list grows, not one a loop), and the
  // text they stand in.
  const CIFPlainList<CIFValuePlace> *values = nullptr;
  size_t first = 0, count = 0;
  const char *text = nullptr;
  CIFPlainList<int> rowLines; // a loop: the line of each row

  std::string_view Value(size_t k) const {
    const CIFValuePlace &place = (*values)[first + k];
    return {text + place.offset, place.size};
  }
};

struct CIFBlock {
  std::string_view name;
  std::vector<CIFItem> items;
};

struct CIFDocument {
  const char *text = nullptr;         // the whole text
  CIFPlainList<CIFValuePlace> values; // the values of every loop
  std::vector<CIFBlock> blocks;
  std::vector<CIFItem> frame; // save frames: parsed, not read
  std::vector<CIFItem> *items = nullptr;
  size_t loopColumn = 0; // the column of the open loop's next value
};

// Parses `text` (at most 4 GB: the caller holds it to the import limit) into
// `doc`, whose views stay valid while the text lives. False, with the line
// (0: none) and the reason, for text that is no CIF.
bool ParseCIFDocument(std::string_view text, const std::string &name, CIFDocument &doc, int &line,
                      std::string &what);

// The operators of a Hall symbol as text ("-x+1/2,y,z"), centring copies
// included; empty when the symbol names no group.
std::vector<std::string> HallSymbolOperators(std::string_view hall);

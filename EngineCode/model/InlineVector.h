// A growable array that keeps up to N elements inside itself and moves to
// the heap only beyond that: a list that is nearly always short (a face's
// vertices, an atom's bonds) costs no allocation of its own. Reads like
// std::vector. Holds trivially copyable elements only, which it copies as
// bytes.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <limits>
#include <new>
#include <stdexcept>
#include <type_traits>
#include <vector>

template <class T, size_t N> class InlineVector {
  static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>);
  static_assert(N > 0 && N <= std::numeric_limits<uint32_t>::max());

public:
  using value_type = T;
  using size_type = size_t;
  using difference_type = std::ptrdiff_t;
  using reference = T &;
  using const_reference = const T &;
  using pointer = T *;
  using const_pointer = const T *;
  using iterator = T *;
  using const_iterator = const T *;

  InlineVector() noexcept {}
  InlineVector(std::initializer_list<T> list) { assign(list.begin(), list.end()); }
  template <std::input_iterator It> InlineVector(It first, It last) { assign(first, last); }
  InlineVector(const InlineVector &other) { assign(other.begin(), other.end()); }
  InlineVector(InlineVector &&other) noexcept { Take(other); }
  ~InlineVector() { Release(); }

  InlineVector &operator=(const InlineVector &other) {
    if (this != &other)
      assign(other.begin(), other.end());
    return *this;
  }
  InlineVector &operator=(InlineVector &&other) noexcept {
    if (this != &other) {
      Release();
      Take(other);
    }
    return *this;
  }
  InlineVector &operator=(std::initializer_list<T> list) {
    assign(list.begin(), list.end());
    return *this;
  }

  // The elements as a std::vector, for code that keeps them apart.
  explicit operator std::vector<T>() const { return std::vector<T>(begin(), end()); }

  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  size_t capacity() const { return capacity_; }

  T *data() { return OnHeap() ? heap_ : local_; }
  const T *data() const { return OnHeap() ? heap_ : local_; }
  T &operator[](size_t i) { return data()[i]; }
  const T &operator[](size_t i) const { return data()[i]; }
  T &at(size_t i) {
    if (i >= size_)
      throw std::out_of_range("InlineVector::at");
    return data()[i];
  }
  const T &at(size_t i) const {
    if (i >= size_)
      throw std::out_of_range("InlineVector::at");
    return data()[i];
  }
  T &front() { return data()[0]; }
  const T &front() const { return data()[0]; }
  T &back() { return data()[size_ - 1]; }
  const T &back() const { return data()[size_ - 1]; }

  iterator begin() { return data(); }
  iterator end() { return data() + size_; }
  const_iterator begin() const { return data(); }
  const_iterator end() const { return data() + size_; }
  const_iterator cbegin() const { return begin(); }
  const_iterator cend() const { return end(); }

  void clear() { size_ = 0; }

  void reserve(size_t n) {
    if (n > capacity_)
      Grow(n);
  }

  void resize(size_t n) { resize(n, T{}); }
  void resize(size_t n, const T &value) {
    const T copy = value; // value may lie in the storage that moves
    reserve(n);
    T *d = data();
    for (size_t i = size_; i < n; ++i)
      d[i] = copy;
    size_ = static_cast<uint32_t>(n);
  }

  void push_back(const T &value) {
    if (size_ == capacity_) {
      const T copy = value; // value may lie in the storage that moves
      Grow(static_cast<size_t>(capacity_) * 2);
      data()[size_++] = copy;
      return;
    }
    data()[size_++] = value;
  }

  void pop_back() { --size_; }

  // Removes the element at `at`; the later ones move up.
  iterator erase(const_iterator at) {
    T *d = data();
    const size_t i = static_cast<size_t>(at - d);
    std::memmove(d + i, d + i + 1, (size_ - i - 1) * sizeof(T));
    --size_;
    return d + i;
  }

  // Removes [first, last); the later elements move up.
  iterator erase(const_iterator first, const_iterator last) {
    T *d = data();
    const size_t i = static_cast<size_t>(first - d), k = static_cast<size_t>(last - first);
    std::memmove(d + i, d + i + k, (size_ - i - k) * sizeof(T));
    size_ -= static_cast<uint32_t>(k);
    return d + i;
  }

  template <class It> void assign(It first, It last) {
    const auto count = std::distance(first, last);
    const size_t n = count > 0 ? static_cast<size_t>(count) : 0;
    if (n > capacity_) {
      // No element is kept, so the old room goes before the new is taken.
      Release();
      Grow(n);
    }
    std::copy(first, last, data());
    size_ = static_cast<uint32_t>(n);
  }

  friend bool operator==(const InlineVector &a, const InlineVector &b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end());
  }
  friend bool operator==(const InlineVector &a, const std::vector<T> &b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end());
  }

private:
  bool OnHeap() const { return capacity_ > N; }

  // Room for at least n elements, the present ones kept.
  void Grow(size_t n) {
    if (n > std::numeric_limits<uint32_t>::max())
      throw std::bad_alloc();
    n = std::max<size_t>(n, N + 1);
    T *room = static_cast<T *>(::operator new(n * sizeof(T)));
    if (size_ > 0)
      std::memcpy(room, data(), size_ * sizeof(T));
    if (OnHeap())
      ::operator delete(heap_);
    heap_ = room;
    capacity_ = static_cast<uint32_t>(n);
  }

  void Release() {
    if (OnHeap())
      ::operator delete(heap_);
    capacity_ = N;
    size_ = 0;
  }

  // Takes other's elements and leaves it empty.
  void Take(InlineVector &other) {
    size_ = other.size_;
    capacity_ = other.capacity_;
    if (other.OnHeap())
      heap_ = other.heap_;
    else
      std::memcpy(local_, other.local_, size_ * sizeof(T));
    other.capacity_ = N;
    other.size_ = 0;
  }

  uint32_t size_ = 0;
  uint32_t capacity_ = N;
  union {
    T local_[N];
    T *heap_;
  };
};

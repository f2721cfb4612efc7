// A first-in first-out queue of at most N - 1 values, N a power of 2, in
// place: the recording converter's queues are short and used once a sample
// or so.
#ifndef BRIVANE_RECORDING_RING_H
#define BRIVANE_RECORDING_RING_H

#include <cstddef>

template <class T, std::size_t N>
class ring {
  static_assert((N & (N - 1)) == 0, "N is a power of 2");

 public:
  std::size_t size() const { return count_; }
  bool empty() const { return count_ == 0; }
  T& operator[](std::size_t i) { return v_[(head_ + i) & (N - 1)]; }
  const T& operator[](std::size_t i) const { return v_[(head_ + i) & (N - 1)]; }
  T& front() { return (*this)[0]; }
  T& back() { return (*this)[count_ - 1]; }
  void push_back(const T& x) { v_[(head_ + count_++) & (N - 1)] = x; }
  void pop_front() {
    head_ = (head_ + 1) & (N - 1);
    --count_;
  }
  void clear() { count_ = 0; }

 private:
  T v_[N] = {};
  std::size_t head_ = 0, count_ = 0;
};

#endif

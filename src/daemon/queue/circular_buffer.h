#pragma once

#include <algorithm>
#include <concepts>
#include <cstddef>
#include <optional>
#include <stdexcept>
#include <vector>

namespace qd {

// Keeps the last `capacity` elements appended. The storage grows until it holds `capacity`
// elements; from then on each append overwrites the oldest slot in place, so the memory
// used never changes again. The request queue keeps its latency and outcome samples in two.
template <typename T>
class CircularBuffer {
 public:
  // `capacity` must be at least 1; a zero capacity would have nowhere to put an element.
  explicit CircularBuffer(std::size_t capacity) : capacity_(capacity) {
    if (capacity == 0) throw std::invalid_argument("CircularBuffer capacity must be at least 1");
    storage_.reserve(capacity);
  }

  void append(T element) {
    if (storage_.size() >= capacity_) {
      storage_[head_] = std::move(element);
      head_ = (head_ + 1) % capacity_;
      isFull_ = true;
      return;
    }
    storage_.push_back(std::move(element));
    head_ = storage_.size();
    if (storage_.size() == capacity_) {
      isFull_ = true;
      head_ = 0;
    }
  }

  std::size_t count() const { return isFull_ ? capacity_ : head_; }
  bool isEmpty() const { return !isFull_ && head_ == 0; }
  bool isFull() const { return isFull_; }
  std::size_t capacity() const { return capacity_; }
  // Before the buffer is full: the number held. Once full: the slot of the oldest element,
  // which the next append overwrites.
  std::size_t head() const { return head_; }
  const std::vector<T>& storage() const { return storage_; }

  // Oldest first.
  std::vector<T> elements() const {
    std::vector<T> out;
    out.reserve(count());
    if (isFull_) {
      out.insert(out.end(), storage_.begin() + static_cast<std::ptrdiff_t>(head_), storage_.end());
    }
    out.insert(out.end(), storage_.begin(), storage_.begin() + static_cast<std::ptrdiff_t>(head_));
    return out;
  }

  std::optional<T> min() const
    requires std::floating_point<T>
  {
    if (isEmpty()) return std::nullopt;
    return *std::min_element(storage_.begin(), storage_.end());
  }

  std::optional<T> max() const
    requires std::floating_point<T>
  {
    if (isEmpty()) return std::nullopt;
    return *std::max_element(storage_.begin(), storage_.end());
  }

  // Summed from the oldest to the newest, so the result does not depend on where the
  // buffer happens to wrap.
  std::optional<T> average() const
    requires std::floating_point<T>
  {
    if (isEmpty()) return std::nullopt;
    T sum = 0;
    for (const T& x : elements()) sum += x;
    return sum / static_cast<T>(count());
  }

  // The share of `false` among the kept outcomes; 0.0 when there are none.
  double failureRate() const
    requires std::same_as<T, bool>
  {
    if (isEmpty()) return 0.0;
    const auto failures = std::count(storage_.begin(), storage_.end(), false);
    return static_cast<double>(failures) / static_cast<double>(count());
  }

 private:
  std::vector<T> storage_;
  std::size_t head_ = 0;
  bool isFull_ = false;
  std::size_t capacity_;
};

}  // namespace qd

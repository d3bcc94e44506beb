// A fixed-size byte buffer that starts zero and costs nothing until it is
// written: its memory comes from calloc, which hands out pages the process has
// never touched, so no page is faulted in, and no loop runs, before it is used.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace brisquel {

class ZeroedBuffer {
 public:
  explicit ZeroedBuffer(std::size_t size);
  ZeroedBuffer(const ZeroedBuffer& other);
  ZeroedBuffer& operator=(const ZeroedBuffer& other);
  ZeroedBuffer(ZeroedBuffer&&) noexcept = default;
  ZeroedBuffer& operator=(ZeroedBuffer&&) noexcept = default;

  std::uint8_t* data() { return bytes_.get(); }
  const std::uint8_t* data() const { return bytes_.get(); }
  std::size_t size() const { return size_; }
  std::uint8_t* begin() { return data(); }
  std::uint8_t* end() { return data() + size_; }
  const std::uint8_t* begin() const { return data(); }
  const std::uint8_t* end() const { return data() + size_; }
  std::uint8_t& operator[](std::size_t i) { return bytes_[i]; }
  std::uint8_t operator[](std::size_t i) const { return bytes_[i]; }
  std::uint8_t& front() { return bytes_[0]; }
  std::uint8_t& back() { return bytes_[size_ - 1]; }

 private:
  struct Free {
    void operator()(std::uint8_t* p) const;
  };
  std::unique_ptr<std::uint8_t[], Free> bytes_;
  std::size_t size_ = 0;
};

}  // namespace brisquel

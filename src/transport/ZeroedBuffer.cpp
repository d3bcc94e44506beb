#include "transport/ZeroedBuffer.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace brisquel {

namespace {
std::uint8_t* Zeroed(std::size_t size) {
  // calloc(0) may answer null; one byte keeps data() valid for an empty buffer.
  void* p = std::calloc(size == 0 ? 1 : size, 1);
  if (!p) throw std::bad_alloc();
  return static_cast<std::uint8_t*>(p);
}
}  // namespace

void ZeroedBuffer::Free::operator()(std::uint8_t* p) const {
  std::free(p);
}

ZeroedBuffer::ZeroedBuffer(std::size_t size) : bytes_(Zeroed(size)), size_(size) {}

ZeroedBuffer::ZeroedBuffer(const ZeroedBuffer& other) : ZeroedBuffer(other.size_) {
  std::memcpy(data(), other.data(), size_);
}

ZeroedBuffer& ZeroedBuffer::operator=(const ZeroedBuffer& other) {
  if (this != &other) *this = ZeroedBuffer(other);
  return *this;
}

}  // namespace brisquel

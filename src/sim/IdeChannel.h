// Two drive positions behind one channel's task-file ports. The DEV bit of the
// device register (+6) picks the drive the other registers reach; a position
// with no drive floats (reads 0xFF / 0xFFFF).
#pragma once

#include <cstdint>
#include <memory>

#include "sim/AtaDrive.h"

namespace brisquel::sim {

// A replayed recording answers on a channel's ports in its own way, hence the
// virtual register access.
class IdeChannel {
 public:
  virtual ~IdeChannel() = default;
  void Attach(int position, std::shared_ptr<AtaDrive> drive);  // position 0 or 1
  AtaDrive* Drive(int position) const;

  // offset 0 is the data register; 1..7 the task-file registers.
  virtual std::uint8_t ReadByte(std::uint8_t offset);
  virtual void WriteByte(std::uint8_t offset, std::uint8_t value);
  virtual std::uint16_t ReadWord(std::uint8_t offset);
  virtual void WriteWord(std::uint8_t offset, std::uint16_t value);

 private:
  AtaDrive* Selected() const;

  std::shared_ptr<AtaDrive> drives_[2];
  std::uint8_t deviceRegister_ = 0xA0;
};

}  // namespace brisquel::sim

// Two drive positions behind one channel's task-file ports. The DEV bit of the
// device register (+6) picks the drive the other registers reach. An empty
// channel floats (reads 0xFF / 0xFFFF); an absent device 1 behind a present
// device 0 reads 00h and its commands are ignored, as ATA has device 0 answer.
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
  bool AnsweredForAbsent() const;

  std::shared_ptr<AtaDrive> drives_[2];
  std::uint8_t deviceRegister_ = 0xA0;
};

}  // namespace brisquel::sim

#include "sim/IdeChannel.h"

#include "transport/AtaProtocol.h"

namespace brisquel::sim {

void IdeChannel::Attach(int position, std::shared_ptr<AtaDrive> drive) {
  if (position == 0 || position == 1) drives_[position] = std::move(drive);
}

AtaDrive* IdeChannel::Drive(int position) const {
  return position == 0 || position == 1 ? drives_[position].get() : nullptr;
}

AtaDrive* IdeChannel::Selected() const { return drives_[(deviceRegister_ & kDeviceDev) ? 1 : 0].get(); }

// Device 0 answers for an absent device 1: its own registers, status 00h, and
// device 1's commands ignored.
bool IdeChannel::AnsweredForAbsent() const {
  return (deviceRegister_ & kDeviceDev) && !drives_[1] && drives_[0];
}

std::uint8_t IdeChannel::ReadByte(std::uint8_t offset) {
  if (AnsweredForAbsent() && offset >= 1 && offset <= 7) {
    return offset == pioport::kCommand ? 0x00 : drives_[0]->ReadRegister(offset);
  }
  AtaDrive* drive = Selected();
  if (!drive || offset > 7) return 0xFF;  // nothing drives the bus
  if (offset == 0) return static_cast<std::uint8_t>(drive->ReadData());
  return drive->ReadRegister(offset);
}

void IdeChannel::WriteByte(std::uint8_t offset, std::uint8_t value) {
  if (offset == pioport::kDevice) {
    // Both drives on a cable see the device register; DEV picks who answers.
    deviceRegister_ = value;
    for (auto& drive : drives_)
      if (drive) drive->WriteRegister(offset, value);
    return;
  }
  AtaDrive* drive = Selected();
  if (!drive || offset > 7) return;
  if (offset == 0)
    drive->WriteData(value);
  else
    drive->WriteRegister(offset, value);
}

std::uint16_t IdeChannel::ReadWord(std::uint8_t offset) {
  AtaDrive* drive = Selected();
  if (!drive || offset > 7) return 0xFFFF;
  if (offset == 0) return drive->ReadData();
  // A 16-bit read of a byte register: the upper byte floats.
  return static_cast<std::uint16_t>(0xFF00 | drive->ReadRegister(offset));
}

void IdeChannel::WriteWord(std::uint8_t offset, std::uint16_t value) {
  if (offset == 0) {
    if (AtaDrive* drive = Selected()) drive->WriteData(value);
    return;
  }
  WriteByte(offset, static_cast<std::uint8_t>(value));
}

}  // namespace brisquel::sim

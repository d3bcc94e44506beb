#include "sim/PortBus.h"

namespace brisquel::sim {

namespace {
constexpr unsigned kChannelPorts = 8;
}

bool PortBus::MapChannel(std::uint16_t base, std::shared_ptr<IdeChannel> channel) {
  if (!channel || base > 0xFFFF - (kChannelPorts - 1)) {
    return false;
  }
  for (const auto& [other, unused] : channels_) {
    if (base < other + kChannelPorts && other < base + kChannelPorts) {
      return false;
    }
  }
  channels_.emplace(base, std::move(channel));
  return true;
}

IdeChannel* PortBus::ChannelAt(std::uint16_t base) const {
  auto it = channels_.find(base);
  return it == channels_.end() ? nullptr : it->second.get();
}

IdeChannel* PortBus::Decode(std::uint16_t port, std::uint8_t& offset) const {
  if (!library_.ready) {
    return nullptr;
  }
  auto it = channels_.upper_bound(port);
  if (it == channels_.begin()) {
    return nullptr;
  }
  --it;
  if (port - it->first >= static_cast<int>(kChannelPorts)) {
    return nullptr;
  }
  offset = static_cast<std::uint8_t>(port - it->first);
  return it->second.get();
}

void PortBus::Note(PortAccess::Kind kind, std::uint16_t port, std::uint16_t value) {
  if (recording_) {
    accesses_.push_back({kind, port, value});
  }
}

std::uint8_t PortBus::ReadIoPortByte(std::uint16_t port) {
  ++byteReads_;
  std::uint8_t offset = 0;
  IdeChannel* channel = Decode(port, offset);
  const std::uint8_t value = channel ? channel->ReadByte(offset) : 0xFF;
  Note(PortAccess::Kind::readByte, port, value);
  return value;
}

std::uint16_t PortBus::ReadIoPortWord(std::uint16_t port) {
  std::uint8_t offset = 0;
  IdeChannel* channel = Decode(port, offset);
  const std::uint16_t value = channel ? channel->ReadWord(offset) : 0xFFFF;
  Note(PortAccess::Kind::readWord, port, value);
  return value;
}

void PortBus::WriteIoPortByte(std::uint16_t port, std::uint8_t value) {
  std::uint8_t offset = 0;
  if (IdeChannel* channel = Decode(port, offset)) {
    channel->WriteByte(offset, value);
  }
  Note(PortAccess::Kind::writeByte, port, value);
}

void PortBus::WriteIoPortWord(std::uint16_t port, std::uint16_t value) {
  std::uint8_t offset = 0;
  if (IdeChannel* channel = Decode(port, offset)) {
    channel->WriteWord(offset, value);
  }
  Note(PortAccess::Kind::writeWord, port, value);
}

std::uint32_t PortBus::ReadPciConfigDword(std::uint32_t pciAddress, std::uint8_t regAddress) {
  ++pciReads_;
  return library_.ready ? pci_.ReadConfigDword(pciAddress, regAddress) : 0xFFFFFFFF;
}

}  // namespace brisquel::sim

// The disks Linux knows, through libudev: every whole disk that sits on a
// device (loop, ram, zram, device-mapper, md and the like have none and are
// left out, as are optical drives), with its device node, a display name and
// the bus type in the storage bus-type numbering of BusTypeName.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "discovery/DiskEnumerator.h"

struct udev;

namespace brisquel::linuxpt {

// What udev and sysfs say about one disk, gathered so the rules below can be
// tested without a system.
struct DiskFacts {
  std::string sysname;  // "sda"
  std::string idBus;    // ID_BUS
  bool idAtaSata = false;
  // (subsystem, sysname) of each ancestor device, nearest first; subsystem
  // "" for a device without one (libata's "ataN" port).
  std::vector<std::pair<std::string, std::string>> ancestors;
  std::optional<std::string> sataSpeed;  // sata_spd of the disk's ATA link
  std::optional<std::string> mmcType;    // "SD", "MMC"
};

std::uint8_t BusTypeOf(const DiskFacts& facts);

// A listed disk sits on a device and is neither an optical drive nor an eMMC
// boot or RPMB area.
bool IsListedDisk(const DiskFacts& facts);

// sda 0, sdb 1, ... sdz 25, sdaa 26; -1 for any other name.
std::int32_t SdIndex(std::string_view sysname);

// Vendor and model as udev or sysfs give them (blank-padded): the model alone
// when the vendor adds nothing ("ATA", empty, or already part of the model),
// else both, runs of blanks made one; nothing without a model.
std::optional<std::string> FriendlyName(std::string_view vendor, std::string_view model);

// Undoes udev's \xNN escapes (ID_MODEL_ENC and the like).
std::string DecodeUdevEscapes(std::string_view text);

class LinuxDiskEnumerator : public DiskEnumerator {
 public:
  LinuxDiskEnumerator();
  ~LinuxDiskEnumerator() override;
  LinuxDiskEnumerator(const LinuxDiskEnumerator&) = delete;
  LinuxDiskEnumerator& operator=(const LinuxDiskEnumerator&) = delete;

  bool Available() override { return udev_ != nullptr; }
  bool Begin() override;
  DiskStep Query(int index, DiskInterfaceInfo& info) override;
  void End() override { disks_.clear(); }

 private:
  ::udev* udev_ = nullptr;
  std::vector<DiskInterfaceInfo> disks_;
};

}  // namespace brisquel::linuxpt

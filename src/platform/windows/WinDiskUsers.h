// What holds a disk on Windows. Until volumes and page files are read, nothing
// can be told, and a lasting download asks first.
#pragma once

#include <cstdint>
#include <string>

#include "ops/DiskUsers.h"

namespace brisquel::winpt {

class WinDiskUsers : public DiskUsers {
 public:
  DiskUse OfDisk(const std::string&) override { return CannotTell(); }
  DiskUse OfChannel(std::uint16_t) override { return CannotTell(); }

 private:
  static DiskUse CannotTell() {
    return DiskUse::Unknown("this version cannot tell whether Windows uses the disk");
  }
};

}  // namespace brisquel::winpt

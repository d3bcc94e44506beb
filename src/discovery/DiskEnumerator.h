// The platform's walk over the disks it knows. The shared enumeration keeps
// the table rules (41 records, empty records for interfaces that failed, the
// "Disk " fallback name); the platform only answers, per interface index, what
// it found there.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace brisquel {

struct DiskInterfaceInfo {
  std::string devicePath;                    // what the pass-through transports open
  std::optional<std::string> friendlyName;   // none: the "Disk " fallback applies
  std::optional<std::int32_t> deviceNumber;  // none: not a disk, or the number is unknown
  bool adapterValid = false;
  std::uint32_t maxTransferLength = 0;
  std::uint32_t maxPhysicalPages = 0;
  std::uint32_t alignmentMask = 0;
  bool adapterUsesPio = false;
  std::uint8_t busType = 0;  // storage bus-type numbering of BusTypeName
  // A USB disk whose enclosure holds an NVMe drive (its bridge is one of the
  // NVMe bridges the platform knows).
  bool nvmeBehindUsb = false;
};

enum class DiskStep {
  found,        // info is filled
  failed,       // this interface could not be read or opened; its record stays empty
  noMoreItems,  // the walk ends before this index
};

class DiskEnumerator {
 public:
  virtual ~DiskEnumerator() = default;
  // The platform's device library is present (false: every enumeration finds nothing).
  virtual bool Available() = 0;
  // Opens the set of present disk interfaces; false when it cannot be opened.
  virtual bool Begin() = 0;
  virtual DiskStep Query(int index, DiskInterfaceInfo& info) = 0;
  virtual void End() = 0;
};

}  // namespace brisquel

// The bench's disks as the device setup library would list them: one answer
// per interface index, in the bench's order, as many as the bench has.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "discovery/DiskEnumerator.h"
#include "ops/DiskUsers.h"

namespace brisquel::sim {

struct SimDisk {
  DiskInterfaceInfo info;
  bool fails = false;  // the interface cannot be read or its disk opened
  RunningSystem system = RunningSystem::none;
  std::string inUse;   // what holds the disk, as the system would say; empty: nothing
  std::string controller;  // the NVMe controller it is a namespace of; empty: none
};

// The bench's disks, as the system lists them and as it says what holds them.
// A bench drive reached through channel ports is always free.
class SimDiskEnumerator : public DiskEnumerator, public DiskUsers {
 public:
  void Add(SimDisk disk) { disks_.push_back(std::move(disk)); }
  std::vector<SimDisk>& Disks() { return disks_; }
  // The device library is missing: nothing is ever found.
  void SetAvailable(bool available) { available_ = available; }
  // The set of present interfaces cannot be opened.
  void SetDeviceSetOpens(bool opens) { deviceSetOpens_ = opens; }
  // Begin/End calls so far; a test can check that every walk was closed.
  int Begun() const { return begun_; }
  int Ended() const { return ended_; }

  bool Available() override { return available_; }
  bool Begin() override;
  DiskStep Query(int index, DiskInterfaceInfo& info) override;
  void End() override { ++ended_; }

  DiskUse OfDisk(const std::string& devicePath) override;
  DiskUse OfController(const std::string& devicePath) override;
  DiskUse OfChannel(std::uint16_t) override { return DiskUse::Free(); }

 private:
  std::vector<SimDisk> disks_;
  bool available_ = true;
  bool deviceSetOpens_ = true;
  int begun_ = 0;
  int ended_ = 0;
};

}  // namespace brisquel::sim

// A simulated NVMe controller as the admin commands see it: its names, its
// firmware slots and what it says of firmware updates in Identify, the
// Firmware Slot Information log, Firmware Image Download and Commit of the
// bench's firmware images into its slots, and a command it can be told to
// refuse. Other admin commands are refused as a controller refuses an opcode it does
// not have.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "transport/NvmeProtocol.h"
#include "transport/NvmeRequest.h"

namespace brisquel::sim {

struct NvmeIdentity {
  std::string model = "BRISQUEL SIM NVME SSD";
  std::string serial = "SIMNVME0000000000001";
  // Each slot's revision; slots past `slotCount` are not there.
  std::array<std::string, kNvmeMaxSlots> slotRevisions{"1.0"};
  int slotCount = 1;  // 1 to 7
  bool slot1ReadOnly = false;
  bool activateWithoutReset = false;
  bool firmwareCommands = true;  // OACS bit 2
  std::uint8_t fwug = 0;         // 4 KiB units; 0 not said, FFh any
  std::uint8_t mdts = 5;         // 2^n x 4 KiB; 0 no limit
  std::uint16_t mtfa = 0;        // 100 ms units
  int activeSlot = 1;
  int nextSlot = 0;  // activated at the next reset; 0 none
  // What runs when the active slot was written since it was activated: the
  // image it held then, until the next activation.
  std::optional<std::string> running;
};

struct NvmeFaults {
  // This opcode is answered with `refuseStatus`, whatever it asks. A Firmware
  // Commit answered 10Bh, 110h or 111h (a reset needed) still stores the
  // image and marks the slot for the next reset, as a controller does.
  std::optional<std::uint8_t> refuseOpcode;
  NvmeStatus refuseStatus{kNvmeTypeGeneric, kNvmeInternalError, false};
};

class NvmeController {
 public:
  NvmeController() = default;
  explicit NvmeController(NvmeIdentity identity) : identity_(std::move(identity)) {}

  const NvmeIdentity& Identity() const { return identity_; }
  NvmeFaults& Faults() { return faults_; }
  // The revision Identify reports: what runs, the active slot's image as it
  // was when activated.
  std::string Revision() const;

  NvmeAdminAnswer Execute(const NvmeAdminRequest& request);
  // The opcode of every command it was sent, in order.
  const std::vector<std::uint8_t>& History() const { return history_; }

  // Runs the slot marked for the next reset; a partial download is lost.
  void PowerCycle();

  // The slots and which is active and next, as a state file keeps them.
  std::string SaveFirmwareState() const;
  bool LoadFirmwareState(const std::string& text);

 private:
  NvmeAdminAnswer IdentifyController(const NvmeAdminRequest& request) const;
  NvmeAdminAnswer GetLogPage(const NvmeAdminRequest& request) const;
  NvmeAdminAnswer ImageDownload(const NvmeAdminRequest& request);
  NvmeAdminAnswer Commit(const NvmeAdminRequest& request);

  NvmeIdentity identity_;
  NvmeFaults faults_;
  std::vector<std::uint8_t> history_;
  // The image downloaded since the last commit, in the order of its offsets.
  std::vector<std::uint8_t> image_;
};

}  // namespace brisquel::sim

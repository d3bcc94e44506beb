// What an NVMe controller says of itself: its names and what it says of
// firmware updates (Identify Controller), and its firmware slots (the
// Firmware Slot Information log). Read here for Identify and info; the
// firmware update builds on the same facts.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "ops/Identify.h"
#include "transport/NvmeProtocol.h"
#include "transport/TransportState.h"

namespace brisquel {

struct NvmeControllerFacts {
  std::string model, serial, firmware;  // as the log line shows them
  bool firmwareCommands = false;        // OACS bit 2: Image Download and Commit
  bool slot1ReadOnly = false;
  int slotCount = 0;  // FRMW bits 3:1; 0 is no valid controller's answer
  bool activateWithoutReset = false;
  std::uint8_t fwug = 0;  // 4 KiB units; 0 not said, FFh any
  std::uint8_t mdts = 0;  // 2^n minimum pages; 0 no limit
  std::uint16_t mtfa = 0;  // 100 ms units
};

NvmeControllerFacts ControllerFactsOf(std::span<const std::uint8_t, kNvmeIdentifyBytes> data);

struct NvmeSlotLog {
  int activeSlot = 0;
  int nextSlot = 0;  // 0: none
  std::array<std::string, kNvmeMaxSlots> revisions;  // empty: nothing in the slot
};

NvmeSlotLog SlotLogOf(std::span<const std::uint8_t, kNvmeFirmwareSlotLogBytes> data);

// Identify Controller on the target as Identify wants it: the names (none when
// the command failed, and the failure in words). The data stays at the start
// of TransferBuffer.
IdentifyOutcome ReadNvmeIdentity(TransportContext& t);

// What info shows of an NVMe drive: Identify, then the slot log.
struct NvmeInfo {
  IdentifyOutcome identity;
  std::optional<NvmeControllerFacts> controller;  // when Identify answered
  std::optional<NvmeSlotLog> slots;               // when the log was read
  CommandResult logCommand;
  std::string logFailure;  // the log's command did not complete: how, in words
};
NvmeInfo ReadNvmeInfo(TransportContext& t);

// "no limit", "32 pages (128 KiB with 4 KiB pages)"
std::string MdtsText(std::uint8_t mdts);
// "not stated", "any size", "4 KiB"
std::string FwugText(std::uint8_t fwug);
// "not stated", "5000 ms"
std::string MtfaText(std::uint16_t mtfa);

// What WD DPTM on an NVMe drive is refused with, before anything is sent.
std::string NvmeVendorRefusal();

}  // namespace brisquel

// The NVMe admin command set as the program uses it: opcodes, the Identify
// and log page selectors, where the fields it reads sit in their data, and
// the status codes it tells apart. The operations, the backends and the bench
// take them from here.
#pragma once

#include <cstddef>
#include <cstdint>

namespace brisquel {

// Admin opcodes.
inline constexpr std::uint8_t kNvmeGetLogPage = 0x02;
inline constexpr std::uint8_t kNvmeIdentify = 0x06;
inline constexpr std::uint8_t kNvmeFirmwareCommit = 0x10;
inline constexpr std::uint8_t kNvmeFirmwareImageDownload = 0x11;

// Identify: CNS 01h in CDW10 is the controller's data structure.
inline constexpr std::uint8_t kNvmeCnsController = 0x01;
inline constexpr std::size_t kNvmeIdentifyBytes = 4096;

// Identify Controller offsets.
inline constexpr std::size_t kNvmeIdSerial = 4;  // 20 ASCII bytes
inline constexpr std::size_t kNvmeIdSerialBytes = 20;
inline constexpr std::size_t kNvmeIdModel = 24;  // 40
inline constexpr std::size_t kNvmeIdModelBytes = 40;
inline constexpr std::size_t kNvmeIdFirmware = 64;  // 8
inline constexpr std::size_t kNvmeIdFirmwareBytes = 8;
inline constexpr std::size_t kNvmeIdMdts = 77;
inline constexpr std::size_t kNvmeIdOacs = 256;  // 16 bits
inline constexpr std::size_t kNvmeIdFrmw = 260;
inline constexpr std::size_t kNvmeIdMtfa = 270;  // 16 bits, 100 ms units
inline constexpr std::size_t kNvmeIdFwug = 319;  // 4 KiB units
inline constexpr std::uint16_t kNvmeOacsFirmware = 1u << 2;
inline constexpr std::uint8_t kNvmeFrmwSlot1ReadOnly = 1u << 0;
inline constexpr std::uint8_t kNvmeFrmwActivateWithoutReset = 1u << 4;
inline constexpr int kNvmeFrmwSlotsShift = 1;  // bits 3:1
inline constexpr std::uint8_t kNvmeFwugAny = 0xFF;

// Get Log Page: the Firmware Slot Information log.
inline constexpr std::uint8_t kNvmeLogFirmwareSlots = 0x03;
inline constexpr std::size_t kNvmeFirmwareSlotLogBytes = 512;
inline constexpr std::size_t kNvmeSlotLogFirstRevision = 8;  // FRS1; 8 bytes a slot
inline constexpr int kNvmeMaxSlots = 7;

// Status: the type (SCT) and the code (SC).
inline constexpr std::uint8_t kNvmeTypeGeneric = 0;
inline constexpr std::uint8_t kNvmeTypeCommandSpecific = 1;
inline constexpr std::uint8_t kNvmeInvalidOpcode = 0x01;    // generic
inline constexpr std::uint8_t kNvmeInvalidField = 0x02;     // generic
inline constexpr std::uint8_t kNvmeInternalError = 0x06;    // generic
inline constexpr std::uint8_t kNvmeInvalidSlot = 0x06;      // command specific
inline constexpr std::uint8_t kNvmeInvalidImage = 0x07;     // command specific
inline constexpr std::uint8_t kNvmeInvalidLogPage = 0x09;   // command specific
inline constexpr std::uint8_t kNvmeOverlappingRange = 0x14; // command specific
// After a Firmware Commit: the image is stored and waits for this reset.
inline constexpr std::uint8_t kNvmeNeedsConventionalReset = 0x0B;  // command specific
inline constexpr std::uint8_t kNvmeNeedsSubsystemReset = 0x10;     // command specific
inline constexpr std::uint8_t kNvmeNeedsControllerReset = 0x11;    // command specific

// Firmware Commit's actions (CDW10 bits 5:3); the slot is in bits 2:0.
inline constexpr std::uint8_t kNvmeCommitStore = 0;            // store, not activated
inline constexpr std::uint8_t kNvmeCommitStoreAtReset = 1;     // store, activate at the next reset
inline constexpr std::uint8_t kNvmeCommitActivateAtReset = 2;  // the slot's image, at the next reset
inline constexpr std::uint8_t kNvmeCommitActivateNow = 3;      // without a reset
inline constexpr int kNvmeCommitActionShift = 3;

}  // namespace brisquel

// The names of the ATA protocol as the program uses them: opcodes, SMART
// features and log addresses, the vendor channel's signature, the download
// modes, and the bits of the status, error and device registers. The
// operations, the transports, the bench and every view take them from here.
#pragma once

#include <cstdint>

namespace brisquel {

// Opcodes.
inline constexpr std::uint8_t kAtaNop = 0x00;
inline constexpr std::uint8_t kAtaVendorCommand = 0x80;
inline constexpr std::uint8_t kAtaExecuteDiagnostic = 0x90;
inline constexpr std::uint8_t kAtaDownloadMicrocode = 0x92;
inline constexpr std::uint8_t kAtaSmart = 0xB0;
inline constexpr std::uint8_t kAtaCheckPowerMode = 0xE5;
inline constexpr std::uint8_t kAtaFlushCache = 0xE7;
inline constexpr std::uint8_t kAtaIdentifyDevice = 0xEC;
inline constexpr std::uint8_t kAtaSetFeatures = 0xEF;

// SMART: the features, and the key in LBA mid and high without which drives
// refuse the command.
inline constexpr std::uint8_t kSmartReadLog = 0xD5;
inline constexpr std::uint8_t kSmartWriteLog = 0xD6;
inline constexpr std::uint8_t kSmartKeyLbaMid = 0x4F;
inline constexpr std::uint8_t kSmartKeyLbaHigh = 0xC2;

// The vendor channel: its logs, and the signature of the vendor command that
// opens it (in features, LBA mid and LBA high).
inline constexpr std::uint8_t kLogVendorEnable = 0xBB;
inline constexpr std::uint8_t kLogVendorKey = 0xBE;
inline constexpr std::uint8_t kLogVendorData = 0xBF;
inline constexpr std::uint8_t kVendorEnableFeatures = 0x3B;
inline constexpr std::uint8_t kVendorEnableLbaMid = 0x6E;
inline constexpr std::uint8_t kVendorEnableLbaHigh = 0x29;

// DOWNLOAD MICROCODE modes, in the features register.
inline constexpr std::uint8_t kDlmcTemporary = 0x01;
inline constexpr std::uint8_t kDlmcSegmented = 0x03;
inline constexpr std::uint8_t kDlmcPermanent = 0x07;
inline constexpr std::uint8_t kDlmcDeferred = 0x0E;
inline constexpr std::uint8_t kDlmcActivate = 0x0F;

// What the count register says after a segment of DOWNLOAD MICROCODE 03 or 0E.
inline constexpr std::uint8_t kDlmcMoreExpected = 0x01;
inline constexpr std::uint8_t kDlmcApplied = 0x02;
inline constexpr std::uint8_t kDlmcSavedForActivation = 0x03;

// Register offsets from the command-block base port.
namespace pioport {
inline constexpr std::uint16_t kData = 0;
inline constexpr std::uint16_t kFeatures = 1;  // read: error register
inline constexpr std::uint16_t kCount = 2;
inline constexpr std::uint16_t kLbaLow = 3;
inline constexpr std::uint16_t kLbaMid = 4;
inline constexpr std::uint16_t kLbaHigh = 5;
inline constexpr std::uint16_t kDevice = 6;
inline constexpr std::uint16_t kCommand = 7;  // read: status register
}  // namespace pioport

// The device register: bits 7 and 5 set as drives of every age expect, DEV
// (bit 4) picks device 1 on a channel.
inline constexpr std::uint8_t kDeviceRegister = 0xA0;
inline constexpr std::uint8_t kDeviceDev = 0x10;

// Status register.
inline constexpr std::uint8_t kStatusBsy = 0x80;
inline constexpr std::uint8_t kStatusDrdy = 0x40;
inline constexpr std::uint8_t kStatusDf = 0x20;
inline constexpr std::uint8_t kStatusDsc = 0x10;
inline constexpr std::uint8_t kStatusDrq = 0x08;
inline constexpr std::uint8_t kStatusCorr = 0x04;
inline constexpr std::uint8_t kStatusIdx = 0x02;
inline constexpr std::uint8_t kStatusErr = 0x01;
// Nothing drives the bus: every line pulled high.
inline constexpr std::uint8_t kStatusFloating = 0xFF;

// Error register.
inline constexpr std::uint8_t kErrorBbk = 0x80;
inline constexpr std::uint8_t kErrorUnc = 0x40;
inline constexpr std::uint8_t kErrorMc = 0x20;
inline constexpr std::uint8_t kErrorIdnf = 0x10;
inline constexpr std::uint8_t kErrorMcr = 0x08;
inline constexpr std::uint8_t kErrorAbrt = 0x04;
inline constexpr std::uint8_t kErrorTk0nf = 0x02;
inline constexpr std::uint8_t kErrorAmnf = 0x01;

}  // namespace brisquel

#include "transport/AtaCommands.h"

#include "transport/AtaProtocol.h"

namespace brisquel {
namespace {

// A SMART log command: the SMART key in LBA mid and high, 48-bit form.
AtaCommand SmartLog(std::uint8_t feature, std::uint8_t count, std::uint8_t log) {
  AtaCommand c;
  c.regs = {.features = feature,
            .count = count,
            .lbaLow = log,
            .lbaMid = kSmartKeyLbaMid,
            .lbaHigh = kSmartKeyLbaHigh,
            .device = kDeviceRegister,
            .command = kAtaSmart};
  c.form = TaskFileForm::lba48;
  return c;
}

// One sector to or from log 0xBE.
AtaCommand KeyLogSector(std::span<std::uint8_t> sector, DataDirection direction) {
  const bool out = direction == DataDirection::out;
  AtaCommand c = SmartLog(out ? kSmartWriteLog : kSmartReadLog, 1, kLogVendorKey);
  c.direction = direction;
  c.buffer = sector;
  c.length = kSectorSize;
  c.sectors = 1;
  c.pioData = out ? PioData::writeWords : PioData::readWords;
  return c;
}

}  // namespace

AtaCommand IdentifyCommand(std::span<std::uint8_t> sector) {
  AtaCommand c;
  c.regs = {.count = 1, .device = kDeviceRegister, .command = kAtaIdentifyDevice};
  c.direction = DataDirection::in;
  c.buffer = sector;
  c.length = kSectorSize;
  c.sectors = 1;
  c.pioData = PioData::readSector;
  c.pioReadNeedsDrq = true;
  c.pioZeroWhenSkipped = true;
  c.pioTimeLimit = kPowerOnTimeLimit;
  return c;
}

AtaCommand DownloadMicrocodeCommand(std::uint8_t mode, std::uint32_t blocks, std::uint32_t offset,
                                    std::span<std::uint8_t> buffer) {
  AtaCommand c;
  c.regs = {.features = mode,
            .count = static_cast<std::uint8_t>(blocks),
            .lbaLow = static_cast<std::uint8_t>(blocks >> 8),
            .lbaMid = static_cast<std::uint8_t>(offset),
            .lbaHigh = static_cast<std::uint8_t>(offset >> 8),
            .device = kDeviceRegister,
            .command = kAtaDownloadMicrocode};
  c.direction = DataDirection::out;
  c.buffer = buffer;
  c.length = blocks * kSectorSize;
  c.sectors = blocks;
  c.pioData = PioData::writeSectors;
  c.pioDataNeedsNoError = false;
  c.pioReadCount = true;  // the drive's answer: more data expected, applied or saved
  c.timeLimit = kFirmwareWriteTimeLimit;
  c.registersBack = true;
  return c;
}

AtaCommand ActivateMicrocodeCommand() {
  AtaCommand c;
  c.regs = {.features = kDlmcActivate, .device = kDeviceRegister, .command = kAtaDownloadMicrocode};
  c.timeLimit = kFirmwareWriteTimeLimit;
  c.registersBack = true;
  return c;
}

AtaCommand CheckPowerModeCommand() {
  AtaCommand c;
  c.regs = {.device = kDeviceRegister, .command = kAtaCheckPowerMode};
  c.registersBack = true;
  return c;
}

AtaCommand VendorEnableCommand() {
  AtaCommand c;
  c.regs = {.features = kVendorEnableFeatures,
            .lbaMid = kVendorEnableLbaMid,
            .lbaHigh = kVendorEnableLbaHigh,
            .device = kDeviceRegister,
            .command = kAtaVendorCommand};
  c.form = TaskFileForm::lba48;
  return c;
}

AtaCommand VendorEnableByLogCommand() {
  return SmartLog(kSmartReadLog, 0, kLogVendorEnable);
}

AtaCommand WriteKeySectorCommand(std::span<std::uint8_t> sector) {
  AtaCommand c = KeyLogSector(sector, DataDirection::out);
  c.pioDataNeedsNoError = false;
  // The download's key sector may start the drive's flash work, as the data does.
  c.timeLimit = kFirmwareWriteTimeLimit;
  return c;
}

AtaCommand ReadVendorStatusCommand(std::span<std::uint8_t> sector) {
  AtaCommand c = KeyLogSector(sector, DataDirection::in);
  c.pioWaitBeforeCommand = true;
  return c;
}

AtaCommand WriteVendorDataCommand(std::uint8_t sectors, std::span<std::uint8_t> buffer) {
  AtaCommand c = SmartLog(kSmartWriteLog, sectors, kLogVendorData);
  c.direction = DataDirection::out;
  c.buffer = buffer;
  c.length = sectors * std::uint32_t{kSectorSize};
  c.sectors = sectors;
  c.pioData = PioData::writeSectors;
  c.timeLimit = kFirmwareWriteTimeLimit;
  return c;
}

}  // namespace brisquel

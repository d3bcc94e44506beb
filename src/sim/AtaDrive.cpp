// The bench drive. Commands come through a 256-entry table of handlers; one
// execute step applies the rules every command shares (no new command while
// BSY or DRQ is up, faults, the SMART key), and a data transfer hands over to
// a continuation when its last word has moved.
#include "sim/AtaDrive.h"

#include <algorithm>
#include <array>

#include "sim/DriveFirmware.h"
#include "sim/DriveVendorChannel.h"
#include "transport/AtaProtocol.h"
#include "transport/Bytes.h"

namespace brisquel::sim {

namespace {

constexpr std::size_t kSectorBytes = kIdentifyBytes;
constexpr std::size_t kWordsPerSector = 256;
constexpr std::uint32_t kMinSegmentBlocks = 1;
constexpr std::uint32_t kMaxSegmentBlocks = 64;

// A segment size the drive states, or its own limit where it states none.
std::uint32_t SegmentLimit(std::uint16_t stated, std::uint32_t own) {
  return stated == 0 || stated == 0xFFFF ? own : stated;
}

}  // namespace

struct AtaDrive::Impl {
  using Step = void (Impl::*)();

  // Command flags.
  static constexpr std::uint8_t kSmartKey = 0x01;  // needs the SMART key in LBA mid and high

  struct CommandEntry {
    Step handler = nullptr;
    std::uint8_t flags = 0;
  };

  // One task-file register: a second write pushes the first into "previous".
  struct Register {
    std::uint8_t current = 0, previous = 0;
    void Write(std::uint8_t v) {
      previous = current;
      current = v;
    }
  };

  explicit Impl(DriveIdentity id)
      : identity(std::move(id)), firmware{identity.firmware, identity.firmware, std::nullopt} {
    PowerOnRegisters();
  }

  DriveIdentity identity;
  DriveFaults faults;
  std::vector<CommandRecord> history;

  DriveFirmware firmware;

  Register features, count, lbaLow, lbaMid, lbaHigh;
  std::uint8_t device = 0xA0;
  std::uint8_t error = 0x01;
  bool drdy = true, dsc = true, err = false, df = false;

  // Busy for this many status reads yet; hung = busy until stayBusy is lifted.
  std::uint64_t busyReads = 0;
  bool hung = false;

  // The data phase under way.
  bool drq = false;
  bool toHost = false;
  std::vector<std::uint16_t> data;
  std::size_t position = 0, blockEnd = 0;
  Step onTransferEnd = nullptr;

  // Segmented DOWNLOAD MICROCODE (modes 0x03 and 0x0E) in progress.
  ImageCheck segments;
  ImageCheck wholeImage;  // modes 0x01 and 0x07
  // The image check the data under way goes to, block by block.
  ImageCheck* feeding = nullptr;
  std::size_t blockStart = 0;
  std::uint8_t segmentMode = 0;
  std::uint8_t wholeImageMode = 0;  // 0x01 or 0x07, for the command under way

  // The vendor channel, and the status codes it answers for every command.
  DriveVendorChannel vendor;

  // --- status and busy time ------------------------------------------------

  bool Busy() const { return busyReads > 0 || (hung && faults.stayBusy); }

  void StartBusy() {
    busyReads = faults.busyReads;
    hung = faults.stayBusy;
  }

  std::uint8_t Status() const {
    if (Busy()) return kStatusBsy;
    std::uint8_t s = 0;
    if (drdy) s |= kStatusDrdy;
    if (df) s |= kStatusDf;
    if (dsc && !faults.neverSetDsc) s |= kStatusDsc;
    if (drq) s |= kStatusDrq;
    if (err) s |= kStatusErr;
    return s;
  }

  std::uint8_t ReadStatus() {
    std::uint8_t s = Status();
    if (busyReads > 0) --busyReads;
    return s;
  }

  void PowerOnRegisters() {
    // The diagnostic signature of an ATA device after reset.
    features = {};
    count = {1, 0};
    lbaLow = {1, 0};
    lbaMid = {};
    lbaHigh = {};
    error = 0x01;
    drdy = dsc = true;
    err = df = false;
    EndTransfer();
    busyReads = 0;
    hung = false;
  }

  void EndTransfer() {
    drq = false;
    data.clear();
    position = blockStart = blockEnd = 0;
    onTransferEnd = nullptr;
    feeding = nullptr;
  }

  // --- command execution ---------------------------------------------------

  static const std::array<CommandEntry, 256>& Table() {
    static const std::array<CommandEntry, 256> table = [] {
      std::array<CommandEntry, 256> t{};
      t[kAtaNop] = {&Impl::CmdNop, 0};
      t[kAtaVendorCommand] = {&Impl::CmdVendorEnable, 0};
      t[kAtaExecuteDiagnostic] = {&Impl::CmdExecuteDiagnostic, 0};
      t[kAtaDownloadMicrocode] = {&Impl::CmdDownloadMicrocode, 0};
      t[kAtaSmart] = {&Impl::CmdSmart, kSmartKey};
      t[kAtaCheckPowerMode] = {&Impl::CmdCheckPowerMode, 0};
      t[kAtaFlushCache] = {&Impl::CmdComplete, 0};  // nothing cached
      t[kAtaIdentifyDevice] = {&Impl::CmdIdentify, 0};
      t[kAtaSetFeatures] = {&Impl::CmdComplete, 0};  // accepted, nothing to change
      return t;
    }();
    return table;
  }

  void Execute(std::uint8_t command) {
    // The host owns the task file only while BSY and DRQ are clear; a
    // command written otherwise is lost, as on a real drive.
    if (Busy() || drq) return;
    history.push_back({features.current, count.current, lbaLow.current, lbaMid.current,
                       lbaHigh.current, device, command, features.previous, count.previous,
                       lbaLow.previous, lbaMid.previous, lbaHigh.previous});
    error = 0;
    err = df = false;
    dsc = true;  // a command the drive takes runs with seek complete
    StartBusy();
    if (faults.abortCommand == command &&
        (!faults.abortFeatures || faults.abortFeatures == features.current)) {
      Abort();
      return;
    }
    const CommandEntry& entry = Table()[command];
    if (!entry.handler ||
        ((entry.flags & kSmartKey) &&
         (lbaMid.current != kSmartKeyLbaMid || lbaHigh.current != kSmartKeyLbaHigh))) {
      Abort();
      return;
    }
    (this->*entry.handler)();
  }

  void Complete() {
    EndTransfer();
    drdy = dsc = true;
    err = false;
  }

  void Abort() {
    EndTransfer();
    drdy = true;
    dsc = faults.dscAfterAbort;
    err = true;
    error = kErrorAbrt;
  }

  void AbortWithCode(std::uint16_t code) {
    vendor.SetCodes(code);
    Abort();
  }

  void StartTransfer(bool fromDrive, std::size_t words, Step whenDone) {
    if (!fromDrive) data.assign(words, 0);
    toHost = fromDrive;
    position = blockStart = 0;
    blockEnd = std::min(words, kWordsPerSector);
    onTransferEnd = whenDone;
    drq = true;
  }

  // One word moved; at the end of a sector the drive goes busy again, and
  // after the last one the continuation finishes the command.
  void WordMoved() {
    if (++position < blockEnd) return;
    if (feeding) FeedBlock();
    StartBusy();
    if (position < data.size()) {
      blockStart = position;
      blockEnd = std::min(data.size(), position + kWordsPerSector);
      return;
    }
    drq = false;
    Step done = onTransferEnd;
    (this->*done)();
  }

  std::uint16_t ReadData() {
    if (!history.empty()) ++history.back().dataWordsOut;
    if (!drq || !toHost || Busy()) return 0;
    std::uint16_t word = data[position];
    WordMoved();
    return word;
  }

  void WriteData(std::uint16_t word) {
    if (!history.empty()) ++history.back().dataWordsIn;
    if (!drq || toHost || Busy()) return;
    data[position] = word;
    WordMoved();
  }

  // The block just taken, as bytes, to the image check under way.
  void FeedBlock() {
    std::array<std::uint8_t, kSectorBytes> bytes{};
    const std::size_t words = position - blockStart;
    for (std::size_t i = 0; i < words; ++i) PutU16(bytes.data() + 2 * i, data[blockStart + i]);
    feeding->Feed(std::span(bytes).first(2 * words));
  }

  std::vector<std::uint8_t> DataBytes() const {
    std::vector<std::uint8_t> bytes(data.size() * 2);
    for (std::size_t i = 0; i < data.size(); ++i) PutU16(bytes.data() + 2 * i, data[i]);
    return bytes;
  }

  void SendToHost(std::span<const std::uint8_t> bytes) {
    data.assign(bytes.size() / 2, 0);
    for (std::size_t i = 0; i < data.size(); ++i)
      data[i] = static_cast<std::uint16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
    StartTransfer(true, data.size(), &Impl::Complete);
  }

  // --- simple commands -----------------------------------------------------

  void CmdNop() { Abort(); }  // NOP always ends aborted
  void CmdComplete() { Complete(); }
  void CmdCheckPowerMode() {
    Complete();
    count.current = 0xFF;  // active or idle
  }
  void CmdExecuteDiagnostic() {
    Complete();
    error = 0x01;  // device 0 passed
  }

  // --- IDENTIFY DEVICE -----------------------------------------------------

  void CmdIdentify() {
    auto bytes = IdentifySector(identity, firmware.active);
    switch (faults.identifyData) {
      case DriveFaults::IdentifyData::zeros:
        bytes.fill(0x00);
        break;
      case DriveFaults::IdentifyData::ones:
        bytes.fill(0xFF);
        break;
      case DriveFaults::IdentifyData::badChecksum:
        bytes[511] = static_cast<std::uint8_t>(bytes[511] + 1);
        break;
      case DriveFaults::IdentifyData::asBuilt:
        break;
    }
    SendToHost(bytes);
  }

  // --- DOWNLOAD MICROCODE --------------------------------------------------

  void CmdDownloadMicrocode() {
    const std::uint8_t mode = features.current;
    const std::uint32_t blocks = count.current | lbaLow.current << 8;
    const std::uint32_t offset = lbaMid.current | lbaHigh.current << 8;
    if (!identity.dlmcSupported) return Abort();
    switch (mode) {
      case 0x0F:
        if (!firmware.deferred) return AbortWithCode(kOvmPermanentNotLoaded);
        firmware.active = firmware.permanent = *firmware.deferred;
        firmware.deferred.reset();
        Complete();
        count.current = kDlmcApplied;
        return;
      case 0x01:
      case 0x07:
        if (blocks == 0) return AbortWithCode(kHostInvalidSectorCount);
        wholeImageMode = mode;
        wholeImage.Reset();
        StartTransfer(false, blocks * kWordsPerSector, &Impl::WholeImageReceived);
        feeding = &wholeImage;
        return;
      case 0x03:
      case 0x0E:
        if (!identity.offsetsSupported) return AbortWithCode(kHostUnsupportedFeature);
        if (blocks < SegmentLimit(identity.segmentMin, kMinSegmentBlocks) ||
            blocks > SegmentLimit(identity.segmentMax, kMaxSegmentBlocks))
          return AbortWithCode(kHostInvalidSectorCount);
        if (offset == 0) {
          segments.Reset();
          segmentMode = mode;
        } else if (mode != segmentMode || offset * kSectorBytes != segments.Received()) {
          // Segments come in order, from offset 0, in one mode.
          segments.Reset();
          return AbortWithCode(kVscOffsetNotFromZero);
        }
        StartTransfer(false, blocks * kWordsPerSector, &Impl::SegmentReceived);
        feeding = &segments;
        return;
      default:
        return AbortWithCode(kHostUnsupportedFeature);
    }
  }

  // Refuses an image the firmware cannot take, with the codes that say why.
  // One it takes keeps the drive busy while it goes to flash.
  bool AcceptImage(const BenchFirmwareVerdict& verdict) {
    if (verdict.check == BenchFirmwareCheck::valid) {
      vendor.SetCodes(kVscSuccess);
      busyReads += std::uint64_t{faults.flashSeconds} * kStatusReadsPerSecond;
      return true;
    }
    vendor.SetCodes(kDptmFailedToProcess,
                    verdict.check == BenchFirmwareCheck::badChecksum ? kFmChecksum
                    : verdict.check == BenchFirmwareCheck::tooShort  ? kFmPartialFileExceedsEof
                                                                     : kFmNotFlashFile);
    return false;
  }

  void WholeImageReceived() {
    auto verdict = wholeImage.Verdict();
    if (!AcceptImage(verdict)) return Abort();
    firmware.active = verdict.revision;
    if (wholeImageMode == 0x07) firmware.permanent = verdict.revision;
    Complete();
    count.current = kDlmcApplied;
  }

  void SegmentReceived() {
    ReceiveSegment();
    if (faults.segmentAnswer && !err) count.current = *faults.segmentAnswer;
  }

  void ReceiveSegment() {
    auto verdict = segments.Verdict();
    if (verdict.check == BenchFirmwareCheck::tooShort) {
      Complete();
      count.current = kDlmcMoreExpected;
      return;
    }
    segments.Reset();
    if (!AcceptImage(verdict)) return Abort();
    if (segmentMode == 0x0E) {
      firmware.deferred = verdict.revision;
      Complete();
      count.current = kDlmcSavedForActivation;
      return;
    }
    firmware.active = firmware.permanent = verdict.revision;
    Complete();
    count.current = kDlmcApplied;
  }

  // --- vendor command channel ----------------------------------------------

  void CmdVendorEnable() {
    if (features.current != kVendorEnableFeatures || lbaMid.current != kVendorEnableLbaMid ||
        lbaHigh.current != kVendorEnableLbaHigh)
      return Abort();
    vendor.OpenMode();
    Complete();
  }

  void CmdSmart() {
    switch (features.current) {
      case kSmartReadLog:
        return SmartReadLog();
      case kSmartWriteLog:
        return SmartWriteLog();
      case 0xD8:  // SMART ENABLE OPERATIONS
        return Complete();
      case 0xDA:  // SMART RETURN STATUS: no threshold exceeded
        Complete();
        lbaMid.current = kSmartKeyLbaMid;
        lbaHigh.current = kSmartKeyLbaHigh;
        return;
      default:
        return Abort();
    }
  }

  void SmartReadLog() {
    const std::uint8_t log = lbaLow.current;
    if (log == kLogVendorEnable && count.current == 0) {
      // The other way into vendor command mode, non-data.
      vendor.OpenMode();
      return Complete();
    }
    const auto status = vendor.StatusSectors(log, count.current, faults);
    if (!status) return Abort();
    SendToHost(*status);
  }

  void SmartWriteLog() {
    const std::uint32_t sectors = count.current;
    const DriveVendorChannel::Write write = vendor.StartWrite(lbaLow.current, sectors);
    switch (write.kind) {
      case DriveVendorChannel::Write::Kind::refused:
        return Abort();
      case DriveVendorChannel::Write::Kind::refusedWithCode:
        return AbortWithCode(write.code);
      case DriveVendorChannel::Write::Kind::keySector:
        return StartTransfer(false, kWordsPerSector, &Impl::KeySectorReceived);
      case DriveVendorChannel::Write::Kind::data:
        break;
    }
    StartTransfer(false, sectors * kWordsPerSector, &Impl::VendorDataReceived);
    feeding = &vendor.Image();
  }

  void KeySectorReceived() {
    vendor.KeySector(DataBytes(), faults);
    Complete();
  }

  void VendorDataReceived() {
    const auto verdict =
        vendor.DataReceived(static_cast<std::uint32_t>(data.size() / kWordsPerSector));
    if (verdict && AcceptImage(*verdict)) firmware.active = firmware.permanent = verdict->revision;
    Complete();
  }

  // --- register access -----------------------------------------------------

  void WriteRegister(std::uint8_t offset, std::uint8_t value) {
    if (Busy() && offset != 7) return;  // the drive owns the task file while busy
    switch (offset) {
      case 1: features.Write(value); break;
      case 2: count.Write(value); break;
      case 3: lbaLow.Write(value); break;
      case 4: lbaMid.Write(value); break;
      case 5: lbaHigh.Write(value); break;
      case 6: device = value; break;
      case 7: Execute(value); break;
      default: break;
    }
  }

  std::uint8_t ReadRegister(std::uint8_t offset) {
    if (offset == 7) return ReadStatus();
    if (Busy()) return Status();  // while BSY every register reads as status
    switch (offset) {
      case 1: return error;
      case 2: return count.current;
      case 3: return lbaLow.current;
      case 4: return lbaMid.current;
      case 5: return lbaHigh.current;
      case 6: return device;
      default: return 0xFF;
    }
  }
};

AtaDrive::AtaDrive(DriveIdentity identity) : impl_(std::make_unique<Impl>(std::move(identity))) {}
AtaDrive::~AtaDrive() = default;

void AtaDrive::WriteRegister(std::uint8_t offset, std::uint8_t value) {
  impl_->WriteRegister(offset, value);
}
std::uint8_t AtaDrive::ReadRegister(std::uint8_t offset) { return impl_->ReadRegister(offset); }
void AtaDrive::WriteData(std::uint16_t word) { impl_->WriteData(word); }
std::uint16_t AtaDrive::ReadData() { return impl_->ReadData(); }

DriveFaults& AtaDrive::Faults() { return impl_->faults; }
const DriveIdentity& AtaDrive::Identity() const { return impl_->identity; }
std::string AtaDrive::FirmwareRevision() const { return impl_->firmware.active; }
std::string AtaDrive::PermanentRevision() const { return impl_->firmware.permanent; }
std::optional<std::string> AtaDrive::DeferredRevision() const { return impl_->firmware.deferred; }
bool AtaDrive::VendorMode() const { return impl_->vendor.Open(); }
const std::vector<AtaDrive::CommandRecord>& AtaDrive::History() const { return impl_->history; }

void AtaDrive::SoftReset() {
  impl_->PowerOnRegisters();
  impl_->segments.Reset();
}

void AtaDrive::PowerCycle() {
  impl_->PowerOnRegisters();
  impl_->segments.Reset();
  impl_->firmware.active = impl_->firmware.permanent;
  impl_->vendor.PowerCycle();
}

std::string AtaDrive::SaveFirmwareState() const { return impl_->firmware.Save(); }

bool AtaDrive::LoadFirmwareState(const std::string& text) {
  const std::optional<DriveFirmware> loaded = DriveFirmware::Load(text);
  if (loaded) impl_->firmware = *loaded;
  return loaded.has_value();
}

}  // namespace brisquel::sim

// One simulated drive reachable over all three transports (on the channel at
// 0x1F0, as a SATA disk, and behind a USB bridge), the records, a scripted
// window and a scratch directory for firmware files: what every whole-operation
// test starts from.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <span>
#include <string>
#include <vector>

#include "ops/FakeOperationHost.h"
#include "ops/OperationContext.h"
#include "ops/UpdateProcedure.h"
#include "sim/Bench.h"

namespace brisquel::test {

inline const char* TransportName(TransportKind kind) {
  switch (kind) {
    case TransportKind::ataPassThrough:
      return "AtaPassThrough";
    case TransportKind::scsiPassThrough:
      return "ScsiPassThrough";
    case TransportKind::pio:
      return "Pio";
    case TransportKind::nvme:
      return "Nvme";
  }
  return "?";
}

// Whole-operation tests run on each transport in turn.
inline const auto kAllTransports = ::testing::Values(
    TransportKind::pio, TransportKind::ataPassThrough, TransportKind::scsiPassThrough);
struct TransportParamName {
  std::string operator()(const ::testing::TestParamInfo<TransportKind>& info) const {
    return TransportName(info.param);
  }
};

// The view's answers to the update procedure: scripted, and what was asked.
class FakeUpdateQuestions : public UpdateQuestions {
 public:
  bool SendAnyway(const std::vector<std::string>& why) override {
    asked.insert(asked.end(), why.begin(), why.end());
    return sendAnyway;
  }
  bool SendToSystemDisk(const std::string& why) override {
    systemDiskAsked.push_back(why);
    return sendToSystemDisk;
  }
  bool GoAhead(const UpdateReport&) override {
    ++goAheads;
    return goAhead;
  }

  bool sendAnyway = false;
  bool sendToSystemDisk = false;
  bool goAhead = true;
  std::vector<std::string> asked;
  std::vector<std::string> systemDiskAsked;
  int goAheads = 0;
};

class OpsBench {
 public:
  // The disks' queues take `maxTransfer` bytes in one command; by default a
  // whole image of any size the transfer buffer holds.
  explicit OpsBench(TransportKind kind, sim::DriveIdentity identity = {},
                    std::uint32_t maxTransfer = kTransferBufferSize)
      : bench(Describe(OfTheVendor(std::move(identity)), maxTransfer)),
        drive(*bench.Drive("d")),
        dir_(MakeDir()) {
    DriveTarget& target = state.DriveTarget;
    target.kind = kind;
    if (kind == TransportKind::pio) {
      target.basePort = 0x1F0;
      target.slave = false;
    } else if (kind == TransportKind::ataPassThrough) {
      target.ataPassHandle = Open("sim:sata");
    } else {
      target.scsiHandle = Open("sim:usb");
    }
  }
  ~OpsBench() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  // Writes a firmware file into the scratch directory and returns its path.
  std::string File(const std::string& name, std::span<const std::uint8_t> bytes) const {
    const auto path = dir_ / name;
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return path.string();
  }
  std::string Missing(const std::string& name) const { return (dir_ / name).string(); }

  // The commands the drive started with this opcode (and features, when given).
  std::vector<sim::AtaDrive::CommandRecord> Commands(std::uint8_t command, int features = -1,
                                                     int lbaLow = -1) const {
    std::vector<sim::AtaDrive::CommandRecord> found;
    for (const auto& c : drive.History()) {
      if (c.command == command && (features < 0 || c.features == features) &&
          (lbaLow < 0 || c.lbaLow == lbaLow)) {
        found.push_back(c);
      }
    }
    return found;
  }

  // A click on DLMC (a mode, or none for a typed text) or WD DPTM, through the
  // whole update procedure, on the target the constructor selected, with its
  // disk's largest transfer as the views pass it.
  UpdateReport Update(UpdateRequest request) {
    if (state.DriveTarget.kind != TransportKind::pio) {
      const bool sata = state.DriveTarget.kind == TransportKind::ataPassThrough;
      if (!request.devicePath) request.devicePath = sata ? "sim:sata" : "sim:usb";
      if (request.queueBytes == 0) {
        request.queueBytes = bench.Disks().Disks()[sata ? 0 : 1].info.maxTransferLength;
      }
    }
    return RunUpdate(update, request);
  }
  DownloadOutcome Dlmc(std::optional<std::uint8_t> mode) {
    UpdateRequest request;
    request.mode = mode;
    return Update(request).download;
  }
  DownloadOutcome Dptm() {
    UpdateRequest request;
    request.kind = UpdateRequest::Kind::vendor;
    return Update(request).download;
  }

  sim::Bench bench;
  TransportState state;
  FakeOperationHost host{state.BreakFlag};
  OperationContext ctx{state, bench.Ports(), bench.Io(), host};
  FakeUpdateQuestions questions;
  UpdateContext update{ctx, questions, bench.Users(), bench.Clock()};
  sim::AtaDrive& drive;

 private:
  // A drive of the maker whose vendor channel the standard download unlocks,
  // unless the test names a model of its own.
  static sim::DriveIdentity OfTheVendor(sim::DriveIdentity identity) {
    if (identity.model == sim::DriveIdentity{}.model) identity.model = "WDC WD5000AAKX-00SIMB0";
    return identity;
  }
  static sim::BenchDescription Describe(sim::DriveIdentity identity, std::uint32_t maxTransfer) {
    sim::BenchDescription d;
    d.drives.push_back({"d", std::move(identity), {}});
    sim::BenchChannel channel;
    channel.basePort = 0x1F0;
    channel.device[0] = "d";
    d.channels.push_back(channel);
    d.bridges.push_back({"enclosure", {}});
    sim::BenchDisk sata;
    sata.path = "sim:sata";
    sata.drive = "d";
    sata.maxTransferLength = maxTransfer;
    d.disks.push_back(sata);
    sim::BenchDisk usb;
    usb.path = "sim:usb";
    usb.drive = "d";
    usb.bridge = "enclosure";
    usb.busType = 7;
    usb.maxTransferLength = maxTransfer;
    d.disks.push_back(usb);
    return d;
  }
  OsHandle Open(const std::string& path) {
    return bench.Io().CreateFileA(path, GENERIC_ALL_, FILE_SHARE_READ_ | FILE_SHARE_WRITE_,
                                  OPEN_EXISTING_, FILE_ATTRIBUTE_NORMAL_);
  }
  static std::filesystem::path MakeDir() {
    static std::atomic<int> counter{0};
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = "brisquel-ops-" + std::to_string(counter++);
    if (info) name += std::string("-") + info->name();
    for (char& c : name) {
      if (c == '/') c = '_';
    }
    const auto dir = std::filesystem::temp_directory_path() / name;
    std::filesystem::create_directories(dir);
    return dir;
  }

  std::filesystem::path dir_;
};

// A bench firmware image whose bytes from `keep` on are zero, its checksum made
// over those zeros, cut to its first `keep` bytes: the drive takes it only if
// the bytes past the end of the cut file arrive as zeros.
inline std::vector<std::uint8_t> FirmwareCutAt(const std::string& revision, std::uint32_t blocks,
                                               std::size_t keep) {
  std::vector<std::uint8_t> image = sim::MakeBenchFirmware(revision, blocks);
  std::fill(image.begin() + static_cast<std::ptrdiff_t>(keep), image.end(), std::uint8_t{0});
  std::fill(image.begin() + 20, image.begin() + 24, std::uint8_t{0});
  std::uint32_t crc = 0xFFFFFFFFu;  // CRC-32 (IEEE), the checksum field read as zero
  for (std::uint8_t byte : image) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  crc = ~crc;
  for (int i = 0; i < 4; ++i) image[20 + i] = static_cast<std::uint8_t>(crc >> (8 * i));
  image.resize(keep);
  return image;
}

}  // namespace brisquel::test

// A host for the bench drive's own tests: it reaches the drive through the
// channel's ports only, as the PIO transport does (task file, status polls,
// 16-bit data words).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "sim/IdeChannel.h"
#include "transport/AtaTypes.h"

namespace brisquel::sim::drivetest {

inline constexpr std::uint8_t kBsy = 0x80, kDrdy = 0x40, kDsc = 0x10, kDrq = 0x08, kErr = 0x01;
inline constexpr std::uint8_t kAbrt = 0x04;

struct DriveHost {
  explicit DriveHost(DriveIdentity identity = {})
      : drive(std::make_shared<AtaDrive>(std::move(identity))) {
    channel.Attach(0, drive);
  }

  void Issue(const AtaTaskFile& tf, bool lba48 = false) {
    channel.WriteByte(6, tf.device);
    if (lba48) {
      const std::uint8_t prev[] = {tf.featuresPrev, tf.countPrev, tf.lbaLowPrev, tf.lbaMidPrev,
                                   tf.lbaHighPrev};
      for (std::uint8_t i = 0; i < 5; ++i) channel.WriteByte(i + 1, prev[i]);
    }
    const std::uint8_t cur[] = {tf.features, tf.count, tf.lbaLow, tf.lbaMid, tf.lbaHigh};
    for (std::uint8_t i = 0; i < 5; ++i) channel.WriteByte(i + 1, cur[i]);
    channel.WriteByte(7, tf.command);
  }

  // Polls until BSY clears; polls counts the reads that showed BSY.
  std::uint8_t WaitNotBusy(unsigned limit = 1000) {
    polls = 0;
    std::uint8_t status = channel.ReadByte(7);
    while ((status & kBsy) && polls < limit) {
      ++polls;
      status = channel.ReadByte(7);
    }
    return status;
  }

  // The whole command: task file, data phase sector by sector while the drive
  // asks for it, and the final status.
  std::uint8_t Run(const AtaTaskFile& tf, std::span<const std::uint8_t> out = {},
                   std::vector<std::uint8_t>* in = nullptr, unsigned limit = 1000) {
    Issue(tf);
    std::uint8_t status = WaitNotBusy(limit);
    std::size_t at = 0;
    while ((status & kDrq) && !(status & kBsy)) {
      if (in) {
        for (int i = 0; i < 256; ++i) {
          std::uint16_t w = channel.ReadWord(0);
          in->push_back(static_cast<std::uint8_t>(w));
          in->push_back(static_cast<std::uint8_t>(w >> 8));
        }
      } else {
        for (int i = 0; i < 256; ++i, at += 2) {
          std::uint16_t w = at + 1 < out.size() ? out[at] | out[at + 1] << 8 : 0;
          channel.WriteWord(0, w);
        }
      }
      status = WaitNotBusy(limit);
    }
    return status;
  }

  std::uint8_t Error() { return channel.ReadByte(1); }

  IdeChannel channel;
  std::shared_ptr<AtaDrive> drive;
  unsigned polls = 0;
};

inline AtaTaskFile Command(std::uint8_t command, std::uint8_t features = 0, std::uint8_t count = 0,
                           std::uint8_t lbaLow = 0, std::uint8_t lbaMid = 0,
                           std::uint8_t lbaHigh = 0) {
  AtaTaskFile tf;
  tf.features = features;
  tf.count = count;
  tf.lbaLow = lbaLow;
  tf.lbaMid = lbaMid;
  tf.lbaHigh = lbaHigh;
  tf.device = 0xA0;
  tf.command = command;
  return tf;
}

// An ATA string field: two characters per word, the high byte first.
inline std::string AtaString(const std::vector<std::uint8_t>& sector, int firstWord, int words) {
  std::string text;
  for (int w = firstWord; w < firstWord + words; ++w) {
    text += static_cast<char>(sector[2 * w + 1]);  // high byte first
    text += static_cast<char>(sector[2 * w]);
  }
  return text;
}

inline AtaTaskFile Identify() { return Command(0xEC, 0, 1); }
inline AtaTaskFile SmartLog(std::uint8_t features, std::uint8_t log, std::uint8_t count) {
  return Command(0xB0, features, count, log, 0x4F, 0xC2);
}
inline AtaTaskFile VendorEnable() { return Command(0x80, 0x3B, 0, 0, 0x6E, 0x29); }

}  // namespace brisquel::sim::drivetest

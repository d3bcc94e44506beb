// The recording text: what is written reads back, what is malformed is
// refused with its line, IDENTIFY data leaves without what names the drive.
#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

#include "transport/CommandRecorder.h"
#include "transport/Recording.h"

namespace brisquel {
namespace {

RecordedCommand ScsiIdentify() {
  RecordedCommand c;
  c.kind = RecordedKind::scsi;
  c.cdb = {0xA1, 0x08, 0x0E, 0, 1, 0, 0, 0, 0xA0, 0xEC};
  c.direction = DataDirection::in;
  c.length = 512;
  c.timeLimit = 5;
  c.moved = 40;
  c.data.resize(40);
  std::iota(c.data.begin(), c.data.end(), std::uint8_t{1});
  return c;
}

RecordedCommand AtaDownload() {
  RecordedCommand c;
  c.regs = {.features = 0x03, .count = 0x40, .device = 0xA0, .command = 0x92};
  c.direction = DataDirection::out;
  c.length = 32768;
  c.timeLimit = 120;
  c.dataHash = 0x0123456789ABCDEFull;
  c.delivered = false;
  c.systemError = 1117;
  c.returned = {.features = 0x04, .count = 0x01, .device = 0xA0, .command = 0x51};
  c.registersReturned = true;
  return c;
}

RecordedCommand PioVendor() {
  RecordedCommand c;
  c.kind = RecordedKind::pio;
  c.regs = {.features = 0xD6, .count = 1, .lbaLow = 0xBE, .lbaMid = 0x4F, .lbaHigh = 0xC2,
            .device = 0xE0, .command = 0xB0, .featuresPrev = 0x57};
  c.lba48 = true;
  c.returned = {.features = 0x00, .command = 0x50};
  c.count = 0x02;
  return c;
}

std::string Text(const RecordedTarget& target, const std::vector<RecordedCommand>& commands) {
  std::string text = RecordingTargetLines(target);
  for (const RecordedCommand& c : commands) text += RecordedOutLine(c) + RecordedBackLines(c);
  return text;
}

TEST(Recording, WhatIsWrittenReadsBack) {
  const std::vector<RecordedCommand> commands = {ScsiIdentify(), AtaDownload(), PioVendor()};
  const std::string text = Text({.busType = 7, .maxTransfer = 65536}, commands);
  const std::string start =
      "# brisquel recording 1\ntarget drive bus 7 max-transfer 65536\n"
      "> scsi cdb A1080E0001000000A0EC dir in length 512 limit 5\n";
  EXPECT_EQ(text.substr(0, start.size()), start);
  // 32 bytes of data a line.
  EXPECT_NE(text.find("< scsi system - status 00 sense - moved 40\n= 0102"), std::string::npos);
  EXPECT_NE(text.find("\n= 2122232425262728\n"), std::string::npos) << text;

  const RecordingRead read = ReadRecording(text);
  ASSERT_TRUE(read.recording) << read.error;
  ASSERT_EQ(read.recording->commands.size(), 3u);
  EXPECT_EQ(Text(read.recording->target, read.recording->commands), text);
  for (std::size_t i = 0; i < commands.size(); ++i) {
    EXPECT_EQ(RecordedOutLine(read.recording->commands[i]), RecordedOutLine(commands[i])) << i;
  }
  const RecordedCommand& pio = read.recording->commands[2];
  EXPECT_EQ(pio.count, std::optional<std::uint8_t>(0x02));
  EXPECT_EQ(pio.regs.featuresPrev, 0x57);
  EXPECT_EQ(read.recording->commands[0].data, commands[0].data);

  const RecordingRead channel = ReadRecording(Text({.channel = true, .basePort = 0x170, .device1 = true}, {}));
  ASSERT_TRUE(channel.recording) << channel.error;
  EXPECT_EQ(channel.recording->target.basePort, 0x170);
  EXPECT_TRUE(channel.recording->target.device1);
}

TEST(Recording, MalformedTextIsRefusedWithItsLine) {
  const std::string head = "# brisquel recording 1\ntarget drive bus 7\n";
  const std::string out = "> ata regs 00 01 00 00 00 A0 EC dir in length 512 limit 5 back no\n";
  struct Case {
    std::string text, error;
  };
  const Case cases[] = {
      {"# brisquel bench\n", "line 1: not a recording"},
      {"# brisquel recording 1\n" + out, "line 2: a command before the target"},
      {head + "target drive bus 1\n", "line 3: a second target"},
      {"# brisquel recording 1\ntarget disk\n", "line 2: target needs drive or channel"},
      {"# brisquel recording 1\ntarget channel 01F0 device 2\n", "line 2: device: \"2\""},
      {head + out, "the last command has no answer"},
      {head + out + out, "line 4: a command before the previous one's answer"},
      {head + "< ata system - regs 00 00 00 00 00 00 50 returned no moved 0\n",
       "line 3: an answer without its command"},
      {head + out + "< scsi system - status 00 sense - moved 0\n",
       "line 4: the answer is not of its command's kind"},
      {head + out + "< ata system - regs 00 00 00 00 00 00 50 returned no moved 513\n",
       "line 4: moved: \"513\""},
      {head + out + "< ata system - regs 00 00 00 00 00 00 50 returned no moved 2\n= 0102FF\n",
       "line 5: more data than the answer moved"},
      {head + out + "< ata system - regs 00 00 00 00 00 00 50 returned no moved 2\n= 0G\n",
       "line 5: data: \"0G\""},
      {head + "> ata regs 00 01 00 00 00 A0 dir in length 512 limit 5\n",
       "line 3: unknown field \"in\""},
      {head + "> ata regs 00 01 00 00 00 A0 EC dir out length 512 limit 5\n",
       "line 3: data sent, and only data sent, comes with its hash"},
      {head + "> scsi cdb A1 dir none length 0 limit 5 limit 6\n", "line 3: field limit given twice"},
      {head + "> scsi dir none length 0 limit 5\n", "line 3: field cdb is missing"},
      {head + "> usb regs\n", "line 3: expected ata, scsi, pio or nvme"},
      {head + "> ata regs 00 01\n", "line 3: field regs needs 7 values"},
      {head + "> nvme opcode 06 nsid 0 cdw 1 2 dir none length 0 limit 5\n",
       "line 3: cdw: \"dir\" is not a hexadecimal number"},
      {head + "> nvme opcode 06 nsid 0 cdw 1 0 0 0 0 0 dir none length 0 limit 5\n"
              "< nvme system - status 8000 result 0 moved 0\n",
       "line 4: status: \"8000\" is not a hexadecimal number up to 32767"},
      {head + "hello\n", "line 3: unknown line \"hello\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const RecordingRead read = ReadRecording(c.text);
    EXPECT_FALSE(read.recording);
    EXPECT_NE(read.error.find(c.error), std::string::npos) << read.error;
  }
}

TEST(CommandRecorder, IdentifyDataLosesTheSerialAndTheDrivesOwnNameNotItsMaker) {
  std::vector<std::uint8_t> sector(512, 0);
  const std::string serial = "WD-WCSIM0000003     ";
  for (std::size_t i = 0; i < 20; ++i) sector[20 + i] = static_cast<std::uint8_t>(serial[i]);
  // WWN 50014EE1 23456789: NAA 5, the maker's OUI 0014EE, then the drive's own 36 bits.
  const std::uint8_t wwn[8] = {0x01, 0x50, 0xE1, 0x4E, 0x45, 0x23, 0x89, 0x67};
  std::copy(std::begin(wwn), std::end(wwn), sector.begin() + 216);
  sector[510] = 0xA5;
  MaskIdentifyData(sector);
  EXPECT_EQ(std::string(sector.begin() + 20, sector.begin() + 40), "XXXXXXXXXXXXXXX     ");
  const std::vector<std::uint8_t> kept(sector.begin() + 216, sector.begin() + 224);
  EXPECT_EQ(kept, (std::vector<std::uint8_t>{0x01, 0x50, 0xE0, 0x4E, 0, 0, 0, 0}));
  EXPECT_EQ(std::accumulate(sector.begin(), sector.end(), 0u) % 256, 0u);
  EXPECT_EQ(Fnv1a64(std::vector<std::uint8_t>{}), 0xCBF29CE484222325ull);
  EXPECT_EQ(Fnv1a64(std::vector<std::uint8_t>{'a'}), 0xAF63DC4C8601EC8Cull);
}

}  // namespace
}  // namespace brisquel

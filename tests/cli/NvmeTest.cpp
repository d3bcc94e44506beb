// NVMe drives from the command line: Identify, info, the refusals, an NVMe
// drive in a USB enclosure, and a recording of them played back.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cli/CliRunner.h"

namespace brisquel::cli::test {
namespace {

const std::string kNvmeLine = "WDC WDS500G2B0C-00SIMD0 FW:211070WD SN:WD-SIMNVME00000004";
const std::string kDefaultInfo =
    "Bus Type:NVMe\n"
    "model\tWDC WDS500G2B0C-00SIMD0\n"
    "firmware\t211070WD\n"
    "serial\tWD-SIMNVME00000004\n"
    "transport\tNVMe admin commands\n"
    "firmware-commands\tyes\n"
    "slots\t2\n"
    "slot1-read-only\tyes\n"
    "activate-without-reset\tno\n"
    "fwug\t4 KiB\n"
    "mdts\t32 pages (128 KiB with 4 KiB pages)\n"
    "mtfa\t5000 ms\n"
    "active-slot\t2\n"
    "next-slot\tnone\n"
    "slot1\t211050WD\n"
    "slot2\t211070WD\n";

TEST(CliNvme, IdentifyInfoAndTheRefusalsOnBenches) {
  CliRunner cli;
  const std::string image = cli.WriteFile("fw.bin", std::vector<std::uint8_t>(4096, 0x5A)).string();
  const std::string nvme =
      "[nvme n]\nmodel = SIM NVMe 2\nserial = SN2\nslots = 3\nslot1 = R1\nslot3 = R3\n"
      "active-slot = 3\nnext-slot = 1\nactivate-without-reset = yes\nfirmware-commands = no\n"
      "fwug = 255\nmdts = 0\n";
  cli.WriteFile("three.ini", nvme + "[disk]\nnvme = n\n");
  cli.WriteFile("nolog.ini",
                nvme + "refuse-opcode = 02\nrefuse-status = 4109\n[disk]\nnvme = n\n");
  cli.WriteFile("noid.ini", nvme + "refuse-opcode = 06\nrefuse-status = 0006\n[disk]\nnvme = n\n");
  cli.WriteFile("usb.ini", nvme + "[bridge b]\n[disk]\nnvme = n\nbridge = b\nbus = USB\n");
  const std::string dir = cli.Dir().string() + "/";
  const char* const dlmcWhy =
      "DOWNLOAD MICROCODE is an ATA command, which an NVMe drive does not take; its firmware is "
      "updated with Firmware Image Download and Commit, which this version does not send yet";
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    std::string out;
    std::string errContains;  // empty: no stderr at all
  };
  const Case cases[] = {
      {{"--sim", "identify", "--drive", "3"}, 0, "Bus Type:NVMe\n" + kNvmeLine + "\n\n", ""},
      {{"--sim", "info", "--drive", "3"}, 0, kDefaultInfo, ""},
      {{"--sim=" + dir + "three.ini", "info", "--drive", "0"}, 0,
       "Bus Type:NVMe\nmodel\tSIM NVMe 2\nfirmware\tR3\nserial\tSN2\ntransport\tNVMe admin "
       "commands\nfirmware-commands\tno\nslots\t3\nslot1-read-only\tno\n"
       "activate-without-reset\tyes\nfwug\tany size\nmdts\tno limit\nmtfa\tnot stated\n"
       "active-slot\t3\nnext-slot\t1\nslot1\tR1\nslot2\t(empty)\nslot3\tR3\n",
       ""},
      {{"--sim=" + dir + "nolog.ini", "info", "--drive", "0"}, 1, "",
       "the firmware slot log cannot be read: the controller refused it (command specific 09h "
       "(invalid log page), do not retry)"},
      {{"--sim=" + dir + "noid.ini", "identify", "--drive", "0"}, 1,
       "Bus Type:NVMe\n FW: SN:\n\nIdentify Controller failed: the controller refused it "
       "(generic 06h (internal error))\n",
       ""},
      {{"--sim", "dlmc", "--drive", "3", "--mode", "7", image, "--yes"}, 2,
       "Bus Type:NVMe\nRefused: " + std::string(dlmcWhy) + "\n",
       "refused: " + std::string(dlmcWhy)},
      {{"--sim", "dlmc", "--drive", "3", "--mode", "E", image, "--yes"}, 2,
       "Bus Type:NVMe\nRefused: " + std::string(dlmcWhy) + "\n", "refused: "},
      {{"--sim", "dptm", "--drive", "3", image, "--yes"}, 2,
       "Bus Type:NVMe\nRefused: the vendor download and unlock are ATA commands for SATA "
       "drives; an NVMe drive takes neither\n",
       "refused: the vendor download"},
      {{"--sim=" + dir + "usb.ini", "identify", "--drive", "0"}, 2,
       "Bus Type:USB\nAn NVMe drive behind a USB bridge: the bridge passes neither NVMe nor ATA "
       "commands to it, so it can be neither identified nor updated here; fit it in an M.2 "
       "(PCIe) slot\n",
       "cannot select"},
  };
  for (const Case& c : cases) {
    std::string joined;
    for (const std::string& a : c.args) joined += a + " ";
    SCOPED_TRACE(joined);
    const CliResult r = cli.Run(c.args);
    EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
    if (!c.out.empty()) {
      EXPECT_EQ(r.out, c.out);
    }
    if (c.errContains.empty()) {
      EXPECT_EQ(r.err, "");
    } else {
      EXPECT_NE(r.err.find(c.errContains), std::string::npos) << r.err;
    }
  }
}

TEST(CliNvme, TraceShowsTheCommandsAndARecordingPlaysBackWithTheSerialMasked) {
  CliRunner cli;
  const std::string recording = (cli.Dir() / "nvme.rec").string();
  const CliResult recorded =
      cli.Run({"--sim", "info", "--drive", "3", "--trace", "--record=" + recording});
  ASSERT_EQ(recorded.exitCode, 0) << recorded.err;
  EXPECT_EQ(recorded.out, kDefaultInfo);
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < recorded.err.size();) {
    const std::size_t end = recorded.err.find('\n', at);
    lines.push_back(recorded.err.substr(at, end - at));
    at = end == std::string::npos ? recorded.err.size() : end + 1;
  }
  ASSERT_EQ(lines.size(), 4u) << recorded.err;
  EXPECT_EQ(lines[0],
            "-> NVMe        06 nsid 00000000 cdw10-15 00000001 00000000 00000000 00000000 "
            "00000000 00000000, in 4096 bytes, limit 5 s");
  EXPECT_EQ(lines[1].rfind("<- NVMe        status success, result 00000000, 4096 bytes in ", 0),
            0u);
  EXPECT_EQ(lines[2],
            "-> NVMe        02 nsid FFFFFFFF cdw10-15 007F0003 00000000 00000000 00000000 "
            "00000000 00000000, in 512 bytes, limit 5 s");
  EXPECT_EQ(lines[3].rfind("<- NVMe        status success, result 00000000, 512 bytes in ", 0),
            0u);
  const std::string text = cli.ReadFile("nvme.rec");
  EXPECT_NE(text.find("target drive bus 17"), std::string::npos);
  EXPECT_NE(text.find("> nvme opcode 06 nsid 00000000 cdw 00000001"), std::string::npos);
  EXPECT_NE(text.find("< nvme system - status 0000 result 00000000 moved 4096"),
            std::string::npos);
  EXPECT_EQ(text.find("SIMNVME"), std::string::npos) << "the serial is masked";

  std::string masked = kDefaultInfo;
  masked.replace(masked.find("WD-SIMNVME00000004"), 18, "XXXXXXXXXXXXXXXXXX");
  const CliResult replayed = cli.Run({"--sim=" + recording, "info", "--drive", "0"});
  EXPECT_EQ(replayed.exitCode, 0) << replayed.err;
  EXPECT_EQ(replayed.out, masked);

  // A run that sends something else is told where it leaves the recording.
  std::string changed = text;
  changed.replace(changed.find("cdw 00000001"), 12, "cdw 00000000");
  cli.WriteFile("changed.rec", changed);
  const CliResult other =
      cli.Run({"--sim=" + (cli.Dir() / "changed.rec").string(), "identify", "--drive", "0"});
  EXPECT_NE(other.exitCode, 0);
  EXPECT_NE(other.err.find("at command 1: command dwords 00000001 00000000 00000000 00000000 "
                           "00000000 00000000, recorded 00000000"),
            std::string::npos)
      << other.err;
}

TEST(CliNvme, TheBenchStateFileKeepsTheSlots) {
  CliRunner cli;
  std::filesystem::create_directories(cli.StateDir());
  const auto write = [&](const std::string& text) {
    std::ofstream(cli.StateDir() / "bench-default.state", std::ios::binary | std::ios::trunc)
        << text;
  };
  write("[nvme nvme0 WD-SIMNVME00000004]\nactive = 1\nnext = 2\nslot1 = 211050WD\nslot2 = 3.0\n");
  const CliResult kept = cli.Run({"--sim", "info", "--drive", "3"});
  EXPECT_EQ(kept.exitCode, 0) << kept.err;
  EXPECT_NE(kept.out.find("firmware\t211050WD\n"), std::string::npos) << kept.out;
  EXPECT_NE(kept.out.find("active-slot\t1\nnext-slot\t2\nslot1\t211050WD\nslot2\t3.0\n"),
            std::string::npos)
      << kept.out;

  write("[nvme nvme0 WD-SIMNVME00000004]\nactive = 9\n");
  const CliResult damaged = cli.Run({"--sim", "identify", "--drive", "3"});
  EXPECT_EQ(damaged.exitCode, 0);
  EXPECT_NE(damaged.out.find(kNvmeLine), std::string::npos) << "as the bench describes it";
  EXPECT_NE(damaged.err.find("unreadable state for drive nvme nvme0"), std::string::npos)
      << damaged.err;
}

}  // namespace
}  // namespace brisquel::cli::test

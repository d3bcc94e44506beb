// NVMe drives from the command line: Identify, info, the firmware update and
// its refusals, an NVMe drive in a USB enclosure, and a recording of them
// played back.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cli/CliRunner.h"
#include "sim/BenchFirmware.h"

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
       "R1 in slot 1 runs after the next reset; R3 runs until then"},
      {{"--sim=" + dir + "nolog.ini", "info", "--drive", "0"}, 1, "",
       "the firmware slot log cannot be read: the controller refused it (command specific 09h "
       "(invalid log page), do not retry)"},
      {{"--sim=" + dir + "noid.ini", "identify", "--drive", "0"}, 1,
       "Bus Type:NVMe\n FW: SN:\n\nIdentify Controller failed: the controller refused it "
       "(generic 06h (internal error))\n",
       ""},
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

// The default bench's NVMe SSD: two slots, slot 1 read-only, running
// 211070WD from slot 2, pieces of at most 128 KiB on 4 KiB.
TEST(CliNvme, UpdatesAndTheirRefusalsOnTheCommandLine) {
  CliRunner cli;
  const std::string image = cli.WriteFile("fw.bin", sim::MakeBenchFirmware("3.0", 600)).string();
  const std::string odd = cli.WriteFile("odd.bin", std::vector<std::uint8_t>(1030, 1)).string();
  const std::string same = cli.WriteFile("same.bin", sim::MakeBenchFirmware("1.0", 8)).string();
  const std::string now =
      cli.WriteFile("now.ini", "[nvme n]\nslots = 3\nslot1 = 1.0\nactive-slot = 1\n"
                               "activate-without-reset = yes\n[disk]\nnvme = n\n")
          .string();
  const std::string qemu =
      cli.WriteFile("qemu.ini", "[nvme n]\nslots = 1\nslot1 = 1.0\nslot1-read-only = yes\n"
                                "firmware-commands = no\nfwug = 0\nrefuse-opcode = 11\n"
                                "refuse-status = 4001\n[disk]\nnvme = n\n")
          .string();
  const std::string reset =
      cli.WriteFile("reset.ini", "[nvme n]\nslots = 2\nslot1 = 1.0\nactive-slot = 1\n"
                                 "refuse-opcode = 10\nrefuse-status = 010B\n[disk]\nnvme = n\n")
          .string();
  const std::string start = "Bus Type:NVMe\nDownload Microcode 07 - fw.bin - Start\n";
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    std::string out;  // empty: not checked
    std::string err;  // contained
  };
  const Case cases[] = {
      {{"--sim", "dlmc", "--drive", "3", "--mode", "07", image, "--yes"}, 0,
       start + "Download Microcode 07 - fw.bin - End - OK\n",
       "pieces of 131072 bytes (granularity 4 KiB, largest transfer 128 KiB)\n"
       "brisquel-cli: firmware revision 211070WD; 3.0 waits in slot 2 for the next reset\n"},
      {{"--sim=" + now, "dlmc", "--drive", "0", "--mode", "07", image, "--yes", "--activate",
        "now"},
       0, "", "firmware revision 1.0 -> 3.0\n"},
      // A change now was due and did not come.
      {{"--sim=" + now, "dlmc", "--drive", "0", "--mode", "07", same, "--yes", "--activate",
        "now"},
       4, "", "revision unchanged: the download completed, but the drive still reports 1.0"},
      {{"--sim=" + now, "dlmc", "--drive", "0", "--mode", "0E", image, "--yes", "--slot", "3"}, 0,
       "", "firmware revision 1.0; 3.0 is stored in slot 3, not activated (0F activates it)\n"},
      {{"--sim=" + reset, "dlmc", "--drive", "0", "--mode", "07", image, "--yes"}, 0, "",
       "firmware revision 1.0; 3.0 waits in slot 2 for a conventional reset\n"},
      {{"--sim", "dlmc", "--drive", "3", "--mode", "01", image, "--yes"}, 2,
       "Bus Type:NVMe\nRefused: an NVMe drive has no temporary image (mode 01): use 07, which "
       "activates the image at the next reset\n",
       "refused: an NVMe drive has no temporary image"},
      {{"--sim", "dlmc", "--drive", "3", "--mode", "07", image, "--yes", "--slot", "1"}, 2,
       "Bus Type:NVMe\n", "refused: slot 1 is read-only (FRMW bit 0)"},
      {{"--sim", "dlmc", "--drive", "3", "--mode", "07", image, "--yes", "--activate", "now"}, 2,
       "Bus Type:NVMe\n", "refused: the controller does not activate firmware without a reset"},
      {{"--sim", "dlmc", "--drive", "3", "--mode", "07", odd, "--yes"}, 2,
       "Bus Type:NVMe\nDownload Microcode 07 - odd.bin - Refused: the file has 1030 bytes, no "
       "whole number of dwords (4 bytes), which Firmware Image Download carries\n",
       ""},
      {{"--sim", "dlmc", "--drive", "0", "--mode", "07", image, "--yes", "--slot", "2"}, 2, "",
       "refused: a firmware slot and when new firmware runs are chosen on NVMe drives"},
      {{"--sim", "dlmc", "--drive", "3", "--mode", "03", image, "--yes", "--segment-blocks", "8"},
       2, "Bus Type:NVMe\nRefused: segment sizes are DOWNLOAD MICROCODE's; an NVMe drive's pieces "
          "follow its own limits (MDTS, FWUG)\n",
       "refused: segment sizes"},
      {{"--sim", "dlmc", "--drive", "3", "--mode", "01", image, "--slot", "2"}, 2, "",
       "--slot belongs to dlmc --mode 03, 07, 0E or 0F"},
      {{"--sim", "dlmc", "--drive", "3", "--mode", "0E", image, "--activate", "now"}, 2, "",
       "--activate belongs to dlmc --mode 03, 07 or 0F"},
      {{"--sim", "dlmc", "--drive", "3", "--mode", "07", image, "--slot", "8"}, 2, "",
       "--slot takes a firmware slot from 1 to 7"},
      // As QEMU's controller: refused before anything is sent, and with
      // --force the controller's refusal ends it FAILED.
      {{"--sim=" + qemu, "dlmc", "--drive", "0", "--mode", "07", image, "--yes"}, 2,
       "Bus Type:NVMe\n",
       "refused: the controller does not list Firmware Image Download and Commit among its "
       "commands (OACS bit 2 clear) (--force sends anyway)"},
      {{"--sim=" + qemu, "dlmc", "--drive", "0", "--mode", "07", image, "--yes", "--force"}, 1,
       start + "Download Microcode 07 - fw.bin - FAILED: Firmware Image Download failed: the "
               "controller refused it (generic 01h (invalid command opcode), do not retry) (0 of "
               "600 blocks sent)\n",
       ""},
  };
  for (const Case& c : cases) {
    std::string joined;
    for (const std::string& a : c.args) joined += a + " ";
    SCOPED_TRACE(joined);
    std::filesystem::remove_all(cli.StateDir());
    const CliResult r = cli.Run(c.args);
    EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
    if (!c.out.empty()) {
      EXPECT_EQ(r.out, c.out);
    }
    EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
  }

  // 0E, then 0F in a later run: the state file keeps the slot, and 0F
  // activates it at the next reset.
  std::filesystem::remove_all(cli.StateDir());
  ASSERT_EQ(cli.Run({"--sim", "dlmc", "--drive", "3", "--mode", "0E", image, "--yes"}).exitCode, 0);
  const CliResult activated = cli.Run({"--sim", "--json", "dlmc", "--drive", "3", "--mode", "0F", "--yes"});
  EXPECT_EQ(activated.exitCode, 0) << activated.err;
  EXPECT_NE(activated.out.find("\"nvmeSlot\": {\n    \"slot\": 2,\n    \"revision\": \"3.0\",\n"
                               "    \"waitsFor\": \"the next reset\",\n"
                               "    \"storedOnly\": false\n  }"),
            std::string::npos)
      << activated.out;
  const CliResult info = cli.Run({"--sim", "info", "--drive", "3"});
  EXPECT_NE(info.out.find("firmware\t211070WD\n"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("active-slot\t2\nnext-slot\t2\nslot1\t211050WD\nslot2\t3.0\n"),
            std::string::npos)
      << info.out;
  // The active slot holds what waits for the reset: said as such, not as a
  // mismatch.
  EXPECT_EQ(info.err, "brisquel-cli: 3.0 in slot 2 runs after the next reset; 211070WD runs until then\n");
}

// What goes to the controller: pieces of MDTS's 128 KiB at following dword
// offsets, each with 120 s, then the commit of slot 2 with action 1 and
// MTFA's 150 s, then Identify and the slot log again.
TEST(CliNvme, TheTraceShowsThePiecesTheCommitAndTheirTimeLimits) {
  CliRunner cli;
  const std::string image = cli.WriteFile("fw.bin", sim::MakeBenchFirmware("3.0", 600)).string();
  const std::string bench =
      cli.WriteFile("t.ini", "[nvme n]\nslots = 2\nslot1 = 1.0\nactive-slot = 1\nmtfa = 1500\n"
                             "[disk]\nnvme = n\n")
          .string();
  const CliResult r =
      cli.Run({"--sim=" + bench, "dlmc", "--drive", "0", "--mode", "07", image, "--yes", "--trace"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  std::string sent;
  for (std::size_t at = r.err.find("-> NVMe"); at != std::string::npos;
       at = r.err.find("-> NVMe", at + 1)) {
    sent += r.err.substr(at + 15, r.err.find('\n', at) - at - 15) + "\n";
  }
  const std::string rest = " 00000000 00000000 00000000 00000000";
  EXPECT_EQ(sent,
            "06 nsid 00000000 cdw10-15 00000001 00000000" + rest + ", in 4096 bytes, limit 5 s\n"
            "02 nsid FFFFFFFF cdw10-15 007F0003 00000000" + rest + ", in 512 bytes, limit 5 s\n"
            "11 nsid 00000000 cdw10-15 00007FFF 00000000" + rest + ", out 131072 bytes, limit 120 s\n"
            "11 nsid 00000000 cdw10-15 00007FFF 00008000" + rest + ", out 131072 bytes, limit 120 s\n"
            "11 nsid 00000000 cdw10-15 00002BFF 00010000" + rest + ", out 45056 bytes, limit 120 s\n"
            "10 nsid 00000000 cdw10-15 0000000A 00000000" + rest + ", no data, limit 150 s\n"
            "06 nsid 00000000 cdw10-15 00000001 00000000" + rest + ", in 4096 bytes, limit 5 s\n"
            "06 nsid 00000000 cdw10-15 00000001 00000000" + rest + ", in 4096 bytes, limit 5 s\n"
            "02 nsid FFFFFFFF cdw10-15 007F0003 00000000" + rest + ", in 512 bytes, limit 5 s\n");
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

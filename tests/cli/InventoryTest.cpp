// `inventory`, and drives named by what they report (--serial, --wwn): one
// bench with two drives of one model, one that aborts IDENTIFY, one that
// cannot be opened and one that holds the running system.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/CliRunner.h"
#include "sim/AtaDrive.h"

namespace brisquel::cli::test {
namespace {

using Args = std::vector<std::string>;

const std::string kFleetBench =
    "[drive twin-a]\nmodel = WDC WD5000AAKX-00SIMB0\nfirmware = 15.01H15\nserial = WD-TWIN-A\n"
    "wwn = 50014EE0AAAAAAA1\n\n"
    "[drive twin-b]\nmodel = WDC WD5000AAKX-00SIMB0\nfirmware = 15.01H15\nserial = WD-TWIN-B\n"
    "wwn = 5000-CCA0-AAAA-AAA2\n\n"
    "[drive mute]\nmodel = WDC WD800BB-00SIMA0\nfirmware = 05.01C05\nserial = WD-MUTE\n"
    "abort-command = EC\n\n"
    "[drive root]\nmodel = WDC WD10EZEX-00SIMC0\nfirmware = 01.01A01\nserial = WD-TWIN-B\n"
    "segment-min = 0\n\n"
    "[disk]\ndrive = twin-a\nname = Twin A\nbus = SATA\n\n"
    "[disk]\ndrive = twin-b\nname = Twin B\nbus = SATA\n\n"
    "[disk]\ndrive = mute\nname = Mute\nbus = SATA\n\n"
    "[disk]\ndrive = twin-a\nname = Locked\nbus = SATA\nfails-to-open = yes\n\n"
    "[disk]\ndrive = root\nname = Root\nbus = SATA\nin-use = / is mounted from sdd1\n"
    "system = linux\n";

TEST(CliInventory, EveryDriveWithItsFactsOrWhyNot) {
  CliRunner cli;
  cli.WriteFile("fleet.ini", kFleetBench);
  const CliResult text = cli.Run({"--sim=fleet.ini", "inventory"});
  EXPECT_EQ(text.exitCode, 0) << text.err;
  EXPECT_EQ(text.out,
            "0\tSATA\t\\\\?\\sim#disk#0\tWDC WD5000AAKX-00SIMB0\tWD-TWIN-A\t15.01H15\t"
            "50014EE0AAAAAAA1\tATA pass-through\tyes\t131072\tfree\n"
            "1\tSATA\t\\\\?\\sim#disk#1\tWDC WD5000AAKX-00SIMB0\tWD-TWIN-B\t15.01H15\t"
            "5000CCA0AAAAAAA2\tATA pass-through\tyes\t131072\tfree\n"
            "2\tSATA\t\\\\?\\sim#disk#2\tnot read: IDENTIFY DEVICE failed: the drive aborted it "
            "(status 41h, error 04h)\n"
            // The list itself learns nothing of a drive it cannot open.
            "3\tUNKNOWN\t\tnot read: cannot open the drive: The system cannot find the file "
            "specified\n"
            "4\tSATA\t\\\\?\\sim#disk#4\tWDC WD10EZEX-00SIMC0\tWD-TWIN-B\t01.01A01\t-\t"
            "ATA pass-through\tyes\t131072\trunning system: / is mounted from sdd1\n");
  // Nothing but the inventory: no selection's log line.
  EXPECT_EQ(text.err, "");

  // The document's types, as a script reads them.
  const CliResult json = cli.Shell(
      "\"$CLI\" --json --sim=fleet.ini inventory | python3 -c '"
      "import json, sys\n"
      "d = json.load(sys.stdin)\n"
      "a, b, mute, locked, root = d[\"drives\"]\n"
      "assert d[\"schema\"] == 2 and d[\"exitCode\"] == 0 and d[\"log\"] == [], d\n"
      "assert a[\"answered\"] is True and a[\"problem\"] is None and a[\"wwn\"] == "
      "\"50014EE0AAAAAAA1\", a\n"
      "assert a[\"inUse\"] is False and a[\"runningSystem\"] is False and a[\"usedBy\"] is None, a\n"
      "assert a[\"info\"][\"dlmcSupported\"] is True and a[\"maxTransferBytes\"] == 131072, a\n"
      "assert a[\"pendingActivation\"] is None and a[\"satForm\"] is None, a\n"
      "assert mute[\"answered\"] is False and mute[\"model\"] is None and mute[\"info\"] is None\n"
      "assert \"aborted\" in mute[\"problem\"] and mute[\"transport\"] == \"ATA pass-through\"\n"
      "assert locked[\"transport\"] is None and \"cannot open\" in locked[\"problem\"]\n"
      "assert root[\"inUse\"] is True and root[\"runningSystem\"] is True and root[\"wwn\"] is None\n"
      "assert root[\"info\"][\"segmentMinBlocks\"] is None\n"
      "print(\"ok\")'");
  EXPECT_EQ(json.exitCode, 0) << json.err;
  EXPECT_EQ(json.out, "ok\n");
}

TEST(CliNamedTarget, OneMatchIsTheTargetNoneOrSeveralSendNothing) {
  CliRunner cli;
  cli.WriteFile("fleet.ini", kFleetBench);
  cli.WriteFile("fw.bin", sim::MakeBenchFirmware("15.02H15", 8));
  struct Case {
    Args args;
    int exitCode;
    std::string says;  // on stdout for 0, else on stderr
  };
  const std::vector<Case> cases = {
      {{"--serial", " WD-TWIN-A ", "identify"}, 0, "SN:WD-TWIN-A\n"},
      {{"--wwn", "0x5000cca0aaaaaaa2", "identify"}, 0, "SN:WD-TWIN-B\n"},
      {{"--serial", "WD-TWIN-B", "--wwn", "5000CCA0AAAAAAA2", "info"}, 0, "serial\tWD-TWIN-B\n"},
      // Two drives report it; the one that does not answer is no candidate.
      {{"--serial", "WD-TWIN-B", "--yes", "dlmc", "--mode", "07", "fw.bin"}, 2,
       "2 drives report serial WD-TWIN-B: --drive 1 (\\\\?\\sim#disk#1), --drive 4 "
       "(\\\\?\\sim#disk#4); name one by --drive N or --wwn W; nothing was sent"},
      {{"--serial", "WD-MUTE", "--yes", "dlmc", "--mode", "07", "fw.bin"}, 2,
       "no drive reports serial WD-MUTE (5 in `list`; --drive 2 not read: IDENTIFY DEVICE "
       "failed: the drive aborted it (status 41h, error 04h); --drive 3 not read: cannot open "
       "the drive: The system cannot find the file specified); nothing was sent"},
      {{"--serial", "WD-TWIN-A", "--wwn", "5000CCA0AAAAAAA2", "info"}, 2,
       "no drive reports serial WD-TWIN-A and world wide name 5000CCA0AAAAAAA2"},
      {{"--wwn", "5000CCA0AAAAAAA", "info"}, 2, "--wwn needs the 16 hexadecimal digits"},
      {{"--serial", "WD-TWIN-A", "--drive", "0", "info"}, 2, "give one target"},
      {{"--serial", "WD-TWIN-A", "--record=r.rec", "info"}, 2,
       "--record takes --drive, --channel or --port"},
  };
  for (const Case& c : cases) {
    Args args = {"--sim=fleet.ini", "--trace=trace.txt"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    cli.WriteFile("trace.txt", "");
    const CliResult r = cli.Run(args);
    EXPECT_EQ(r.exitCode, c.exitCode) << c.args[1] << r.err;
    EXPECT_NE((c.exitCode == 0 ? r.out : r.err).find(c.says), std::string::npos)
        << c.args[1] << "\n" << r.out << r.err;
    // IDENTIFY (ECh) is all that went to any drive.
    const std::string trace = cli.ReadFile("trace.txt");
    EXPECT_EQ(trace.find("-> ATA-PT      92"), std::string::npos) << trace;
  }

  // A download by serial reaches that drive, and only it.
  const CliResult update =
      cli.Run({"--sim=fleet.ini", "--serial", "WD-TWIN-A", "--json", "dlmc", "--mode", "07",
               "fw.bin"});
  EXPECT_EQ(update.exitCode, 0) << update.out;
  EXPECT_NE(update.out.find("\"serial\": \"WD-TWIN-A\""), std::string::npos) << update.out;
  const CliResult after = cli.Run({"--sim=fleet.ini", "inventory"});
  EXPECT_NE(after.out.find("WD-TWIN-A\t15.02H15"), std::string::npos) << after.out;
  EXPECT_NE(after.out.find("WD-TWIN-B\t15.01H15\t5000"), std::string::npos) << after.out;
}

// The drive found by its serial is checked again by the download's own
// IDENTIFY: a drive swapped in between gets nothing. The recording answers the
// search with one serial and the download's IDENTIFY with another.
TEST(CliNamedTarget, ADriveThatChangedSinceTheSearchGetsNothing) {
  CliRunner cli;
  cli.WriteFile("fw.bin", sim::MakeBenchFirmware("15.02H15", 8));
  const std::string recording = std::string(BRISQUEL_TEST_DATA) + "/recordings/swapped-drive.rec";
  const CliResult r = cli.Run({"--sim=" + recording, "--serial", "WD-TWIN-A", "dlmc", "--mode",
                               "07", "fw.bin"});
  EXPECT_EQ(r.exitCode, 2) << r.err;
  EXPECT_EQ(r.out, "Bus Type:SATA\n");
  EXPECT_NE(r.err.find("refused: \"Recorded drive\" (serial WD-TWIN-A, --drive 0, "
                       "\\\\?\\sim#disk#0) now reports serial WD-TWIN-B, not serial WD-TWIN-A; "
                       "nothing was sent"),
            std::string::npos)
      << r.err;
  // Not the replay's complaint about a command it does not hold.
  EXPECT_EQ(r.err.find("differs from the recording"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace brisquel::cli::test

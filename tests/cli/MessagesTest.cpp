// What brisquel-cli says when something goes wrong or does not go as asked:
// in the drive's, the bridge's or the system's words, with what to do next,
// and the exit code a script acts on.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/CliRunner.h"
#include "sim/AtaDrive.h"

namespace brisquel::cli::test {
namespace {

using Args = std::vector<std::string>;

const std::string kExamples = BRISQUEL_TEST_DATA "/../../bench-files/";

TEST(CliMessages, FailuresSayWhoEndedThemAndTheExitCodeFollows) {
  CliRunner cli;
  cli.Run({"bench", "image", "NEW1.00", "8", "fw.bin"});
  cli.Run({"bench", "image", "15.01H15", "8", "same.bin"});  // the SATA drive's own revision
  cli.WriteFile("empty.bench", "[library]\nready = yes\n");
  ASSERT_EQ(mkfifo((cli.Dir() / "fifo.bin").c_str(), 0600), 0);
  cli.Run({"bench", "image", "NL1", "8", "two\nlines.bin"});
  cli.WriteFile("two.bench",
                "[pci 00:1f.1]\nkind = legacy-ide\n[drive a]\nmodel = FIRST\n[drive b]\n"
                "model = SECOND\n[channel 1F0]\ndevice0 = a\ndevice1 = b\n");
  const std::string aborting = "--sim=" + kExamples + "aborting-drive.ini";
  const std::string refusing = "--sim=" + kExamples + "refusing-bridge.ini";

  struct Case {
    Args args;  // or, when empty, the shell line
    int exitCode;
    std::string out;  // in stdout, when not empty
    std::string err;  // in stderr, when not empty
    std::string shell = {};
  };
  std::vector<Case> cases = {
      {{aborting, "identify", "--drive", "1"},
       1,
       " FW: SN:\n\nIDENTIFY DEVICE failed: the drive aborted it (status 41h, error 04h)\n",
       ""},
      {{refusing, "identify", "--drive", "0"},
       1,
       "\nIDENTIFY DEVICE failed: the USB bridge refused it in every form of ATA PASS-THROUGH "
       "(12 sent as 10 bytes, 12, 16) (sense key 5, ASC 20h: invalid command operation code)\n",
       ""},
      {{aborting, "identify", "--channel", "1"}, 1, "\nIDENTIFY DEVICE failed: no drive answers\n", ""},
      {{aborting, "info", "--drive", "1"},
       1,
       "",
       "brisquel-cli: IDENTIFY DEVICE failed: the drive aborted it (status 41h, error 04h)\n"},
      // A download to an empty channel still closes with its line, naming the file.
      {{aborting, "dlmc", "--channel", "1", "--mode", "07", "--force", "fw.bin"},
       1,
       "Download Microcode 07 - fw.bin - FAILED: no drive answers on the channel (0 of 8 blocks "
       "sent)\n",
       "cannot read the drive's IDENTIFY data"},
      {{"--sim", "dlmc", "--drive", "0", "--mode", "07", "missing.bin"},
       2,
       "",
       "missing.bin: cannot read the firmware file: No such file or directory\n"},
      {{"--sim", "dlmc", "--drive", "0", "--mode", "07", "."},
       2,
       "",
       ".: cannot read the firmware file: is a directory\n"},
      {{"--sim", "dptm", "--drive", "0", "fifo.bin"},
       2,
       "",
       "fifo.bin: cannot read the firmware file: is a FIFO, not a regular file\n"},
      // Finding nothing is an answer, said in one line.
      {{"--sim=empty.bench", "list"}, 0, "", "brisquel-cli: no drives found: the bench describes no disk\n"},
      {{"--sim=empty.bench", "scan"},
       0,
       "",
       "brisquel-cli: no controller channels found: the bench describes no IDE controller\n"},
      // Cases that run in turn on one bench: a deferred image, then its activation.
      {{"--sim", "dlmc", "--drive", "0", "--mode", "0E", "fw.bin"}, 0, "End - OK\n", ""},
      {{"--sim", "dlmc", "--drive", "0", "--mode", "0F"},
       0,
       "Activate Microcode - End - OK\n",
       "firmware revision 15.01H15 -> NEW1.00"},
      // Vendor firmware may wait for a power cycle: said, but no failure.
      {{"--sim", "bench", "reset"}, 0, "", ""},
      {{"--sim", "dptm", "--drive", "0", "same.bin"},
       0,
       "",
       "brisquel-cli: revision unchanged (the drive may apply vendor firmware at its next power "
       "cycle)\n"},
      // A line end in a file name stays inside its line.
      {{"--sim", "dlmc", "--drive", "1", "--mode", "07", "two\nlines.bin"},
       0,
       "Download Microcode 07 - two\\x0Alines.bin - Start\n",
       ""},
      // An IDE channel's second device, over PIO.
      {{"--sim=two.bench", "identify", "--channel", "0", "--device", "1"}, 0, "SECOND FW:", ""},
      {{"--sim=two.bench", "identify", "--port", "0x1F0", "--device", "1"}, 0, "SECOND FW:", ""},
      {{"--sim=two.bench", "identify", "--port", "0x1F0"}, 0, "FIRST FW:", ""},
      {{"--sim=two.bench", "identify", "--drive", "0", "--device", "1"},
       2,
       "",
       "--device belongs to --channel or --port"},
      {{"--sim", "--json", "info", "--drive", "0"}, 0, "\"capacityBytes\": 8589934592", ""},
      // Output that cannot be written is said, and the operation's exit code stands.
      {{},
       0,
       "",
       "brisquel-cli: cannot write to standard output: No space left on device (what ran ended "
       "with exit code 0, which stands)\n",
       "\"$CLI\" --sim identify --drive 0 >/dev/full"},
      {{},
       1,
       "",
       "with exit code 1, which stands",
       "\"$CLI\" --sim=" + aborting.substr(6) + " identify --drive 1 >/dev/full"},
      {{"--sim", "--trace=/dev/full", "identify", "--drive", "0"},
       0,
       "FW:15.01H15",
       "/dev/full: the trace could not be written whole (No space left on device); the exit "
       "code is the operation's\n"},
      // A trace or recording never writes over what the run reads, nor over each other.
      {{"--sim", "--record=fw.bin", "--yes", "dlmc", "--drive", "0", "--mode", "07", "fw.bin"},
       2,
       "",
       "brisquel-cli: --record=fw.bin is the firmware file: it would be written over; name "
       "another file\n"},
      {{"--sim", "--trace=./sub/../fw.bin", "--yes", "dlmc", "--drive", "0", "--mode", "07",
        "fw.bin"},
       2,
       "",
       "--trace=./sub/../fw.bin is the firmware file"},
      {{"--sim=two.bench", "--record=two.bench", "identify", "--channel", "0"},
       2,
       "",
       "--record=two.bench is the file --sim runs on"},
      {{"--sim", "--trace=t.txt", "--record=t.txt", "identify", "--drive", "0"},
       2,
       "",
       "brisquel-cli: --trace and --record name one file, t.txt: name two files\n"},
  };
  std::filesystem::create_directory(cli.Dir() / "sub");
  const auto firmwareBytes = std::filesystem::file_size(cli.Dir() / "fw.bin");
  for (const Case& c : cases) {
    const CliResult r = c.shell.empty() ? cli.Run(c.args) : cli.Shell(c.shell);
    std::string line = c.shell;
    for (const auto& a : c.args) line += a + " ";
    EXPECT_EQ(r.exitCode, c.exitCode) << line << "\n" << r.out << r.err;
    if (!c.out.empty()) {
      EXPECT_NE(r.out.find(c.out), std::string::npos) << line << "\n" << r.out;
    }
    if (!c.err.empty()) {
      EXPECT_NE(r.err.find(c.err), std::string::npos) << line << "\n" << r.err;
    }
  }
  EXPECT_EQ(std::filesystem::file_size(cli.Dir() / "fw.bin"), firmwareBytes)
      << "the firmware file was written to";
}

// Root reads a file without read permission all the same: as root, the
// program runs as nobody, so the refusal is seen wherever the suite runs.
TEST(CliMessages, AFirmwareFileWithoutReadPermissionIsRefusedWithTheSystemsReason) {
  CliRunner cli;
  cli.Run({"bench", "image", "NEW1.00", "8", "fw.bin"});
  cli.WriteFile("locked.bin", "x");
  std::filesystem::permissions(cli.Dir() / "locked.bin", std::filesystem::perms::none);
  std::string line = "\"$CLI\" --sim dptm --drive 0 locked.bin";
  if (geteuid() == 0) {
    if (std::system("setpriv --version >/dev/null 2>&1") != 0) {
      GTEST_SKIP() << "running as root with no setpriv to drop the rights: root reads a file "
                      "without read permission";
    }
    // fw.bin is readable by all: a nobody who cannot reach the folder stops
    // there (exit 1), not at the refusal this checks.
    line = "setpriv --reuid=65534 --regid=65534 --clear-groups sh -c 'test -r fw.bin && exec " +
           line + "'";
  }
  const CliResult r = cli.Shell(line);
  EXPECT_EQ(r.exitCode, 2) << line << "\n" << r.out << r.err;
  EXPECT_EQ(r.err, "brisquel-cli: locked.bin: cannot read the firmware file: Permission denied\n")
      << line;
}

}  // namespace
}  // namespace brisquel::cli::test

// What brisquel-cli says when something goes wrong or does not go as asked:
// in the drive's, the bridge's or the system's words, with what to do next,
// and the exit code a script acts on.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

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
  cli.WriteFile("empty.bench", "[library]\nready = yes\n");
  ASSERT_EQ(mkfifo((cli.Dir() / "fifo.bin").c_str(), 0600), 0);
  cli.WriteFile("locked.bin", "x");
  std::filesystem::permissions(cli.Dir() / "locked.bin", std::filesystem::perms::none);
  const std::string aborting = "--sim=" + kExamples + "aborting-drive.ini";
  const std::string refusing = "--sim=" + kExamples + "refusing-bridge.ini";

  struct Case {
    Args args;
    int exitCode;
    std::string out;  // in stdout, when not empty
    std::string err;  // in stderr, when not empty
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
  };
  // Root reads a file without read permission all the same.
  if (geteuid() != 0) {
    cases.push_back({{"--sim", "dptm", "--drive", "0", "locked.bin"},
                     2,
                     "",
                     "locked.bin: cannot read the firmware file: Permission denied\n"});
  }
  for (const Case& c : cases) {
    const CliResult r = cli.Run(c.args);
    std::string line;
    for (const auto& a : c.args) line += a + " ";
    EXPECT_EQ(r.exitCode, c.exitCode) << line << "\n" << r.out << r.err;
    if (!c.out.empty()) {
      EXPECT_NE(r.out.find(c.out), std::string::npos) << line << "\n" << r.out;
    }
    if (!c.err.empty()) {
      EXPECT_NE(r.err.find(c.err), std::string::npos) << line << "\n" << r.err;
    }
  }
}

}  // namespace
}  // namespace brisquel::cli::test

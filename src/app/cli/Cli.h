// brisquel-cli: the window's operations from a terminal, for scripts and
// headless machines. Prints the log lines the window would write.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "app/cli/Interrupt.h"
#include "ops/DownloadOutcome.h"

namespace brisquel::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitDriveFailure = 1;
inline constexpr int kExitRefused = 2;  // bad usage, or input refused
// A download completed and the revision did not change where it should have.
inline constexpr int kExitRevisionUnchanged = 4;
// A download or activation completed and the drive did not answer IDENTIFY in
// time afterwards: nothing says whether it took the firmware.
inline constexpr int kExitNotVerified = 5;
inline constexpr const char* kNotVerifiedText =
    "completed, not verified: the revision could not be read back; check it after a power cycle";

// The exit code a download's outcome gives: 0 completed; 1 the drive, the
// system or the channel refused it, or it stopped short of the image; 2 it
// was refused before anything was sent; 3 Break.
int ExitCodeOf(const DownloadOutcome& outcome);

// args excludes the program name and is UTF-8 text; the PCI name files are
// looked for in programDir. No exception leaves it.
int Run(const std::vector<std::string>& args, const std::filesystem::path& programDir);

}  // namespace brisquel::cli

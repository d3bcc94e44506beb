// What the command line runs on: the simulated bench (--sim) or this
// machine's drives and ports through the platform backend.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/cli/BenchState.h"
#include "discovery/DiskEnumerator.h"
#include "hw/uWinRing0.h"
#include "ops/DiskUsers.h"
#include "ops/DownloadCheck.h"
#include "transport/DeviceIo.h"
#include "ui/SystemInfo.h"

namespace brisquel::cli {

class Backend {
 public:
  virtual ~Backend() = default;
  virtual PortLibrary& Ports() = 0;
  virtual DeviceIo& Io() = 0;
  virtual DiskEnumerator& Disks() = 0;
  virtual SystemInfo& System() = 0;
  // The bench's drives, to remember between runs; none on real hardware.
  virtual std::vector<RememberedDrive> Remembered() { return {}; }
  // Where the port library says why it refuses a port (a kernel driver holds
  // it); the bench refuses none.
  virtual void SetNoticeSink(std::function<void(const std::string&)>) {}
  // Why PIO cannot run here, in the system's words (once InitializeOls has
  // run); empty when it can, as always on the bench.
  virtual std::string PortAccessProblem() { return {}; }
  // The clock the re-IDENTIFY after a download waits on.
  virtual RetryClock& Clock() = 0;
  // What holds a disk (mounted filesystems, the running system, swap).
  virtual DiskUsers& Users() = 0;
};

// The default bench, or the one a bench file describes. Null, with a reason,
// for a bench file that cannot be read.
std::unique_ptr<Backend> MakeBenchBackend(const std::optional<std::string>& benchFile,
                                          std::string& problem);

// This machine. Null, with a reason, when this build has no platform backend.
std::unique_ptr<Backend> MakeSystemBackend(std::string& problem);

}  // namespace brisquel::cli

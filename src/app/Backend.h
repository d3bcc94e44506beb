// What a program runs on: the simulated bench or this machine's drives and
// ports through the platform backend. The window, the Win32 window and the
// command line all get theirs from MakeBackend.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "discovery/DiskEnumerator.h"
#include "hw/uWinRing0.h"
#include "ops/DiskUsers.h"
#include "ops/DownloadCheck.h"
#include "transport/DeviceIo.h"
#include "ui/SystemInfo.h"

namespace brisquel {

namespace sim {
class Bench;
}

class Backend {
 public:
  virtual ~Backend() = default;
  virtual PortLibrary& Ports() = 0;
  virtual DeviceIo& Io() = 0;
  virtual DiskEnumerator& Disks() = 0;
  virtual SystemInfo& System() = 0;
  // The clock the re-IDENTIFY after a download waits on.
  virtual RetryClock& Clock() = 0;
  // The bench, for what only it has (its drives' state); none on this machine.
  virtual sim::Bench* Bench() { return nullptr; }
  // Where the port library says why it refuses a port (a kernel driver holds
  // it); the bench refuses none.
  virtual void SetNoticeSink(std::function<void(const std::string&)>) {}
  // Why PIO cannot run here, in the system's words (once InitializeOls has
  // run); empty when it can, as always on the bench.
  virtual std::string PortAccessProblem() { return {}; }
  // What holds a disk (mounted filesystems, the running system, swap).
  virtual DiskUsers& Users() = 0;
};

struct BackendChoice {
  bool bench = false;
  std::optional<std::string> benchFile;  // none: the default bench
};

// BRISQUEL_SIM's value (null when unset): unset or empty for this machine, "1"
// for the default bench, else the path of a bench file.
BackendChoice BackendChoiceFromSetting(const char* simSetting);

struct BackendLoad {
  std::unique_ptr<Backend> backend;  // null on error
  std::string problem;
};

// The bench (default, or the one a bench file describes: a file that cannot be
// read is a problem) or this machine (a problem in a build without a backend
// for it).
BackendLoad MakeBackend(const BackendChoice& choice);
// A bench as the programs run on it (on Windows, its NVMe disks behind the
// stand-in for the system's NVMe driver).
std::unique_ptr<Backend> MakeBenchBackend(std::unique_ptr<sim::Bench> bench);

// This machine's backend, or null in a build without one. Defined with it.
std::unique_ptr<Backend> MakeSystemBackend();
// This machine's name and rights as its backend tells them; null without one.
std::unique_ptr<SystemInfo> MakeSystemInfo();

}  // namespace brisquel

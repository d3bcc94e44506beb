// What the caption needs to know about the running system.
#pragma once

#include <memory>
#include <string>

namespace brisquel {

class SystemInfo {
 public:
  virtual ~SystemInfo() = default;
  // The caption's system text: name, one space, architecture word
  // (on Windows the version's name; on Linux e.g. "Linux 6.1.0-18-amd64 x64").
  virtual std::string SystemName() = 0;
  // Whether the program runs with the rights that reaching the drives takes
  // (on Linux: as root); without them the caption says so.
  virtual bool HasAdministratorRights() = 0;
};

// The system as a window on the simulated bench shows it: the caption says
// "simulated bench on" and the host's name, so that no picture of a simulated
// flash passes for a real one; the bench needs no rights.
class BenchSystemInfo : public SystemInfo {
 public:
  explicit BenchSystemInfo(std::unique_ptr<SystemInfo> host) : host_(std::move(host)) {}
  std::string SystemName() override {
    return host_ ? "simulated bench on " + host_->SystemName() : "simulated bench x64";
  }
  bool HasAdministratorRights() override { return true; }

 private:
  std::unique_ptr<SystemInfo> host_;
};

}  // namespace brisquel

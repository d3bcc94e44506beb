#include "app/gui/AppPlatform.h"

#include <cstring>

#include "sim/Bench.h"

#ifdef BRISQUEL_HAVE_PLATFORM
#include "platform/linux/DeviceChangeMonitor.h"
#include "platform/linux/LinuxDeviceIo.h"
#include "platform/linux/LinuxDiskEnumerator.h"
#include "platform/linux/LinuxPortLibrary.h"
#include "platform/linux/LinuxSystemInfo.h"
#include "platform/linux/MountedDisks.h"
#endif

namespace brisquel::gui {


#ifdef BRISQUEL_HAVE_PLATFORM
struct AppPlatform::SystemParts {
  linuxpt::LinuxPortLibrary ports;
  linuxpt::LinuxDeviceIo io;
  linuxpt::LinuxDiskEnumerator disks;
  linuxpt::DeviceChangeMonitor monitor;
  linuxpt::LinuxDiskUsers users;
  SystemRetryClock clock;
};
#else
struct AppPlatform::SystemParts {};
#endif

AppPlatform::AppPlatform() : state_(std::make_unique<ProgramState>()) {}
AppPlatform::~AppPlatform() = default;

void AppPlatform::SetNoticeLog(std::function<void(const std::string&)> log) {
#ifdef BRISQUEL_HAVE_PLATFORM
  if (system_parts_) system_parts_->ports.SetNoticeSink(std::move(log));
#else
  (void)log;
#endif
}

MainPlatform AppPlatform::Platform() {
  return MainPlatform{*state_, *ports_, *io_, *disks_, *system_, programDir_, *users_, *clock_};
}

struct AppPlatformLoader {
  static void UseBench(AppPlatform& p, std::unique_ptr<sim::Bench> bench) {
    p.bench_ = std::move(bench);
    p.system_ = std::make_unique<BenchSystemInfo>(std::move(p.system_));
    p.ports_ = &p.bench_->Ports();
    p.io_ = &p.bench_->Io();
    p.disks_ = &p.bench_->Disks();
    p.users_ = &p.bench_->Users();
    p.clock_ = &p.bench_->Clock();
  }

  static bool UseSystem(AppPlatform& p) {
#ifdef BRISQUEL_HAVE_PLATFORM
    p.system_parts_ = std::make_unique<AppPlatform::SystemParts>();
    AppPlatform::SystemParts& parts = *p.system_parts_;
    p.ports_ = &parts.ports;
    p.io_ = &parts.io;
    p.disks_ = &parts.disks;
    p.users_ = &parts.users;
    p.clock_ = &parts.clock;
    if (parts.monitor.Start()) {
      p.changes_ =
          DeviceChangeFeed{parts.monitor.Fd(), [&parts] { return parts.monitor.ReadEvents(); }};
    }
    return true;
#else
    (void)p;
    return false;
#endif
  }

  static void UseSystemInfo(AppPlatform& p) {
#ifdef BRISQUEL_HAVE_PLATFORM
    p.system_ = std::make_unique<linuxpt::LinuxSystemInfo>();
#else
    (void)p;
#endif
  }

  static AppPlatformLoad Make(const char* simSetting, std::filesystem::path programDir) {
    auto platform = std::make_unique<AppPlatform>();
    platform->programDir_ = std::move(programDir);
    UseSystemInfo(*platform);
    const bool simulate = simSetting && *simSetting;
    if (simulate && std::strcmp(simSetting, "1") != 0) {
      sim::BenchLoad load = sim::Bench::FromFile(simSetting);
      if (!load.bench) return {nullptr, load.error};
      UseBench(*platform, std::move(load.bench));
    } else if (simulate || !UseSystem(*platform)) {
      UseBench(*platform, sim::Bench::Default());
    }
    return {std::move(platform), {}};
  }
};

AppPlatformLoad MakeAppPlatform(const char* simSetting, std::filesystem::path programDir) {
  return AppPlatformLoader::Make(simSetting, std::move(programDir));
}

}  // namespace brisquel::gui

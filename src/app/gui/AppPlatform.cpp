#include "app/gui/AppPlatform.h"

#ifdef BRISQUEL_HAVE_PLATFORM
#include "platform/linux/DeviceChangeMonitor.h"
#endif

namespace brisquel::gui {

#ifdef BRISQUEL_HAVE_PLATFORM
struct AppPlatform::Monitor {
  linuxpt::DeviceChangeMonitor monitor;
};
#else
struct AppPlatform::Monitor {};
#endif

AppPlatform::AppPlatform() : state_(std::make_unique<ProgramState>()) {}
AppPlatform::~AppPlatform() = default;

void AppPlatform::SetNoticeLog(std::function<void(const std::string&)> log) {
  backend_->SetNoticeSink(std::move(log));
}

MainPlatform AppPlatform::Platform() {
  return MainPlatform{*state_,           backend_->Ports(),  backend_->Io(),
                      backend_->Disks(), backend_->System(), programDir_,
                      backend_->Users(), backend_->Clock()};
}

struct AppPlatformLoader {
  static void WatchDevices(AppPlatform& p) {
#ifdef BRISQUEL_HAVE_PLATFORM
    p.monitor_ = std::make_unique<AppPlatform::Monitor>();
    linuxpt::DeviceChangeMonitor& monitor = p.monitor_->monitor;
    if (monitor.Start()) {
      p.changes_ = DeviceChangeFeed{monitor.Fd(), [&monitor] { return monitor.ReadEvents(); }};
    }
#else
    (void)p;
#endif
  }

  static AppPlatformLoad Make(const char* simSetting, std::filesystem::path programDir) {
    auto platform = std::make_unique<AppPlatform>();
    platform->programDir_ = std::move(programDir);
    const BackendChoice choice = BackendChoiceFromSetting(simSetting);
    BackendLoad load = MakeBackend(choice);
    // A build without this machine's backend shows the default bench.
    if (!load.backend && !choice.bench) load = MakeBackend({true, std::nullopt});
    if (!load.backend) return {nullptr, load.problem};
    platform->backend_ = std::move(load.backend);
    platform->memory_ = std::make_unique<BenchMemory>(*platform->backend_, choice.benchFile);
    if (!platform->backend_->Bench()) WatchDevices(*platform);
    return {std::move(platform), {}};
  }
};

AppPlatformLoad MakeAppPlatform(const char* simSetting, std::filesystem::path programDir) {
  return AppPlatformLoader::Make(simSetting, std::move(programDir));
}

}  // namespace brisquel::gui

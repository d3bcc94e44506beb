// The commands that send no command to a drive: error-name, and the bench's
// reset, image and power cycle.
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "app/BenchState.h"
#include "app/cli/Session.h"
#include "ops/ErrorCodeNames.h"
#include "sim/AtaDrive.h"
#include "sim/Bench.h"
#include "sim/BenchFirmware.h"
#include "sim/NvmeController.h"
#include "transport/Utf8Path.h"

namespace brisquel::cli {

int Session::ErrorNames() {
  for (std::uint16_t code : options_.codes)
    reporter_.Print(Hex(code, 4) + "\t" + ErrorCodeName(code));
  return kExitOk;
}

int Session::BenchReset() {
  const std::optional<std::filesystem::path> dir = StateDirectory();
  if (!dir) {
    reporter_.Problem("no state directory (HOME is not set): the bench remembers nothing");
    return kExitRefused;
  }
  const std::filesystem::path file = *dir / BenchStateFileName(options_.benchFile);
  std::error_code ec;
  if (!std::filesystem::remove(file, ec)) {
    if (ec) {
      reporter_.Problem("cannot remove " + Utf8Of(file) + ": " + ec.message());
      return kExitRefused;
    }
    reporter_.Print("The bench remembers nothing yet: it starts as described (" + Utf8Of(file) +
                    " does not exist)");
    return kExitOk;
  }
  reporter_.Print("The bench starts as described again: " + Utf8Of(file) + " removed");
  return kExitOk;
}

int Session::BenchImage() {
  const std::vector<std::uint8_t> image =
      sim::MakeBenchFirmware(options_.imageRevision, options_.imageBlocks);
  std::ofstream out(PathFromUtf8(*options_.file), std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(image.data()),
            static_cast<std::streamsize>(image.size()));
  out.close();
  if (!out) {
    reporter_.Problem(*options_.file +
                      ": cannot write the image there: " + std::generic_category().message(errno));
    return kExitRefused;
  }
  reporter_.Print("Wrote " + *options_.file + ": bench firmware " + options_.imageRevision + ", " +
                  std::to_string(options_.imageBlocks) + " blocks (" +
                  std::to_string(image.size()) + " bytes)");
  return kExitOk;
}

int Session::BenchPowerCycle(sim::Bench& bench) {
  // One line a drive, in the bench's order: its name and what it runs,
  // "A -> B" where the power cycle changed it.
  const auto say = [this](const std::string& name, const std::string& before,
                          const std::string& after) {
    reporter_.Print(name + "\t" + (before == after ? after : before + " -> " + after));
    powerCycled_.push_back({name, before, after});
  };
  for (const std::string& name : bench.DriveNames()) {
    sim::AtaDrive& drive = *bench.Drive(name);
    const std::string before = drive.FirmwareRevision();
    drive.PowerCycle();
    say(name, before, drive.FirmwareRevision());
  }
  for (const std::string& name : bench.NvmeNames()) {
    sim::NvmeController& nvme = *bench.Nvme(name);
    const std::string before = nvme.Revision();
    nvme.PowerCycle();
    say(name, before, nvme.Revision());
  }
  return kExitOk;
}

}  // namespace brisquel::cli

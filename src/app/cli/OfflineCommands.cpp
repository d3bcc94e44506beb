// The commands that touch no drive: error-name, bench-reset, bench-image.
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "app/BenchState.h"
#include "app/cli/Session.h"
#include "ops/ErrorCodeNames.h"
#include "sim/BenchFirmware.h"
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

}  // namespace brisquel::cli

// The firmware a bench drive holds: the revision that runs, the one that
// survives a power cycle, and one saved for a later activation; written as a
// few "key=value" lines so a bench can be remembered between runs.
#pragma once

#include <optional>
#include <string>

namespace brisquel::sim {

struct DriveFirmware {
  std::string active, permanent;
  std::optional<std::string> deferred;

  std::string Save() const;
  // None for text that does not describe one (a missing key, an unknown one,
  // an empty or over-long revision).
  static std::optional<DriveFirmware> Load(const std::string& text);
};

}  // namespace brisquel::sim

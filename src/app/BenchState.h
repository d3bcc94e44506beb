// The simulated bench remembers its drives' firmware between runs, of the
// command line and of the window alike, so that a download in one run shows
// in the next. One state file per bench, under the user's state directory.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace brisquel::sim {
class AtaDrive;
class Bench;
class NvmeController;
}  // namespace brisquel::sim

namespace brisquel {
class Backend;
class TfmMain;
}

namespace brisquel {

// $XDG_STATE_HOME/brisquel, else ~/.local/state/brisquel (%LOCALAPPDATA% on
// Windows); none when the environment names no home.
std::optional<std::filesystem::path> StateDirectory();

// "bench-default.state" for the default bench; for a bench file, its name and
// a hash of its absolute path, so two benches never share their drives' state.
std::string BenchStateFileName(const std::optional<std::string>& benchFile);

// A bench drive and the key it is remembered under: its place on the bench and
// its serial number, so that an edited bench file does not hand one drive's
// firmware to another.
struct RememberedDrive {
  std::string key;
  sim::AtaDrive* drive = nullptr;
  sim::NvmeController* nvme = nullptr;  // an NVMe drive: its slots, in place of `drive`
};

// Every drive of the bench, NVMe drives after the others.
std::vector<RememberedDrive> RememberedDrives(sim::Bench& bench);

// Applies what the file remembers to the drives it names. A missing file is a
// fresh bench. False, with a reason, for a file that cannot be read as a whole;
// drives are then left as the bench describes them.
bool LoadBenchState(const std::filesystem::path& file, const std::vector<RememberedDrive>& drives,
                    std::string& problem);

// Writes the drives' firmware state, replacing the file in one step.
bool SaveBenchState(const std::filesystem::path& file, const std::vector<RememberedDrive>& drives,
                    std::string& problem);

// A program's hold on its bench's state file: read when made, written on
// request. On this machine's own backend it holds nothing and does nothing.
class BenchMemory {
 public:
  BenchMemory(Backend& backend, const std::optional<std::string>& benchFile);

  // Why the bench starts as described, in one line; empty when it starts as
  // remembered (or there is no bench).
  const std::string& LoadProblem() const { return loadProblem_; }
  // The file could not be read: writing it again replaces it, so that it is
  // said once.
  bool Damaged() const { return damaged_; }
  // Writes the drives' firmware state; empty when written or nothing to
  // write, else why not.
  std::string Save();

 private:
  std::optional<std::filesystem::path> file_;
  std::vector<RememberedDrive> drives_;
  std::string loadProblem_;
  bool damaged_ = false;
};

// The window on the bench: the log says when the state could not be read or
// written, and each download is written down at once, so that the command
// line (or the next window) sees it.
void WatchBenchMemory(TfmMain& window, BenchMemory& memory);

}  // namespace brisquel

#include "app/BenchState.h"

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <system_error>

#include "app/Backend.h"
#include "app/ProcessText.h"
#include "ui/uMain.h"
#include "sim/AtaDrive.h"
#include "sim/Bench.h"
#include "text/Escape.h"
#include "transport/Utf8Path.h"

namespace brisquel {

namespace {

constexpr const char* kHeader = "# Brisquel bench state: the simulated drives' firmware";

std::optional<std::filesystem::path> EnvPath(const char* name) {
  const std::optional<std::string> value = EnvironmentValue(name);
  if (!value || value->empty()) return std::nullopt;
  const std::filesystem::path path = PathFromUtf8(*value);
  // A relative directory in these variables is meant to be ignored.
  if (!path.is_absolute()) return std::nullopt;
  return path;
}

std::uint64_t Fnv1a64(const std::string& text) {
  std::uint64_t hash = 0xCBF29CE484222325ull;
  for (unsigned char c : text) {
    hash ^= c;
    hash *= 0x100000001B3ull;
  }
  return hash;
}

std::string SafeStem(const std::filesystem::path& file) {
  std::string stem = Utf8Of(file.stem());
  for (char& c : stem) {
    const bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '-' || c == '_' || c == '.';
    if (!keep) c = '_';
  }
  return stem.substr(0, 40);
}

}  // namespace

std::optional<std::filesystem::path> StateDirectory() {
  if (auto xdg = EnvPath("XDG_STATE_HOME")) return *xdg / "brisquel";
  if (auto home = EnvPath("HOME")) return *home / ".local" / "state" / "brisquel";
  if (auto local = EnvPath("LOCALAPPDATA")) return *local / "brisquel" / "state";
  return std::nullopt;
}

std::string BenchStateFileName(const std::optional<std::string>& benchFile) {
  if (!benchFile) return "bench-default.state";
  const std::filesystem::path file = PathFromUtf8(*benchFile);
  std::error_code ec;
  std::filesystem::path absolute = std::filesystem::weakly_canonical(file, ec);
  if (ec) absolute = std::filesystem::absolute(file, ec);
  const std::u8string generic = absolute.generic_u8string();
  char hash[17];
  std::snprintf(
      hash, sizeof hash, "%016llx",
      static_cast<unsigned long long>(Fnv1a64(std::string(generic.begin(), generic.end()))));
  return "bench-" + SafeStem(file) + "-" + hash + ".state";
}

std::vector<RememberedDrive> RememberedDrives(sim::Bench& bench) {
  std::vector<RememberedDrive> drives;
  for (const std::string& name : bench.DriveNames()) {
    sim::AtaDrive* drive = bench.Drive(name);
    // A captured serial may hold a line end or a ']': the key stays one line.
    drives.push_back({EscapeText(name + " " + drive->Identity().serial), drive});
  }
  // "nvme" in the key: a drive and an NVMe drive never share a section.
  for (const std::string& name : bench.NvmeNames()) {
    sim::NvmeController* nvme = bench.Nvme(name);
    drives.push_back({EscapeText("nvme " + name + " " + nvme->Identity().serial), nullptr, nvme});
  }
  return drives;
}

bool LoadBenchState(const std::filesystem::path& file, const std::vector<RememberedDrive>& drives,
                    std::string& problem) {
  std::error_code ec;
  if (!std::filesystem::exists(file, ec)) return true;
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    problem = "cannot read " + Utf8Of(file);
    return false;
  }
  // "[key]" opens a drive's section; its lines are that drive's firmware state.
  std::map<std::string, std::string> sections;
  std::string line;
  std::string* current = nullptr;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    if (line.front() == '[' && line.back() == ']') {
      current = &sections[line.substr(1, line.size() - 2)];
    } else if (current) {
      *current += line + "\n";
    } else {
      problem = Utf8Of(file) + " is not a bench state file";
      return false;
    }
  }
  // Check every drive's section before changing any drive.
  for (const auto& d : drives) {
    auto it = sections.find(d.key);
    if (it == sections.end()) continue;
    sim::AtaDrive probe;
    sim::NvmeController nvmeProbe(d.nvme ? d.nvme->Identity() : sim::NvmeIdentity{});
    if (!(d.nvme ? nvmeProbe.LoadFirmwareState(it->second)
                 : probe.LoadFirmwareState(it->second))) {
      problem = Utf8Of(file) + ": unreadable state for drive " + d.key;
      return false;
    }
  }
  for (const auto& d : drives) {
    auto it = sections.find(d.key);
    if (it == sections.end()) continue;
    if (d.nvme) {
      d.nvme->LoadFirmwareState(it->second);
    } else {
      d.drive->LoadFirmwareState(it->second);
    }
  }
  return true;
}

bool SaveBenchState(const std::filesystem::path& file, const std::vector<RememberedDrive>& drives,
                    std::string& problem) {
  std::ostringstream text;
  text << kHeader << "\n";
  for (const auto& d : drives) {
    text << "[" << d.key << "]\n"
         << (d.nvme ? d.nvme->SaveFirmwareState() : d.drive->SaveFirmwareState());
  }
  // Most runs only read: a file that already says the same is left alone.
  if (std::ifstream current{file, std::ios::binary}) {
    std::ostringstream held;
    held << current.rdbuf();
    if (held.str() == text.str()) return true;
  }
  std::error_code ec;
  std::filesystem::create_directories(file.parent_path(), ec);
  std::filesystem::path temp = file;
  temp += ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << text.str();
    out.flush();
    if (!out) {
      problem = "cannot write " + Utf8Of(temp);
      return false;
    }
  }
  std::filesystem::rename(temp, file, ec);
  if (ec) {
    problem = "cannot replace " + Utf8Of(file) + ": " + ec.message();
    std::filesystem::remove(temp, ec);
    return false;
  }
  return true;
}

BenchMemory::BenchMemory(Backend& backend, const std::optional<std::string>& benchFile) {
  sim::Bench* bench = backend.Bench();
  if (!bench) return;
  drives_ = RememberedDrives(*bench);
  const std::optional<std::filesystem::path> dir = StateDirectory();
  if (!dir) {
    loadProblem_ = "no state directory (HOME is not set): the bench will not remember";
    return;
  }
  file_ = *dir / BenchStateFileName(benchFile);
  std::string problem;
  if (!LoadBenchState(*file_, drives_, problem)) {
    loadProblem_ = problem + "; the bench starts as described";
    damaged_ = true;
  }
}

void WatchBenchMemory(TfmMain& window, BenchMemory& memory) {
  if (!memory.LoadProblem().empty()) window.LogLine("Bench state: " + memory.LoadProblem());
  window.SetAfterSend([&window, &memory] {
    if (const std::string problem = memory.Save(); !problem.empty()) {
      window.LogLine("Bench state: " + problem);
    }
  });
}

std::string BenchMemory::Save() {
  std::string problem;
  if (file_ && !SaveBenchState(*file_, drives_, problem)) return problem;
  return {};
}

}  // namespace brisquel

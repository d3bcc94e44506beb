// The program's arguments, environment and folder through the wide calls, so
// that every file name arrives whole.
#include "app/ProcessText.h"
#include "platform/windows/WideText.h"

namespace brisquel {

std::vector<std::string> ProgramArguments(int, char**) {
  std::vector<std::string> words = winpt::CommandLineWords();
  if (!words.empty()) words.erase(words.begin());
  return words;
}

std::optional<std::string> EnvironmentValue(const char* name) {
  return winpt::EnvironmentValue(winpt::Wide(name).c_str());
}

std::filesystem::path ProgramFolder(const char*) {
  return winpt::ProgramPath().parent_path();
}

}  // namespace brisquel

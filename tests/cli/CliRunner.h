// Runs the built brisquel-cli as a user would, in a scratch directory of its
// own with HOME and XDG_STATE_HOME pointing into it, so no test sees another's
// bench state.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace brisquel::cli::test {

struct CliResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};

// A word for the shell, single-quoted.
std::string ShellQuote(const std::string& word);

class CliRunner {
 public:
  CliRunner();
  ~CliRunner();
  CliRunner(const CliRunner&) = delete;
  CliRunner& operator=(const CliRunner&) = delete;

  const std::filesystem::path& Dir() const { return dir_; }
  std::filesystem::path StateDir() const { return dir_ / "state" / "brisquel"; }

  // Runs the program with these arguments; stdin from /dev/null unless given.
  CliResult Run(const std::vector<std::string>& args, const std::string& input = {}) const;
  // Runs a shell command line in which $CLI names the program; stdout and
  // stderr as the line leaves them.
  CliResult Shell(const std::string& commandLine) const;

  std::filesystem::path WriteFile(const std::string& name, const std::string& content) const;
  std::filesystem::path WriteFile(const std::string& name,
                                  const std::vector<std::uint8_t>& content) const;
  std::string ReadFile(const std::string& name) const;

  // Keeps a --json document for the schema test, which validates every one the
  // tests make (Run keeps those of its own runs).
  static void KeepJson(const std::string& document);

 private:
  std::filesystem::path dir_;
};

}  // namespace brisquel::cli::test

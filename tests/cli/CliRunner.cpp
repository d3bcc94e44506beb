#include "cli/CliRunner.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

namespace brisquel::cli::test {

namespace {

std::string ReadAll(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// std::system's status as an exit code (POSIX wait status layout).
int ExitCodeOf(int status) {
  if (status == -1) return -1;
  if ((status & 0x7F) != 0) return 128 + (status & 0x7F);
  return (status >> 8) & 0xFF;
}

}  // namespace

std::string ShellQuote(const std::string& word) {
  std::string quoted = "'";
  for (char c : word) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

CliRunner::CliRunner() {
  static std::atomic<int> counter{0};
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  dir_ = std::filesystem::temp_directory_path() /
         ("brisquel-cli-test-" + std::to_string(stamp) + "-" + std::to_string(counter++));
  std::filesystem::create_directories(dir_ / "home");
}

CliRunner::~CliRunner() {
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

CliResult CliRunner::Shell(const std::string& commandLine) const {
  const auto out = dir_ / "stdout.txt";
  const auto err = dir_ / "stderr.txt";
  const std::string script = "cd " + ShellQuote(dir_.string()) +
                             " && export HOME=" + ShellQuote((dir_ / "home").string()) +
                             " XDG_STATE_HOME=" + ShellQuote((dir_ / "state").string()) +
                             " CLI=" + ShellQuote(BRISQUEL_CLI_PATH) + " && { " + commandLine +
                             "; } >" + ShellQuote(out.string()) + " 2>" + ShellQuote(err.string());
  CliResult result;
  result.exitCode = ExitCodeOf(std::system(("sh -c " + ShellQuote(script)).c_str()));
  result.out = ReadAll(out);
  result.err = ReadAll(err);
  return result;
}

CliResult CliRunner::Run(const std::vector<std::string>& args, const std::string& input) const {
  std::string line = "\"$CLI\"";
  for (const auto& arg : args) line += " " + ShellQuote(arg);
  if (input.empty()) {
    line += " </dev/null";
  } else {
    line += " <" + ShellQuote(WriteFile("stdin.txt", input).string());
  }
  CliResult result = Shell(line);
  for (const auto& arg : args) {
    if (arg == "--") break;
    if (arg == "--json") {
      KeepJson(result.out);
      break;
    }
  }
  return result;
}

void CliRunner::KeepJson(const std::string& document) {
  static std::atomic<int> counter{0};
  if (document.empty()) return;
  const std::filesystem::path dir = BRISQUEL_JSON_DOCUMENTS;
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
  const std::string name = std::string(test ? test->test_suite_name() : "cli") + "." +
                           (test ? test->name() : "run") + "-" + std::to_string(counter++) + ".json";
  std::ofstream(dir / name, std::ios::binary) << document;
}

std::filesystem::path CliRunner::WriteFile(const std::string& name,
                                           const std::string& content) const {
  const auto path = dir_ / name;
  std::ofstream(path, std::ios::binary) << content;
  return path;
}

std::filesystem::path CliRunner::WriteFile(const std::string& name,
                                           const std::vector<std::uint8_t>& content) const {
  return WriteFile(name, std::string(content.begin(), content.end()));
}

std::string CliRunner::ReadFile(const std::string& name) const {
  std::ifstream in(dir_ / name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace brisquel::cli::test

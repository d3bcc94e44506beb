// What a run prints: log lines on stdout as they come (or gathered for the
// JSON document), problems, warnings and notes on stderr.
#pragma once

#include <cerrno>
#include <iostream>
#include <string>
#include <system_error>
#include <vector>

#include "app/cli/ProgressBar.h"

namespace brisquel::cli {

inline constexpr const char* kProgram = "brisquel-cli";

// Everything the run prints: log lines on stdout as they come (or gathered for
// the JSON document), problems on stderr.
class Reporter {
 public:
  Reporter(bool json, ProgressBar& bar) : json_(json), bar_(bar) {}

  bool Json() const { return json_; }

  void Log(const std::string& line) {
    log_.push_back(line);
    if (json_) return;
    bar_.Finish();  // the bar stays above the line that ends its transfer
    Out(line + '\n');
  }

  // A result line of list, scan or error-name (text mode only).
  void Print(const std::string& line) {
    if (!json_) Out(line + '\n');
  }

  // Everything on stdout goes through here, so that a write that fails (a
  // full disk, a closed pipe) is told on stderr once the run has ended.
  void Out(const std::string& text) {
    if (outError_) return;
    errno = 0;
    std::cout << text << std::flush;
    if (!std::cout) outError_ = errno ? errno : EIO;
  }
  // Says so on stderr when stdout lost anything; the run's exit code stands.
  void CheckOutput(int exitCode) {
    if (!outError_) return;
    std::cerr << kProgram << ": cannot write to standard output: "
              << std::generic_category().message(outError_) << " (what ran ended with exit code "
              << exitCode << ", which stands)\n";
  }

  void Problem(const std::string& text) {
    problems_.push_back(text);
    bar_.Finish();
    std::cerr << kProgram << ": " << text << '\n' << std::flush;
  }

  // Worth saying, but the run goes on as if it had not happened.
  void Warning(const std::string& text) { Say("warning: " + text); }
  // What the run found out besides the log lines (the checks around a download).
  void Note(const std::string& text) { Say(text); }

  const std::vector<std::string>& LogLines() const { return log_; }
  const std::vector<std::string>& Problems() const { return problems_; }

 private:
  void Say(const std::string& text) {
    bar_.Finish();
    std::cerr << kProgram << ": " << text << '\n' << std::flush;
  }

  bool json_;
  ProgressBar& bar_;
  int outError_ = 0;
  std::vector<std::string> log_;
  std::vector<std::string> problems_;
};

}  // namespace brisquel::cli

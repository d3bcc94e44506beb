#include <cstdio>
#include <exception>

#include "app/cli/Cli.h"
#include "app/ProcessText.h"

int main(int argc, char** argv) {
  using namespace brisquel;
  using namespace brisquel::cli;
  // Run stops what escapes an operation; what is left here comes before any
  // drive is touched, from reading the arguments.
  try {
    return Run(ProgramArguments(argc, argv), ProgramFolder(argc > 0 ? argv[0] : nullptr));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "brisquel-cli: stopped by an unexpected error: %s (nothing was sent)\n",
                 e.what());
  } catch (...) {
    std::fprintf(stderr, "brisquel-cli: stopped by an unexpected error (nothing was sent)\n");
  }
  return kExitRefused;
}

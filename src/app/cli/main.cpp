#include <string>
#include <vector>

#include "app/cli/Cli.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  return brisquel::cli::Run(args, argc > 0 ? argv[0] : "brisquel-cli");
}

// Whether brisquel-cli's standard streams are a terminal.
#include "ui/Terminal.h"

#include <unistd.h>

namespace brisquel {

bool StdinIsTerminal() {
  return isatty(STDIN_FILENO) == 1;
}
bool StderrIsTerminal() {
  return isatty(STDERR_FILENO) == 1;
}

}  // namespace brisquel

// Whether brisquel-cli's standard streams are a console.
#include "ui/Terminal.h"

#include <io.h>

#include <cstdio>

namespace brisquel {

bool StdinIsTerminal() {
  return _isatty(_fileno(stdin)) != 0;
}
bool StderrIsTerminal() {
  return _isatty(_fileno(stderr)) != 0;
}

}  // namespace brisquel

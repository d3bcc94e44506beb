// Whether the standard streams are a terminal: the progress bar is drawn only
// on one, and consent for a lasting download is asked only on one. Answered
// by the platform backend; a build without one has no terminal to ask.
#pragma once

namespace brisquel {

bool StdinIsTerminal();
bool StderrIsTerminal();

}  // namespace brisquel

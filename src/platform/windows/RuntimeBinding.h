// Libraries bound at run time by name: a missing library or export turns its
// feature off instead of stopping the program from starting.
#pragma once

#include <windows.h>

namespace brisquel::winpt {

// Looks up one export into a typed function pointer; false when there is none.
template <class Function>
bool Resolve(HMODULE module, const char* name, Function& function) {
  function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  return function != nullptr;
}

}  // namespace brisquel::winpt

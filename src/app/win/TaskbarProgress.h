// A download's progress on the window's taskbar button, where the shell has
// a taskbar (ITaskbarList3); nothing where it has none.
#pragma once

#include <windows.h>

#include <optional>

struct ITaskbarList3;

namespace brisquel::win {

class TaskbarProgress {
 public:
  TaskbarProgress() = default;
  ~TaskbarProgress();
  TaskbarProgress(const TaskbarProgress&) = delete;
  TaskbarProgress& operator=(const TaskbarProgress&) = delete;

  // A percentage, or none to take the progress off the button.
  void Show(HWND window, std::optional<int> percent);

 private:
  ITaskbarList3* taskbar_ = nullptr;  // made at the first progress
  bool tried_ = false;
  bool comStarted_ = false;
};

}  // namespace brisquel::win

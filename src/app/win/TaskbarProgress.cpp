#include "app/win/TaskbarProgress.h"

#include <shobjidl.h>

namespace brisquel::win {

TaskbarProgress::~TaskbarProgress() {
  if (taskbar_) taskbar_->Release();
  if (comStarted_) CoUninitialize();
}

void TaskbarProgress::Show(HWND window, std::optional<int> percent) {
  if (!tried_ && percent) {
    tried_ = true;
    // S_FALSE (already started on this thread) must be balanced too.
    comStarted_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    void* made = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_ITaskbarList3, &made))) {
      taskbar_ = static_cast<ITaskbarList3*>(made);
      if (FAILED(taskbar_->HrInit())) {
        taskbar_->Release();
        taskbar_ = nullptr;
      }
    }
  }
  if (!taskbar_) return;
  if (percent) {
    taskbar_->SetProgressState(window, TBPF_NORMAL);
    taskbar_->SetProgressValue(window, static_cast<ULONGLONG>(*percent), 100);
  } else {
    taskbar_->SetProgressState(window, TBPF_NOPROGRESS);
  }
}

}  // namespace brisquel::win

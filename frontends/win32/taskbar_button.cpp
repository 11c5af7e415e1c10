#include "taskbar_button.h"

namespace zephor::win32 {
namespace {
constexpr ULONGLONG kWhole = 100;
}  // namespace

TaskbarButton::~TaskbarButton() { Release(); }

void TaskbarButton::Release() {
  if (list_ != nullptr) list_->Release();
  list_ = nullptr;
}

void TaskbarButton::Attach(HWND window) {
  Release();
  window_ = window;
  void* list = nullptr;
  if (FAILED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3,
                              &list))) {
    return;
  }
  list_ = static_cast<ITaskbarList3*>(list);
  if (FAILED(list_->HrInit())) Release();
}

void TaskbarButton::ShowPercent(int percent) {
  if (list_ == nullptr) return;
  list_->SetProgressState(window_, TBPF_NORMAL);
  list_->SetProgressValue(window_, static_cast<ULONGLONG>(percent), kWhole);
}

void TaskbarButton::ShowEnd(bool failed) {
  if (list_ == nullptr) return;
  // A failed run stays red on the button until the next one; a finished one leaves it plain.
  list_->SetProgressState(window_, failed ? TBPF_ERROR : TBPF_NOPROGRESS);
}

}  // namespace zephor::win32

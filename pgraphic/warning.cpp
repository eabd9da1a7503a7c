#include "pgraphic/warning.h"

#include <mutex>

namespace pg {

namespace {

std::mutex& HandlerMutex() {
  static std::mutex M;
  return M;
}

TPGWarningBoxHandler& Handler() {
  static TPGWarningBoxHandler H;
  return H;
}

}  // namespace

void SetPGWarningBoxHandler(TPGWarningBoxHandler NewHandler) {
  std::lock_guard Lock(HandlerMutex());
  Handler() = std::move(NewHandler);
}

TPGWarningBoxHandler GetPGWarningBoxHandler() {
  std::lock_guard Lock(HandlerMutex());
  return Handler();
}

TPGBoxResult PGWarningBox(const std::string& Caption, const std::string& Text, TPGBoxButtons Buttons) {
  TPGWarningBoxHandler H;
  {
    std::lock_guard Lock(HandlerMutex());
    H = Handler();
  }
  if (H) return H(Caption, Text, Buttons);
  return Buttons == TPGBoxButtons::OK ? TPGBoxResult::OK : TPGBoxResult::Cancel;
}

TPGWarningOutcome PGHandleWarning(TPGWarningAction Action, const std::string& Caption, const std::string& Text) {
  switch (Action) {
    case pgwaIgnore:
      return TPGWarningOutcome::Continue;
    case pgwaOKBox:
      PGWarningBox(Caption, Text, TPGBoxButtons::OK);
      return TPGWarningOutcome::Continue;
    case pgwaOKCancelBox:
      return PGWarningBox(Caption, Text, TPGBoxButtons::OKCancel) == TPGBoxResult::OK
                 ? TPGWarningOutcome::Continue
                 : TPGWarningOutcome::Cancelled;
    case pgwaRaise:
      break;
  }
  return TPGWarningOutcome::Raise;
}

}  // namespace pg

#include "cli/warning_handler.h"

#include <memory>
#include <mutex>
#include <string>

namespace kv {

namespace {

// Catalogue texts break paragraphs with "\r\r"; one line per warning suits a terminal
// and a log alike.
std::string OneLine(const std::string& Text) {
  std::string R;
  bool Break = false;
  for (const char c : Text) {
    if (c == '\r' || c == '\n') {
      Break = true;
      continue;
    }
    if (Break && !R.empty()) R += ' ';
    Break = false;
    R += c;
  }
  return R;
}

}  // namespace

pg::TPGWarningBoxHandler MakeWarningHandler(std::ostream& Err, bool Strict) {
  // Workers of a batch may warn at the same time; their lines must not interleave.
  auto Lock = std::make_shared<std::mutex>();
  return [&Err, Strict, Lock](const std::string& Caption, const std::string& Text, pg::TPGBoxButtons Buttons) {
    {
      std::lock_guard Guard(*Lock);
      Err << "Warning: " << OneLine(Caption) << ": " << OneLine(Text) << '\n';
    }
    return Strict && Buttons == pg::TPGBoxButtons::OKCancel ? pg::TPGBoxResult::Cancel : pg::TPGBoxResult::OK;
  };
}

TWarningHandlerScope::TWarningHandlerScope(pg::TPGWarningBoxHandler Handler) : FPrevious(pg::GetPGWarningBoxHandler()) {
  pg::SetPGWarningBoxHandler(std::move(Handler));
}

TWarningHandlerScope::~TWarningHandlerScope() { pg::SetPGWarningBoxHandler(std::move(FPrevious)); }

}  // namespace kv

#pragma once
// How the command line answers the library's warning boxes.

#include <ostream>

#include "pgraphic/warning.h"

namespace kv {

// Prints "Warning: <caption>: <text>" on one line to Err and answers OK, or Cancel when
// Strict and the box offers it (an OK-only box has nothing to cancel).
pg::TPGWarningBoxHandler MakeWarningHandler(std::ostream& Err, bool Strict);

// Installs a handler for the lifetime of the object, then puts back the one before.
class TWarningHandlerScope {
public:
  explicit TWarningHandlerScope(pg::TPGWarningBoxHandler Handler);
  ~TWarningHandlerScope();
  TWarningHandlerScope(const TWarningHandlerScope&) = delete;
  TWarningHandlerScope& operator=(const TWarningHandlerScope&) = delete;

private:
  pg::TPGWarningBoxHandler FPrevious;
};

}  // namespace kv

#pragma once
// Warning policies and the warning box. The library shows warning boxes through a
// handler that the front end installs (message boxes in the window program, stderr in
// the command-line tool). With no handler, an OK box counts as closed and an OK/Cancel
// box as answered Cancel, so nothing proceeds unasked.

#include <functional>
#include <string>

namespace pg {

enum TPGWarningAction { pgwaIgnore, pgwaOKBox, pgwaOKCancelBox, pgwaRaise };

enum class TPGBoxButtons { OK, OKCancel };
enum class TPGBoxResult { OK, Cancel };

using TPGWarningBoxHandler =
    std::function<TPGBoxResult(const std::string& Caption, const std::string& Text, TPGBoxButtons Buttons)>;

void SetPGWarningBoxHandler(TPGWarningBoxHandler Handler);
TPGWarningBoxHandler GetPGWarningBoxHandler();
TPGBoxResult PGWarningBox(const std::string& Caption, const std::string& Text, TPGBoxButtons Buttons);

// What a warning under a policy amounts to; the caller raises its own exception for
// Cancelled (its "aborted on user request" text) and Raise (the warning's text).
enum class TPGWarningOutcome { Continue, Cancelled, Raise };
TPGWarningOutcome PGHandleWarning(TPGWarningAction Action, const std::string& Caption, const std::string& Text);

}  // namespace pg

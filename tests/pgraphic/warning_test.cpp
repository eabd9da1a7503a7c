#include <gtest/gtest.h>

#include "pgraphic/warning.h"

using namespace pg;

TEST(Warning, PoliciesWithoutHandlerNeverProceedUnasked) {
  SetPGWarningBoxHandler(nullptr);
  EXPECT_EQ(PGHandleWarning(pgwaIgnore, "JPG Warning", "w"), TPGWarningOutcome::Continue);
  EXPECT_EQ(PGHandleWarning(pgwaOKBox, "JPG Warning", "w"), TPGWarningOutcome::Continue);
  EXPECT_EQ(PGHandleWarning(pgwaOKCancelBox, "JPG Warning", "w"), TPGWarningOutcome::Cancelled);
  EXPECT_EQ(PGHandleWarning(pgwaRaise, "JPG Warning", "w"), TPGWarningOutcome::Raise);
}

TEST(Warning, HandlerAnswersTheBox) {
  int Shown = 0;
  TPGBoxResult Answer = TPGBoxResult::OK;
  SetPGWarningBoxHandler([&](const std::string& Caption, const std::string& Text, TPGBoxButtons Buttons) {
    ++Shown;
    EXPECT_EQ(Caption, "PNG Warning");
    EXPECT_EQ(Text, "bad chunk");
    return Buttons == TPGBoxButtons::OK ? TPGBoxResult::OK : Answer;
  });
  EXPECT_EQ(PGHandleWarning(pgwaOKCancelBox, "PNG Warning", "bad chunk"), TPGWarningOutcome::Continue);
  Answer = TPGBoxResult::Cancel;
  EXPECT_EQ(PGHandleWarning(pgwaOKCancelBox, "PNG Warning", "bad chunk"), TPGWarningOutcome::Cancelled);
  EXPECT_EQ(PGHandleWarning(pgwaOKBox, "PNG Warning", "bad chunk"), TPGWarningOutcome::Continue);
  EXPECT_EQ(PGHandleWarning(pgwaIgnore, "PNG Warning", "bad chunk"), TPGWarningOutcome::Continue);
  EXPECT_EQ(PGHandleWarning(pgwaRaise, "PNG Warning", "bad chunk"), TPGWarningOutcome::Raise);
  EXPECT_EQ(Shown, 3);
  SetPGWarningBoxHandler(nullptr);
}

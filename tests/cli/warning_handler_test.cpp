#include <gtest/gtest.h>

#include <sstream>

#include "cli/warning_handler.h"
#include "cli_fixture.h"

TEST(CliWarnings, HandlerPrintsOneLineAndAnswers) {
  struct Row {
    const char* Fault;
    bool Strict;
    pg::TPGBoxButtons Buttons;
    pg::TPGBoxResult Answer;
  };
  const Row Rows[] = {
      {"default run cancels", false, pg::TPGBoxButtons::OKCancel, pg::TPGBoxResult::OK},
      {"strict run proceeds", true, pg::TPGBoxButtons::OKCancel, pg::TPGBoxResult::Cancel},
      {"strict run cancels an OK-only box", true, pg::TPGBoxButtons::OK, pg::TPGBoxResult::OK},
  };
  for (const Row& R : Rows) {
    std::ostringstream Err;
    const auto Handler = kv::MakeWarningHandler(Err, R.Strict);
    EXPECT_EQ(Handler("BMP Warning", "first part\r\rsecond part", R.Buttons), R.Answer) << R.Fault;
    EXPECT_EQ(Err.str(), "Warning: BMP Warning: first part second part\n") << R.Fault;
  }
}

// The handler writes to the stream of one run; left installed it would outlive it.
// The caller's own handler is back afterwards.
TEST_F(CliTest, RunRestoresTheCallersWarningHandler) {
  const TCliResult Result = Run({"info", MakeImage("in.bmp")});
  EXPECT_EQ(Result.Status, 0);
  EXPECT_EQ(pg::PGWarningBox("Caption", "Text", pg::TPGBoxButtons::OKCancel), pg::TPGBoxResult::Cancel);
  pg::SetPGWarningBoxHandler([](const std::string&, const std::string&, pg::TPGBoxButtons) { return pg::TPGBoxResult::OK; });
  EXPECT_EQ(Run({"info", MakeImage("in2.bmp")}).Status, 0);
  EXPECT_EQ(pg::PGWarningBox("Caption", "Text", pg::TPGBoxButtons::OKCancel), pg::TPGBoxResult::OK);
  pg::SetPGWarningBoxHandler(nullptr);
}

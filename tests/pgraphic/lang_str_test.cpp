#include <gtest/gtest.h>

#include <vector>

#include "pgraphic/exceptions.h"
#include "pgraphic/lang_str.h"

using namespace pg;

namespace {

struct LanguageScope {
  explicit LanguageScope(int L) { PGLanguage = static_cast<std::uint8_t>(L); }
  ~LanguageScope() { PGLanguage = 0; }
};

}  // namespace

TEST(LangStr, CatalogueIsInOrderAndBounded) {
  EXPECT_NO_THROW(CheckPGLangStrEntries(PGLangStrEntries));
  for (int L = 0; L < 5; ++L) {
    LanguageScope Scope(L);
    EXPECT_EQ(PGLangStr(0), "");
    EXPECT_EQ(PGLangStr(84), "");
    for (int Id = 1; Id < 84; ++Id) EXPECT_FALSE(PGLangStr(Id).empty()) << "entry " << Id << " language " << L;
  }
}

TEST(LangStr, OrderCheckNamesFirstMismatch) {
  std::vector<TPGLangStrEntry> Entries(PGLangStrEntries.begin(), PGLangStrEntries.end());
  Entries[3].Id = 4;
  Entries[7].Id = 9;
  try {
    CheckPGLangStrEntries(Entries);
    FAIL() << "no exception";
  } catch (const EPixelGraphic& E) {
    EXPECT_STREQ(E.what(), "PGLangStrEntries order wrong 3 and 4 are not identical");
  }
}

TEST(LangStr, TextsByLanguage) {
  struct Case { int Language, Id; const char* Text; };
  const Case Cases[] = {
      {0, 2, "No palette"},
      {1, 21, "Nagative H\u00f6he"},
      {2, 46, "V"},
      {3, 19, "Onbekende bestand extensie"},
      {4, 16, "%S1 est\u00e1 vac\u00edo"},
      {5, 25, "Image files"},
      {5, 26, ""},
      {6, 2, ""},
      {0, 82, "\u00b1"},
      {1, 83, "\u00b0"},
  };
  for (const auto& C : Cases) {
    LanguageScope Scope(C.Language);
    EXPECT_EQ(PGLangStr(C.Id), C.Text) << "language " << C.Language << " entry " << C.Id;
  }
}

TEST(LangStr, Placeholders) {
  EXPECT_EQ(PGLangStrS1(7, "Index"), "Index invalid");
  EXPECT_EQ(PGLangStrS1(6, "x"), "Unknown file format");
  EXPECT_EQ(PGLangStrS3(17, "Bitmap", "256 colors", "16 colors"),
            "The graphic cannot be saved to a Bitmap file with the current color resolution (256 colors).\r\r"
            "The graphic will be saved with a different color resolution (16 colors).");
  // Each placeholder is replaced once, left to right, so a %S2 brought in by S1 is filled.
  EXPECT_EQ(PGLangStrS2(7, "%S2 %S1", "two"), "two %S1 invalid");
  {
    LanguageScope Dutch(3);
    EXPECT_EQ(PGLangStrS1(19, "tga"), "Onbekende bestand extensie");
  }
  EXPECT_EQ(PGLangStrS1(19, "tga"), "Unknown file extension \"tga\"");
}

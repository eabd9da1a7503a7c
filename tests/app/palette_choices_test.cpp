#include <gtest/gtest.h>

#include <string>

#include "app/shrink/palette_choices.h"

using namespace kv;

TEST(PaletteChoices, RowsKeepTheirIndexDepthAndPalette) {
  struct Row {
    int Index;
    const char* German;
    const char* English;
    int Depth;
    pg::TPaletteIdent Ident;
  };
  // The setting "Selection" stores these indices, so a shifted row changes saved choices.
  const Row Rows[] = {
      {0, "Schwarz-Weiß", "Black&White", 0, pg::pBlackWhite},
      {4, "Grau 4", "Gray 4", 1, pg::pGray4},
      {6, "System Grau 4", "System Gray 4", 1, pg::pSysGray4},
      {7, "System 16", "System 16", 1, pg::pSys16},
      {11, "Grau 236", "Gray 236", 2, pg::pGray236},
      {14, "Spezial 216 (CLUT)", "Special 216 (CLUT)", 2, pg::pSpecial216},
      {15, "Spezial 252", "Special 252", 2, pg::pSpecial252},
      {19, "True-Color", "True-Color", 3, pg::pTrueColor},
  };
  for (const Row& R : Rows) {
    const TPaletteChoice& C = PaletteChoices[R.Index];
    SCOPED_TRACE(R.Index);
    EXPECT_EQ(std::string(C.GermanName), R.German);
    EXPECT_EQ(std::string(C.EnglishName), R.English);
    EXPECT_EQ(C.Depth, R.Depth);
    EXPECT_EQ(C.PaletteIdent, R.Ident);
    EXPECT_FALSE(C.IsOptimized || C.IsSource || C.IsIndividual);
  }
}

TEST(PaletteChoices, EachPaletteDepthHasOneSourceIndividualAndOptimizedRow) {
  const struct {
    int Source, Individual, Optimized, Depth;
  } Rows[] = {{1, 2, 3, 0}, {8, 9, 10, 1}, {16, 17, 18, 2}};
  for (const auto& R : Rows) {
    SCOPED_TRACE(R.Depth);
    const auto& S = PaletteChoices[R.Source];
    const auto& I = PaletteChoices[R.Individual];
    const auto& O = PaletteChoices[R.Optimized];
    EXPECT_TRUE(S.IsSource && !S.IsIndividual && !S.IsOptimized);
    EXPECT_TRUE(I.IsIndividual && !I.IsSource && !I.IsOptimized);
    EXPECT_TRUE(O.IsOptimized && !O.IsSource && !O.IsIndividual);
    for (const auto* C : {&S, &I, &O}) {
      EXPECT_EQ(C->Depth, R.Depth);
      EXPECT_EQ(C->PaletteIdent, pg::pUnknown);
    }
    EXPECT_EQ(std::string(S.GermanName) + "/" + S.EnglishName, "Quelle/Source");
    EXPECT_EQ(std::string(I.GermanName) + "/" + I.EnglishName, "Individuell/Individual");
    EXPECT_EQ(std::string(O.GermanName) + "/" + O.EnglishName, "Optimiert/Optimized");
  }
}

TEST(PaletteChoices, SizeClassBoundaries) {
  const struct {
    int Count, Class;
  } Rows[] = {{0, 3}, {1, 0}, {2, 0}, {3, 1}, {16, 1}, {17, 2}, {256, 2}, {257, 3}};
  for (const auto& R : Rows) EXPECT_EQ(PaletteSizeClass(R.Count), R.Class) << R.Count;
}

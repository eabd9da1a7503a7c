#include <gtest/gtest.h>

#include "app/shrink/result_size.h"

using namespace kv;

TEST(ResultSize, PercentToPixelsFloors) {
  const struct {
    const char* Fault;
    long double Percent;
    int Source, Pixels;
  } Rows[] = {
      {"rounds instead of flooring", 33.3L, 640, 213},
      {"rounds the height instead of flooring", 33.3L, 480, 159},
      {"loses an exact product", 50, 200, 100},
      {"floors a whole product one below", 20, 30, 6},
      {"floors a whole product of a fraction one below", 30, 40, 12},
      {"negative percent gives a negative size", -5, 200, 0},
      {"empty source divides", 50, 0, 0},
  };
  for (const auto& R : Rows) EXPECT_EQ(PercentToPixels(R.Percent, R.Source), R.Pixels) << R.Fault;
}

TEST(ResultSize, PixelsToPercentRoundsUpToTwoDecimals) {
  const struct {
    const char* Fault;
    int Pixels, Source;
    long double Percent;
  } Rows[] = {
      {"rounds down or to nearest", 100, 300, 33.34L},
      {"exact hundredth rounded up a step", 3, 10, 30},
      {"whole percentage changed", 150, 300, 50},
      {"empty source divides", 10, 0, 0},
  };
  for (const auto& R : Rows) EXPECT_NEAR(static_cast<double>(PixelsToPercent(R.Pixels, R.Source)), static_cast<double>(R.Percent), 1e-9) << R.Fault;
}

TEST(ResultSize, KeepAspectRatioCopiesThePercentage) {
  TResultSize S(640, 480, true);
  S.SetWidthPercent(33.3L);
  EXPECT_EQ(S.Width(), 213);
  EXPECT_EQ(S.Height(), 159);
  EXPECT_NEAR(static_cast<double>(S.HeightPercent()), 33.3, 1e-12);

  TResultSize P(300, 200, true);
  P.SetWidthPixels(100);  // 33.34 % of the height: 66.68 pixels
  EXPECT_NEAR(static_cast<double>(P.WidthPercent()), 33.34, 1e-9);
  EXPECT_EQ(P.Height(), 66);

  TResultSize H(300, 200, true);
  H.SetHeightPixels(50);
  EXPECT_EQ(H.Width(), 75);
}

TEST(ResultSize, WithoutAspectRatioTheAxesAreIndependent) {
  TResultSize S(640, 480, false);
  S.SetWidthPercent(50);
  S.SetHeightPixels(10);
  EXPECT_EQ(S.Width(), 320);
  EXPECT_EQ(S.Height(), 10);
  EXPECT_NEAR(static_cast<double>(S.WidthPercent()), 50, 1e-12);
}

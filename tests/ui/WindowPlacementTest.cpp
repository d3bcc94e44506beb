#include <gtest/gtest.h>

#include <random>

#include "ui/WindowPlacement.h"

namespace brisquel {
namespace {

constexpr ScreenSize kScreen{1024, 768};

WindowPlacementValues SomePlacement() {
  WindowPlacementValues v;
  v.flags = 0;
  v.showCmd = kShowNormal;
  v.pixelsPerInch = 96;
  v.minMaxPos = {-1, -1, -8, -31};
  v.normPos = {10, 20, 635, 420};
  v.visible = false;
  return v;
}

void ExpectSame(const WindowPlacementValues& a, const WindowPlacementValues& b) {
  EXPECT_EQ(a.flags, b.flags);
  EXPECT_EQ(a.showCmd, b.showCmd);
  EXPECT_EQ(a.pixelsPerInch, b.pixelsPerInch);
  EXPECT_EQ(a.minMaxPos, b.minMaxPos);
  EXPECT_EQ(a.normPos, b.normPos);
  EXPECT_EQ(a.visible, b.visible);
}

TEST(WindowPlacement, FileIsNamedAfterTheProgram) {
  EXPECT_EQ(PlacementFileName("/usr/local/bin/brisquel"), "brisquel.INI");
  EXPECT_EQ(PlacementFileName("C:\\Tools\\Brisquel.exe"), "Brisquel.INI");
  EXPECT_EQ(PlacementFileName("build/a.b/brisquel"), "brisquel.INI");
  EXPECT_EQ(PlacementFileName(".hidden"), ".hidden.INI");
}

TEST(WindowPlacement, NewFileHoldsEveryKeyAndPositionsTwice) {
  auto text = WritePlacement("", SomePlacement(), kScreen);
  ASSERT_TRUE(text);
  EXPECT_EQ(*text,
            "[TfmMain]\n"
            "FormVersion=0\n"
            "Flags=0\n"
            "ShowCmd=1\n"
            "PixelsPerInch=96\n"
            "MinMaxPos=-1,-1,-8,-31\n"
            "MinMaxPos(1024x768)=-1,-1,-8,-31\n"
            "NormPos=10,20,635,420\n"
            "NormPos(1024x768)=10,20,635,420\n"
            "Visible=0\n");
  auto back = ReadPlacement(*text, kScreen);
  ASSERT_TRUE(back);
  ExpectSame(*back, SomePlacement());
}

TEST(WindowPlacement, ScreenSizeKeyIsReadBeforeThePlainKey) {
  const std::string text =
      "[TfmMain]\r\n"
      "NormPos=1,2,700,500\r\n"
      "NormPos(1024x768)=5,6,640,410\r\n"
      "NormPos(1920x1080)=100,100,900,700\r\n";
  auto onSmall = ReadPlacement(text, kScreen);
  auto onLarge = ReadPlacement(text, {1920, 1080});
  auto onOther = ReadPlacement(text, {800, 600});
  ASSERT_TRUE(onSmall && onLarge && onOther);
  EXPECT_EQ(onSmall->normPos, (PlacementRect{5, 6, 640, 410}));
  EXPECT_EQ(onLarge->normPos, (PlacementRect{100, 100, 900, 700}));
  EXPECT_EQ(onOther->normPos, (PlacementRect{1, 2, 700, 500}));
}

TEST(WindowPlacement, RewriteKeepsEverythingElseWhereItWas) {
  const std::string before =
      "; written by hand\r\n"
      "[Other]\r\n"
      "NormPos=1,1,2,2\r\n"
      "\r\n"
      "[tfmmain]\r\n"
      "Extra = keep me\r\n"
      "normpos = \"3,4,700,500\"\r\n"
      "\r\n"
      "[Last]\r\n"
      "k=v";
  auto after = WritePlacement(before, SomePlacement(), kScreen);
  ASSERT_TRUE(after);
  EXPECT_EQ(*after,
            "; written by hand\r\n"
            "[Other]\r\n"
            "NormPos=1,1,2,2\r\n"
            "\r\n"
            "[tfmmain]\r\n"
            "Extra = keep me\r\n"
            "NormPos=10,20,635,420\r\n"
            "FormVersion=0\r\n"
            "Flags=0\r\n"
            "ShowCmd=1\r\n"
            "PixelsPerInch=96\r\n"
            "MinMaxPos=-1,-1,-8,-31\r\n"
            "MinMaxPos(1024x768)=-1,-1,-8,-31\r\n"
            "NormPos(1024x768)=10,20,635,420\r\n"
            "Visible=0\r\n"
            "\r\n"
            "[Last]\r\n"
            "k=v");
  // A section at the end of a file without a final line end still gets whole lines.
  auto appended = IniWriteValues("[TfmMain]\nA=1", "TfmMain", {{"B", "2"}});
  ASSERT_TRUE(appended);
  EXPECT_EQ(*appended, "[TfmMain]\nA=1\nB=2\n");
  auto newSection = IniWriteValues("[X]\r\nA=1", "TfmMain", {{"B", "2"}});
  ASSERT_TRUE(newSection);
  EXPECT_EQ(*newSection, "[X]\r\nA=1\r\n[TfmMain]\r\nB=2\r\n");
}

TEST(WindowPlacement, UnusablePlacementsAreNotRestored) {
  for (const char* text : {
           "",
           "[TfmMain]\nFlags=0\n",
           "NormPos=10,20,635,420\n",  // outside any section
           "[TfmMain]\nNormPos=10,20,635\n",
           "[TfmMain]\nNormPos=10,20,635,420,5\n",
           "[TfmMain]\nNormPos=10,20,,420\n",
           "[TfmMain]\nNormPos=a,b,c,d\n",
           "[TfmMain]\nNormPos=10;20;635;420\n",
           "[TfmMain]\nNormPos=635,20,10,420\n",
           "[TfmMain]\nNormPos=10,20,10,420\n",
           "[TfmMain]\nNormPos=0,0,99999999999,400\n",
           "[TfmMain]\nNormPos=0,0,40000,400\n",
           "[TfmMain]\nNormPos=-40000,0,600,400\n",
           "[TfmMain]\nFormVersion=1\nNormPos=10,20,635,420\n",
           "[TfmMain]\nFormVersion=x\nNormPos=10,20,635,420\n",
           "[TfmMain\nNormPos=10,20,635,420\n",
       }) {
    EXPECT_FALSE(ReadPlacement(text, kScreen)) << text;
  }
  // Malformed optional keys fall back to their defaults.
  auto v =
      ReadPlacement("[TfmMain]\nNormPos= 10 , 20 ,635, 420 \nShowCmd=max\nMinMaxPos=1\n", kScreen);
  ASSERT_TRUE(v);
  EXPECT_EQ(v->normPos, (PlacementRect{10, 20, 635, 420}));
  EXPECT_EQ(v->showCmd, kShowNormal);
  EXPECT_EQ(v->minMaxPos, (PlacementRect{-1, -1, -1, -1}));
}

TEST(WindowPlacement, OversizedFilesAreNeitherReadNorRewritten) {
  std::string big = "[TfmMain]\nNormPos=10,20,635,420\n";
  big.resize(kMaxPlacementFileSize + 1, ';');
  EXPECT_FALSE(ReadPlacement(big, kScreen));
  EXPECT_FALSE(WritePlacement(big, SomePlacement(), kScreen));
  EXPECT_FALSE(IniReadValue(big, "TfmMain", "NormPos"));
}

// Any text, however broken, can be rewritten, and what was written reads back.
TEST(WindowPlacement, AnyTextRoundTrips) {
  const std::string pieces[] = {"[TfmMain]",
                                "[tfmMAIN ]",
                                "[Other]",
                                "[",
                                "]",
                                "NormPos",
                                "NormPos(1024x768)",
                                "=",
                                "\"",
                                ",",
                                "1,2,3,4",
                                " ",
                                ";",
                                "\r\n",
                                "\n",
                                "\r",
                                std::string(1, '\0'),
                                "\xFF",
                                "Flags=9"};
  std::mt19937 random(12345);
  for (int round = 0; round < 2000; ++round) {
    std::string text;
    const int count = static_cast<int>(random() % 40);
    for (int i = 0; i < count; ++i) text += pieces[random() % std::size(pieces)];
    WindowPlacementValues v = SomePlacement();
    v.normPos = {static_cast<std::int32_t>(random() % 500), 7, 900, 800};
    v.showCmd = static_cast<std::int32_t>(random() % 4);
    auto written = WritePlacement(text, v, kScreen);
    ASSERT_TRUE(written) << text;
    auto back = ReadPlacement(*written, kScreen);
    ASSERT_TRUE(back) << text;
    ExpectSame(*back, v);
  }
}

}  // namespace
}  // namespace brisquel

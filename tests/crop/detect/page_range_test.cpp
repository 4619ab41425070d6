// Page ranges as the user types them.

#include "crop/detect/margins.h"
#include "crop/detect/page_shape.h"
#include "crop/detect/page_range.h"

#include <gtest/gtest.h>

using crop::ParsePageRange;

namespace {

std::vector<int> Pages(const std::string &text, int count) {
    std::vector<int> pages;
    std::string error;
    EXPECT_TRUE(ParsePageRange(text, count, pages, error)) << text << ": " << error;
    return pages;
}

std::string Refusal(const std::string &text, int count) {
    std::vector<int> pages{99};
    std::string error;
    EXPECT_FALSE(ParsePageRange(text, count, pages, error)) << text;
    EXPECT_TRUE(pages.empty()) << text;
    return error;
}

TEST(PageRange, AcceptsPagesRunsOpenRunsWordsAndParities) {
    EXPECT_EQ(Pages("1-3, 8, 10-", 12), (std::vector<int>{1, 2, 3, 8, 10, 11, 12}));
    EXPECT_EQ(Pages("5-12 odd", 40), (std::vector<int>{5, 7, 9, 11}));
    EXPECT_EQ(Pages(" -3 EVEN ,9,", 9), (std::vector<int>{2, 9}));
    EXPECT_EQ(Pages("even", 5), (std::vector<int>{2, 4}));
    EXPECT_EQ(Pages("All", 3), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(Pages("3, 1-3, 2", 4), (std::vector<int>{1, 2, 3})) << "in order, each once";
    // Only the form, before the document is known.
    EXPECT_TRUE(Pages("5-40 odd, 100-", 0).empty());
}

TEST(PageRange, RefusesWithTheReason) {
    EXPECT_EQ(Refusal("0", 36), "Page 0 does not exist: the document has pages 1 to 36.");
    EXPECT_EQ(Refusal("30-37", 36), "Page 37 does not exist: the document has pages 1 to 36.");
    EXPECT_EQ(Refusal("2", 1), "Page 2 does not exist: the document has only page 1.");
    EXPECT_EQ(Refusal("8-3", 10), "The range 8-3 runs backwards: write it as 3-8.");
    EXPECT_EQ(Refusal("2 odd", 10), "\"2 odd\" holds no page.");
    EXPECT_EQ(Refusal("1-x", 10), "\"1-x\" is not a page number or a range such as 5-40.");
    EXPECT_EQ(Refusal("99999999999", 10), "\"99999999999\" is not a page number or a range such as 5-40.");
    EXPECT_NE(Refusal("", 10).find("No pages were given"), std::string::npos);
    EXPECT_NE(Refusal("1,,2", 10).find("empty item"), std::string::npos);
    EXPECT_NE(Refusal("-", 10).find("not a page number"), std::string::npos);
    EXPECT_EQ(Refusal("0-4", 0), "Page 0 does not exist: pages are counted from 1.");
}

TEST(Margins, TakeAUnitAfterTheLastNumberAndRefuseWithTheReason) {
    crop::Margins m;
    std::string error;
    ASSERT_TRUE(crop::ParseMargins(" 0.5, 1,0.5 ,1 IN", m, error)) << error;
    EXPECT_DOUBLE_EQ(m.left, 36);
    EXPECT_DOUBLE_EQ(m.top, 72);
    ASSERT_TRUE(crop::ParseMargins("25.4,0,0,0mm", m, error)) << error;
    EXPECT_NEAR(m.left, 72, 1e-9);
    // Below 0, a margin is added.
    ASSERT_TRUE(crop::ParseMargins("-10,0,0,0mm", m, error)) << error;
    EXPECT_NEAR(m.left, -10 * 72 / 25.4, 1e-9);
    EXPECT_FALSE(crop::ParseMargins("--1,0,0,0", m, error));
    EXPECT_NE(error.find("\"--1\" is not a margin"), std::string::npos) << error;
    EXPECT_FALSE(crop::ParseMargins("1,2,3", m, error));
    EXPECT_NE(error.find("3 were given"), std::string::npos) << error;
    EXPECT_FALSE(crop::ParseMargins("1,2,,3", m, error));
    EXPECT_FALSE(crop::ParseMargins("1,2,3,4px", m, error));
    // Margins that meet or cross leave nothing.
    EXPECT_FALSE(crop::InsideMargins({300, 0, 312, 0}, 612, 792));
    EXPECT_EQ(crop::InsideMargins({10, 20, 30, 40}, 612, 792), (crop::CropRect{10, 20, 582, 752}));
}

TEST(Margins, RoundTheContentTakeOneFourOrSidesByNameAndRefuseWithTheReason) {
    crop::SideMargins m;
    std::string error;
    ASSERT_TRUE(crop::ParseSideMargins("5mm", m, error)) << error;
    EXPECT_NEAR(m.bottom, 5 * 72 / 25.4, 1e-9);
    ASSERT_TRUE(crop::ParseSideMargins("10,10,10,30", m, error)) << error;
    EXPECT_EQ(m.bottom, 30);
    ASSERT_TRUE(crop::ParseSideMargins("inner 20, outer 10, top 5, bottom 72", m, error)) << error;
    EXPECT_TRUE(m.innerOuter);
    // Odd pages have the spine on the left, even ones on the right.
    EXPECT_EQ(m.On(3).left, 20);
    EXPECT_EQ(m.On(4).left, 10);
    EXPECT_EQ(m.On(4).right, 20);
    EXPECT_EQ(m.On(4).bottom, 72);
    m.spineRight = true;  // a book read right to left
    EXPECT_EQ(m.On(3).right, 20);
    EXPECT_EQ(m.On(4).left, 20);
    ASSERT_TRUE(crop::ParseSideMargins("inner 10, top 2mm", m, error)) << error;
    EXPECT_NEAR(m.left, 10 * 72 / 25.4, 1e-9) << "the unit at the end is a unitless number's too";
    EXPECT_EQ(m.right, 0);
    ASSERT_TRUE(crop::ParseSideMargins("Inner 20, outer 10 mm", m, error)) << error;
    EXPECT_NEAR(m.left, 20 * 72 / 25.4, 1e-9) << "a unit after a space is the last unit too";
    for (const char *bad : {"-5", "inner 20, left 5", "inner 5, inner 6", "spine 20", "inner", "10,10,10", "15000"})
        EXPECT_FALSE(crop::ParseSideMargins(bad, m, error)) << bad;
    EXPECT_EQ(error, "A margin round the content is from 0 to 14400 points.");
}

TEST(PageShape, RoomAddedForAnAspectGoesByTheWeightsAndBadWeightsAreRefused) {
    crop::RoomWeights below;
    std::string error;
    ASSERT_TRUE(crop::ParseRoomWeights("1,1,1,3", below, error)) << error;
    // 300 x 300 grown to 3:4: 100 pt taller, a quarter above and three below.
    EXPECT_EQ(crop::GrownToRatio({0, 100, 300, 400}, 3, 4, below), (crop::CropRect{0, 75, 300, 475}));
    EXPECT_EQ(crop::GrownToRatio({0, 100, 300, 400}, 3, 4), (crop::CropRect{0, 50, 300, 450}));
    below = {0, 0, 0, 0};  // no weight: evenly
    EXPECT_EQ(crop::GrownToRatio({100, 0, 200, 400}, 1, 2, below), (crop::CropRect{50, 0, 250, 400}));
    for (const char *bad : {"1,1,1", "1,-1,1,1", "a,1,1,1"})
        EXPECT_FALSE(crop::ParseRoomWeights(bad, below, error)) << bad;
}

TEST(PageShape, AReadersBarsGetBlankMarginsAndReadersOfOnesOwnAreReadOrRefusedByLine) {
    std::vector<crop::ReaderScreen> own;
    std::string error;
    ASSERT_TRUE(crop::ParseReaderScreens("# mine\n\nTall one = 1:2, 0,10,0,10\r\nSquare = 1:1\n", own, error)) << error;
    ASSERT_EQ(own.size(), 2u);
    EXPECT_EQ(crop::FindScreen(own, "tall ONE"), &own[0]);
    // 100 x 120 in the 80 % of a 1:2 screen its bars leave: 160 high, then 200 with them.
    const crop::CropRect r = crop::GrownToScreen({0, 0, 100, 120}, own[0]);
    EXPECT_NEAR(r.bottom - r.top, 200, 1e-9);
    EXPECT_NEAR(r.right - r.left, 100, 1e-9);
    EXPECT_NEAR(r.top, -20 - 20, 1e-9) << "the room the aspect adds evenly, then the top bar";
    for (const char *bad : {"= 3:4", "Reader = 3-4", "Reader = 3:4, 0,50,0,50", "Reader = 3:4, 1,2"})
        EXPECT_FALSE(crop::ParseReaderScreens(bad, own, error)) << bad;
    EXPECT_EQ(error.rfind("line 1 is not", 0), 0u) << error;
}

}  // namespace

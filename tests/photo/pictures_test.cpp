// The ruler built into the program and the five screen pictures made from it.
#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "photo/model/pictures.h"
#include "photo/simulate/schedule.h"

using namespace velmaro::photo;

namespace {

// Columns of a row of the picture whose value is v.
std::vector<int> ColumnsOf(const cv::Mat1b& picture, int row, int v) {
    std::vector<int> columns;
    for (int x = 0; x < picture.cols; ++x)
        if (picture(row, x) == v) columns.push_back(x);
    return columns;
}

}  // namespace

TEST(Ruler, BuiltInRulerHasTheStripesTicksAndLabelsWhereTheProgramDrawsThem) {
    const Ruler ruler = BuiltInRuler();
    ASSERT_EQ(kRulerWidth, ruler.grey.cols);
    ASSERT_EQ(kRulerHeight, ruler.grey.rows);
    EXPECT_EQ(255, ruler.grey(0, 40)) << "line 1 is white in the stripes";
    EXPECT_EQ(0, ruler.grey(1, 40)) << "line 2 is black";
    EXPECT_EQ(0, ruler.grey(767, 40)) << "line 768 is black";
    EXPECT_EQ(0, ruler.grey(9, 110)) << "line 10 has a long tick";
    EXPECT_EQ(255, ruler.grey(10, 110)) << "line 11 has none";
    EXPECT_EQ(0, ruler.grey(49, 118)) << "line 50 runs into its arrow";
    for (int row = 0; row < kRulerHeight; row += 37) {
        EXPECT_EQ(0, ruler.grey(row, 2)) << "edge strip, row " << row;
        EXPECT_EQ(0, ruler.grey(row, 327)) << "edge strip, row " << row;
        EXPECT_EQ(255, ruler.grey(row, 9)) << "margin, row " << row;
    }
}

TEST(Ruler, BytesThatAreNoRulerAreRefused) {
    const std::vector<std::uint8_t> nothing(10, 0);
    EXPECT_THROW(ParseRuler(nothing.data(), nothing.size()), std::runtime_error);
    std::vector<std::uint8_t> header(54, 0);
    header[0] = 'B', header[1] = 'M';
    EXPECT_THROW(ParseRuler(header.data(), header.size()), std::runtime_error);
}

TEST(Pictures, BarsGrowByOnePairPerPhaseBesideTheCentredRuler) {
    const auto pictures = ScreenPictures(BuiltInRuler(), 1024, 768);
    const ScreenLayout layout = LayoutFor(1024, 768);
    EXPECT_EQ(347, layout.rulerLeft);
    EXPECT_EQ(307, layout.BarColumn(-1, 4));
    EXPECT_EQ(712, layout.BarColumn(+1, 4));
    const int row = 10;  // line 11: no tick, no label; the ruler's black is its edge strips
    for (int phase = 0; phase < kPhases; ++phase) {
        std::vector<int> expected;
        for (int bar = phase; bar >= 1; --bar)
            for (int x = 0; x < kBarWidth; ++x) expected.push_back(layout.BarColumn(-1, bar) + x);
        for (int x = 0; x < 5; ++x) expected.push_back(347 + x);
        std::vector<int> black = ColumnsOf(pictures[phase], row, 0);
        black.resize(expected.size());
        EXPECT_EQ(expected, black) << "phase " << phase;
        EXPECT_EQ(2 * (5 + 5 * phase) + 2 * 50 + 2 * 10, static_cast<int>(ColumnsOf(pictures[phase], row + 1, 0).size()))
            << "phase " << phase << ", line 12: edges, bars, stripes and the short ticks";
    }
}

TEST(Pictures, UndrawnColumnsAreBlackAndShortScreensCutTheRuler) {
    const auto pictures = ScreenPictures(BuiltInRuler(), 1020, 600);
    ASSERT_EQ(600, pictures[0].rows);
    EXPECT_EQ(1016, LayoutFor(1020, 600).drawnWidth);
    for (int x = 1016; x < 1020; ++x) EXPECT_EQ(0, pictures[0](300, x)) << "column " << x;
    EXPECT_EQ(255, pictures[0](300, 1015));
    EXPECT_EQ(346 + 0, LayoutFor(1020 + 3, 600).rulerLeft) << "odd width: half a column left of centre";
    const Ruler ruler = BuiltInRuler();
    cv::Mat1b rulerOnScreen = pictures[4](cv::Rect(LayoutFor(1020, 600).rulerLeft, 0, kRulerWidth, 600));
    EXPECT_EQ(0, cv::norm(rulerOnScreen, ruler.grey.rowRange(0, 600), cv::NORM_INF));
}

TEST(Pictures, NarrowScreensClipTheBars) {
    const auto pictures = ScreenPictures(BuiltInRuler(), 350, 200);
    EXPECT_EQ(0, LayoutFor(350, 200).BarColumn(-1, 1));
    EXPECT_EQ(255, pictures[0](100, 0));
    EXPECT_EQ(0, pictures[1](100, 0)) << "bar 1 fills columns 0 to 4";
    EXPECT_EQ(0, cv::norm(pictures[1], pictures[4], cv::NORM_INF)) << "bars 2 to 4 fall left of the screen";
}

TEST(Schedule, PicturesAdvanceOncePerRefreshOrAsTheHoldsSay) {
    const Schedule every{2, {1}};
    EXPECT_EQ(2, every.Phase(0));
    EXPECT_EQ(3, every.Phase(1));
    EXPECT_EQ(1, every.Phase(-1));
    EXPECT_EQ(2, every.Phase(-5));
    const Schedule doubled{0, {2}};
    std::vector<int> phases;
    for (int k = -2; k < 6; ++k) phases.push_back(doubled.Phase(k));
    EXPECT_EQ((std::vector<int>{4, 4, 0, 0, 1, 1, 2, 2}), phases);
    const Schedule mixed{0, {1, 2}};
    std::vector<std::int64_t> pictures;
    for (int k = -3; k < 6; ++k) pictures.push_back(mixed.Picture(k));
    EXPECT_EQ((std::vector<std::int64_t>{-2, -1, -1, 0, 1, 1, 2, 3, 3}), pictures);
    EXPECT_THROW(Validate(Schedule{5, {1}}), std::invalid_argument);
    EXPECT_THROW(Validate(Schedule{0, {1, 0}}), std::invalid_argument);
}

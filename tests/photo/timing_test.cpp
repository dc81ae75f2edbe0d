// Vertical totals and line periods: the user's values, the DMT table, the GTF formula.
#include <gtest/gtest.h>

#include <stdexcept>

#include "photo/model/timing.h"

using namespace velmaro::photo;

TEST(Timing, StandardModesComeFromTheDmtTable) {
    struct Case { int width, height, refresh, vtotal; };
    for (Case c : {Case{640, 480, 60, 525}, {640, 480, 85, 509}, {800, 600, 56, 625}, {800, 600, 72, 666},
                   {1024, 768, 70, 806}, {1024, 768, 85, 808}}) {
        const Timing t = ResolveTiming(c.width, c.height, c.refresh);
        EXPECT_EQ(c.vtotal, t.vtotal) << c.width << "x" << c.height << "@" << c.refresh;
        EXPECT_EQ(VtotalSource::kDmt, t.source) << Name(t.source);
    }
    const Timing t = ResolveTiming(1024, 768, 85);
    EXPECT_NEAR(1.0 / 85 / 808, t.LinePeriod(), 1e-12);
    EXPECT_EQ(40, t.BlankingLines());
}

TEST(Timing, OtherModesComeFromGtf) {
    // Worked by hand: line period (1/R - 550 us) / (H + 1); sync and back porch
    // 550 us of it, rounded; one line of front porch.
    struct Case { int width, height; double refresh; int vtotal; };
    for (Case c : {Case{1024, 768, 100, 814}, {800, 600, 100, 636}, {640, 480, 120, 515},
                   {1024, 768, 85.5, 807}}) {
        const Timing t = ResolveTiming(c.width, c.height, c.refresh);
        EXPECT_EQ(c.vtotal, t.vtotal) << c.width << "x" << c.height << "@" << c.refresh;
        EXPECT_EQ("gtf", Name(t.source));
    }
    EXPECT_EQ(807, GtfVtotal(768, 85));  // DMT says 808 for this mode
}

TEST(Timing, TheUsersValuesWin) {
    const Timing given = ResolveTiming(1024, 768, 85, 812, 68.7);
    EXPECT_EQ(812, given.vtotal);
    EXPECT_EQ("given", Name(given.source));
    const Timing hfreq = ResolveTiming(1024, 768, 85, std::nullopt, 68.7);
    EXPECT_EQ(808, hfreq.vtotal);  // 68700 / 85 = 808.2
    EXPECT_EQ("hfreq", Name(hfreq.source));
}

TEST(Timing, ImpossibleModesAreRefused) {
    EXPECT_THROW(ResolveTiming(1024, 768, 0), std::invalid_argument);
    EXPECT_THROW(ResolveTiming(1024, 768, -60), std::invalid_argument);
    EXPECT_THROW(ResolveTiming(0, 768, 60), std::invalid_argument);
    EXPECT_THROW(ResolveTiming(1024, 768, 85, 700), std::invalid_argument);  // not above the height
    EXPECT_THROW(ResolveTiming(1024, 768, 85, std::nullopt, 0.0), std::invalid_argument);
    EXPECT_THROW(ResolveTiming(1024, 768, 5000), std::invalid_argument);  // no time left for lines
}

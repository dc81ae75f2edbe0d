// The reading as people and programs receive it: the nearest marked speed, the report's
// sentence, and the JSON names that other tools rely on.
#include <gtest/gtest.h>

#include <string>

#include "photo/cli/report.h"

using namespace velmaro::photo;

TEST(Report, MarkedSpeedsAndTheSentence) {
    MarkedSpeed m = NearestMarkedSpeed(1.0 / 252);
    EXPECT_EQ("1/250", m.label);
    EXPECT_NEAR(-0.79, m.deviationPercent, 0.01);
    EXPECT_NEAR(-0.0115, m.deviationStops, 0.001);
    EXPECT_EQ("1/60", NearestMarkedSpeed(1.0 / 70).label);
    EXPECT_EQ("1", NearestMarkedSpeed(2.5).label);
    EXPECT_EQ("1/8000", NearestMarkedSpeed(1e-5).label);

    Reading r;
    r.display = DisplayKind::kCrt, r.width = 1024, r.height = 768;
    r.refreshHz = 85, r.vtotal = 808, r.vtotalSource = VtotalSource::kDmt, r.linePeriod = 1.0 / 85 / 808;
    r.exposureLines = 272.6, r.uncertaintyLines = 2.0;
    r.firstLine = 212, r.lastLine = 484, r.firstPhase = r.lastPhase = 2, r.refreshes = 1;
    const std::string text = HumanReport(r);
    EXPECT_EQ(0u, text.find("CRT, 1024x768 at 85 Hz (808 lines, VESA DMT): lines 212 to 484 of phase 2 lit: "
                            "272.6 line periods = 3.97 ms +- 0.03 ms, about 1/252 s"))
        << text;
    const auto json = ReadingJson(r);
    for (const char* name : {"display", "mode", "line_period_s", "exposure_lines", "exposure_s", "uncertainty_s",
                             "first_line", "first_phase", "last_line", "last_phase", "refreshes", "repeated_pictures",
                             "slant_lines"})
        EXPECT_TRUE(json.contains(name)) << name;
    EXPECT_TRUE(json["repeated_pictures"].is_null()) << "not read, so null";
    EXPECT_EQ("dmt", json["mode"]["vtotal_source"]);
}

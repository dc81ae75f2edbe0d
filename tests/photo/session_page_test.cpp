// The session's page as a person sees it: opened in headless Chromium, its screenshot
// shows the table (its pass, fail and no-reading cells) above the chart, where the
// tolerance band is shaded and each shot is a point at its deviation: the speed planted
// within the tolerance inside the band, the one planted 0.61 stops slow above it, where
// the axis puts 0.61 stops. Skipped, with the reason, where Chromium is not installed.
#include <gtest/gtest.h>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "photo/model/codec.h"
#include "photo/read/image.h"
#include "tests/photo/program_run.h"

namespace fs = std::filesystem;

namespace {

// Colours of the page, red-green-blue: the band (its green at a fifth over white), the
// points within and beyond the tolerance, and the table's cells.
const cv::Vec3b kBand(213, 236, 213), kWithin(31, 119, 180), kBeyond(214, 39, 40), kPass(205, 235, 211),
    kFail(244, 199, 203), kNone(228, 228, 228), kHeading(219, 228, 240);

std::string Chromium() {
    for (const char* name : {"chromium", "chromium-browser"}) {
        const std::string found = "command -v " + std::string(name) + " >/dev/null 2>&1";
        if (std::system(found.c_str()) == 0) return name;
    }
    return "";
}

// Where a colour is in the screenshot (within a few levels, for the text's antialiasing
// and the chart's grid lines).
struct Where {
    int count = 0;
    int top = INT32_MAX, bottom = -1, left = INT32_MAX, right = -1;
    double meanRow = 0;
};

Where Find(const cv::Mat3b& rgb, const cv::Vec3b& colour, int tolerance = 3,
           cv::Rect area = {0, 0, INT32_MAX, INT32_MAX}) {
    Where w;
    area &= cv::Rect(0, 0, rgb.cols, rgb.rows);
    for (int y = area.y; y < area.y + area.height; ++y)
        for (int x = area.x; x < area.x + area.width; ++x) {
            const cv::Vec3b p = rgb(y, x);
            if (std::abs(p[0] - colour[0]) > tolerance || std::abs(p[1] - colour[1]) > tolerance ||
                std::abs(p[2] - colour[2]) > tolerance)
                continue;
            ++w.count, w.meanRow += y;
            w.top = std::min(w.top, y), w.bottom = std::max(w.bottom, y);
            w.left = std::min(w.left, x), w.right = std::max(w.right, x);
        }
    if (w.count) w.meanRow /= w.count;
    return w;
}

// The tolerance band: the rows where its colour fills a third of the width and more (the
// photographs below the chart have a little of it too).
Where Band(const cv::Mat3b& rgb) {
    Where band;
    for (int y = 0; y < rgb.rows; ++y) {
        const Where row = Find(rgb, kBand, 3, {0, y, rgb.cols, 1});
        if (row.count < rgb.cols / 3) continue;
        band.count += row.count;
        band.top = std::min(band.top, y), band.bottom = y;
        band.left = std::min(band.left, row.left), band.right = std::max(band.right, row.right);
    }
    return band;
}

class SessionPage : public ProgramRun {};

}  // namespace

TEST_F(SessionPage, ChromiumShowsTheTableAndTheChartAsPlanted) {
    const std::string chromium = Chromium();
    if (chromium.empty())
        GTEST_SKIP() << "chromium is not installed (Debian's package chromium): the page is not opened";

    const std::string small = " --mode 640x480 --photo-size 1400x1050 --scale 2.0 --quality 90";
    const struct {
        std::string marked, exposure;
    } shots[] = {
        {"1/500", "0.00205"}, {"1/500", "0.00215"}, {"1/250", "0.0061"}, {"1/250", "0.0061"}, {"1/125", "0.0076"}};
    int n = 0;
    for (const auto& s : shots) {
        const std::string photo = (dir / ("IMG_000" + std::to_string(++n) + ".jpg")).string();
        ASSERT_EQ(0, Run("simulate --out " + photo + small + " --exposure " + s.exposure + " --exif-exposure " +
                         s.marked + " --start-line " + std::to_string(40 * n) + " --exif-make Velmaro --exif-model Sim")
                         .status);
    }
    ASSERT_EQ(0, Run("simulate --out " + (dir / "1-60_scan.jpg").string() + small + " --exposure 1/60").status);
    fs::resize_file(dir / "1-60_scan.jpg", 5000);  // cut short: a shot with no reading
    const std::string page = (dir / "report.html").string(), screenshot = (dir / "report.png").string();
    const Outcome session = Run("session " + dir.string() + " --mode 640x480 --refresh 85 --html " + page);
    ASSERT_EQ(1, session.status) << session.err;

    const fs::path profile = dir / "chromium-profile";
    fs::create_directories(profile);
    const std::string command = "timeout 120 " + chromium +
                                " --headless --no-sandbox --disable-gpu --disable-quic --no-first-run"
                                " --disable-background-networking --disable-component-update --disable-sync"
                                " --hide-scrollbars --user-data-dir=" +
                                profile.string() + " --screenshot=" + screenshot + " --window-size=1100,1200 file://" +
                                page + " >" + (dir / "chromium.log").string() + " 2>&1";
    ASSERT_EQ(0, std::system(command.c_str())) << Text(dir / "chromium.log");
    cv::Mat3b rgb;
    cv::cvtColor(velmaro::photo::DecodeImage(velmaro::photo::ReadFileBytes(screenshot)), rgb, cv::COLOR_BGR2RGB);
    ASSERT_EQ(1100, rgb.cols);

    // The band: a wide stripe across the chart.
    const Where band = Band(rgb);
    ASSERT_GT(band.count, 20000) << "no tolerance band";
    EXPECT_GT(band.right - band.left, 600);
    EXPECT_GT(band.bottom - band.top, 60);
    EXPECT_GT(band.right - band.left, 3 * (band.bottom - band.top));
    // The table above the chart: its headings, and a cell of each result.
    const cv::Rect above(0, 0, rgb.cols, band.top);
    for (const auto& [what, colour] : {std::pair{"heading", kHeading}, std::pair{"pass", kPass},
                                       std::pair{"fail", kFail}, std::pair{"no reading", kNone}})
        EXPECT_GT(Find(rgb, colour, 1, above).count, 300) << what;
    // The points, looked for in the chart (the band's width, a band's height above it, half
    // of one below: not in the legend below the chart, nor in the photographs): those within
    // the tolerance inside the band; the two at +0.61 stops above it.
    const int height = band.bottom - band.top;
    const cv::Rect chart(band.left, band.top - height, band.right - band.left + 1, height * 5 / 2);
    const Where within = Find(rgb, kWithin, 12, chart), beyond = Find(rgb, kBeyond, 12, chart);
    ASSERT_GT(within.count, 100);
    ASSERT_GT(beyond.count, 60);
    EXPECT_GT(within.top, band.top);
    EXPECT_LT(within.bottom, band.bottom);
    EXPECT_LT(beyond.bottom, band.top);
    const double middle = (band.top + band.bottom) / 2.0, perStop = (band.bottom - band.top) / (2 * 0.33);
    EXPECT_NEAR(middle - std::log2(0.0061 / 0.004) * perStop, beyond.meanRow, 0.05 * perStop)
        << "the mean deviation of 1/250, on the chart's axis";
}

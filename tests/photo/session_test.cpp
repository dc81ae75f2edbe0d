// A shutter-test session's parts: speeds as people write them, where each photograph's
// marked speed comes from, the rows made of the shots, the table, the CSV, the JSON and
// the page's own pieces, on shots whose readings are made up.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <opencv2/core.hpp>
#include <stdexcept>
#include <string>
#include <vector>

#include "photo/cli/exif.h"
#include "photo/cli/marked.h"
#include "photo/cli/session.h"
#include "photo/cli/session_page.h"
#include "photo/cli/session_report.h"
#include "photo/cli/speed.h"
#include "photo/model/codec.h"

using namespace velmaro::photo;
namespace fs = std::filesystem;

namespace {

std::string ErrorOf(const std::function<void()>& work) {
    try {
        work();
    } catch (const std::invalid_argument& error) {
        return error.what();
    }
    return "(no error)";
}

// A shot marked `marked` seconds whose reading gave `exposure` seconds (none: an error).
Shot MadeUp(const std::string& file, double marked, std::optional<double> exposure) {
    Shot shot;
    shot.file = file;
    shot.marked = Marked{marked, MarkedFrom::kExif};
    if (!exposure) {
        shot.error = "not a readable JPEG image";
        return shot;
    }
    Reading reading;
    reading.linePeriod = 1e-5;
    reading.exposureLines = *exposure / 1e-5;
    shot.reading = reading;
    return shot;
}

}  // namespace

TEST(SessionSpeeds, AsPeopleWriteThem) {
    EXPECT_DOUBLE_EQ(1.0 / 250, ParseSpeed("1/250", "it"));
    EXPECT_DOUBLE_EQ(0.125, ParseSpeed("1/8", "it"));
    EXPECT_DOUBLE_EQ(2, ParseSpeed("2", "it"));
    EXPECT_DOUBLE_EQ(0.5, ParseSpeed("0.5", "it"));
    EXPECT_DOUBLE_EQ(1, ParseSpeed("1s", "it"));
    EXPECT_DOUBLE_EQ(1.0 / 60, ParseSpeed(" 1/60 s ", "it"));
    EXPECT_EQ("the marked speed is not a number: \"fast\"", ErrorOf([] { ParseSpeed("fast", "the marked speed"); }));
    EXPECT_EQ("it must be above 0: \"0\"", ErrorOf([] { ParseSpeed("0", "it"); }));
    EXPECT_EQ("it must be above 0: \"-1/250\"", ErrorOf([] { ParseSpeed("-1/250", "it"); }));
    EXPECT_EQ("it divides by 0", ErrorOf([] { ParseSpeed("1/0", "it"); }));
    EXPECT_NE("(no error)", ErrorOf([] { ParseSpeed("", "it"); }));
    EXPECT_NE("(no error)", ErrorOf([] { ParseSpeed("1/250x", "it"); }));

    EXPECT_EQ("1/250", SpeedLabel(0.004));
    EXPECT_EQ("1/8", SpeedLabel(0.125));
    EXPECT_EQ("1/2", SpeedLabel(0.5));
    EXPECT_EQ("1", SpeedLabel(1));
    EXPECT_EQ("2", SpeedLabel(2));
    EXPECT_EQ("1.5", SpeedLabel(1.5));
    EXPECT_EQ("0.0041", SpeedLabel(0.0041));
}

TEST(SessionSpeeds, AtTheStartOfAFileName) {
    const struct {
        std::string name;
        std::optional<double> seconds;
    } cases[] = {
        {"1-250_a.jpg", 1.0 / 250},
        {"1_250.png", 1.0 / 250},
        {"1-250.jpg", 1.0 / 250},
        {"1-2 second try.jpg", 0.5},
        {"1s-2.jpg", 1},
        {"2s.jpg", 2},
        {"0.5s_b.JPG", 0.5},
        {"1S_c.jpg", 1},
        {"2024-05-01_a.jpg", {}},
        {"10-250.jpg", {}},
        {"IMG_0001.jpg", {}},
        {"1scan.jpg", {}},
        {"1-0_a.jpg", {}},
        {"a_1-250.jpg", {}},
        {"1-2502", 1.0 / 2502},
        {"250.jpg", {}},
    };
    for (const auto& c : cases) {
        const std::optional<double> seconds = SpeedInFileName(c.name);
        ASSERT_EQ(c.seconds.has_value(), seconds.has_value()) << c.name;
        if (seconds) EXPECT_DOUBLE_EQ(*c.seconds, *seconds) << c.name;
    }
}

TEST(SessionMarked, CsvOfFilesAndSpeeds) {
    const fs::path folder = fs::absolute("scans");
    const std::string text =
        "\xEF\xBB\xBF"
        "file,marked\r\n1.jpg,1/250\r\n\r\n\"two, with a comma.jpg\" , \"1/8\"\nsub/3.jpg,2s\n";
    const MarkedList list = ParseMarkedCsv(text, folder, "marked.csv");
    ASSERT_EQ(3u, list.size());
    EXPECT_DOUBLE_EQ(1.0 / 250, list.at(folder / "1.jpg"));
    EXPECT_DOUBLE_EQ(0.125, list.at(folder / "two, with a comma.jpg"));
    EXPECT_DOUBLE_EQ(2, list.at(folder / "sub" / "3.jpg"));
    EXPECT_EQ("marked.csv line 3: the marked speed is not a number: \"soon\"",
              ErrorOf([&] { ParseMarkedCsv("file,marked\n1.jpg,1/250\n2.jpg,soon\n", folder, "marked.csv"); }));
    EXPECT_EQ("marked.csv line 1 is not file,marked: \"1.jpg\"",
              ErrorOf([&] { ParseMarkedCsv("1.jpg\n", folder, "marked.csv"); }));
    EXPECT_EQ("cannot read the marked speeds' CSV no-such.csv",
              ErrorOf([] { MarkedListFor(ParseMarkedSource("no-such.csv"), {"a.jpg"}); }));
}

TEST(SessionMarked, ExifThenNameThenCsvUnlessOneIsForced) {
    const MarkedList list = {{fs::absolute("1-125_a.jpg").lexically_normal(), 1.0 / 60},
                             {fs::absolute("scan.jpg").lexically_normal(), 1.0 / 30}};
    const std::optional<double> exif = 1.0 / 250;
    auto from = [&](const std::string& photo, std::optional<double> e, const std::string& source) {
        const auto marked = MarkedSpeedOf(photo, e, ParseMarkedSource(source), list);
        return marked ? SpeedLabel(marked->seconds) + " " + Name(marked->from) : "none";
    };
    EXPECT_EQ("1/250 exif", from("1-125_a.jpg", exif, "auto"));
    EXPECT_EQ("1/125 name", from("1-125_a.jpg", {}, "auto"));
    EXPECT_EQ("1/30 csv", from("scan.jpg", {}, "auto"));
    EXPECT_EQ("none", from("other.jpg", {}, "auto"));
    EXPECT_EQ("1/125 name", from("1-125_a.jpg", exif, "name"));
    EXPECT_EQ("1/60 csv", from("1-125_a.jpg", exif, "list.csv"));
    EXPECT_EQ("none", from("scan.jpg", {}, "exif"));
    EXPECT_EQ("none", from("scan.jpg", exif, "name"));
    EXPECT_EQ("no EXIF exposure time", WhyNoMarkedSpeed(ParseMarkedSource("exif")));
    EXPECT_EQ("not in list.csv", WhyNoMarkedSpeed(ParseMarkedSource("list.csv")));
}

TEST(SessionRows, MeansDeviationsSpreadAndResultFastestFirst) {
    std::vector<Shot> shots = {
        MadeUp("a.jpg", 1.0 / 250, 0.0050), MadeUp("b.jpg", 1.0 / 500, 0.0020), MadeUp("c.jpg", 0.004, 0.0054),
        MadeUp("d.jpg", 1.0 / 500, 0.0022), MadeUp("e.jpg", 1.0 / 500, {}),     MadeUp("f.jpg", 1.0 / 30, {}),
        MadeUp("g.jpg", 1.0 / 125, 0.0100),
    };
    shots.push_back(Shot{"h.jpg", {}, {}, {}, "no marked speed: no EXIF exposure time", {}});
    shots[0].reading->curtains.openingTravel = 0.010;
    shots[0].reading->exposureAcross.taperStops = 0.1;
    shots[2].reading->curtains.openingTravel = 0.012;
    const std::vector<Row> rows = SessionRows(shots, 0.33);
    ASSERT_EQ(4u, rows.size());
    EXPECT_EQ("1/500", rows[0].marked);
    EXPECT_EQ(3, rows[0].shots);
    EXPECT_EQ(2, rows[0].read);
    EXPECT_NEAR(0.0021, *rows[0].mean, 1e-12);
    EXPECT_NEAR(0.0020, *rows[0].min, 1e-12);
    EXPECT_NEAR(0.0022, *rows[0].max, 1e-12);
    EXPECT_NEAR(5.0, *rows[0].deviationPercent, 1e-9);
    EXPECT_NEAR(std::log2(1.05), *rows[0].deviationStops, 1e-9);
    EXPECT_NEAR(std::log2(1.1), *rows[0].spreadStops, 1e-9);
    EXPECT_EQ("pass", rows[0].result);
    EXPECT_FALSE(rows[0].openingTravel);

    // 1/250 from EXIF and 0.004 from elsewhere are one speed; the mean is 0.0052, 0.38 stops slow.
    EXPECT_EQ("1/250", rows[1].marked);
    EXPECT_EQ(2, rows[1].read);
    EXPECT_NEAR(std::log2(1.3), *rows[1].deviationStops, 1e-9);
    EXPECT_EQ("fail", rows[1].result);
    EXPECT_NEAR(0.011, *rows[1].openingTravel, 1e-12) << "the mean of the shots that measured it";
    EXPECT_NEAR(0.1, *rows[1].taperStops, 1e-12);
    EXPECT_FALSE(rows[1].closingTravel);

    EXPECT_EQ("1/125", rows[2].marked);
    EXPECT_NEAR(std::log2(1.25), *rows[2].deviationStops, 1e-9);
    EXPECT_EQ("pass", rows[2].result) << "0.32 stops is within 0.33";
    EXPECT_EQ("fail", SessionRows(shots, 0.3)[2].result);

    EXPECT_EQ("1/30", rows[3].marked);
    EXPECT_EQ(1, rows[3].shots);
    EXPECT_EQ(0, rows[3].read);
    EXPECT_EQ("no reading", rows[3].result);
    EXPECT_FALSE(rows[3].mean || rows[3].deviationStops || rows[3].spreadStops);
}

TEST(SessionReport, CsvTableAndJson) {
    std::vector<Shot> shots = {MadeUp("x/1-500_a.jpg", 1.0 / 500, 0.0021), MadeUp("x/1-30_b.jpg", 1.0 / 30, {}),
                               MadeUp("x/1-8_c.jpg", 0.125, 0.140)};
    shots[0].exif = {1.0 / 500, "Velmaro", "Velmaro Sim 1", "2024:05:01 10:00:00"};
    shots[2].exif = {0.125, "Velmaro", "Velmaro Sim 1", "2024:05:01 10:05:00"};
    shots[2].reading->candidateLines = {1000, 1509};
    const std::vector<Row> rows = SessionRows(shots, 0.33);

    const std::string csv = SessionCsv(rows);
    EXPECT_EQ(0u, csv.find("marked,marked_s,shots,read,mean_s,min_s,max_s,deviation_percent,deviation_stops,"
                           "spread_stops,result,opening_travel_s,closing_travel_s,taper_stops\n"))
        << csv;
    EXPECT_NE(std::string::npos, csv.find("\n1/500,0.002,1,1,0.0021,0.0021,0.0021,5,0.0703893,0,pass,,,\n")) << csv;
    EXPECT_NE(std::string::npos, csv.find("\n1/30,0.0333333,1,0,,,,,,,no reading,,,\n")) << csv;

    EXPECT_EQ(
        "Camera: Velmaro Sim 1; taken 2024-05-01 10:00:00 to 2024-05-01 10:05:00; tolerance +-0.33 stops\n"
        "\n"
        "Marked  Shots  Read       Mean        Min        Max  Deviation  Stops  Spread  Result\n"
        "1/500       1     1   2.100 ms   2.100 ms   2.100 ms     +5.0 %  +0.07    0.00  pass\n"
        "1/30        1     0          -          -          -          -      -       -  no reading\n"
        "1/8 *       1     1  140.00 ms  140.00 ms  140.00 ms    +12.0 %  +0.16    0.00  pass\n"
        "* the photograph left the count of refreshes open: the one nearest the marked speed was taken\n"
        "\n"
        "No reading:\n"
        "  x/1-30_b.jpg (1/30 from its EXIF): not a readable JPEG image\n",
        SessionTable(shots, rows, 0.33))
        << "no curtain measured: no curtain columns";
    shots[0].reading->curtains.openingTravel = 0.0105;
    EXPECT_NE(std::string::npos,
              SessionTable(shots, SessionRows(shots, 0.33), 0.33).find("  Opening  Closing  Taper\n"));

    const auto json = SessionJson(shots, rows, 0.33);
    EXPECT_EQ("Velmaro Sim 1", json["camera"]);
    ASSERT_EQ(3u, json["rows"].size());
    for (const auto& row : json["rows"]) EXPECT_EQ(RowNames().size(), row.size());
    EXPECT_EQ("no reading", json["rows"][1]["result"]);
    ASSERT_EQ(3u, json["shots"].size());
    EXPECT_EQ("x/1-30_b.jpg", json["shots"][1]["file"]);
    EXPECT_EQ("not a readable JPEG image", json["shots"][1]["error"]);
    EXPECT_TRUE(json["shots"][1]["reading"].is_null());
    EXPECT_EQ("exif", json["shots"][0]["marked_from"]);
    EXPECT_NEAR(0.0021, json["shots"][0]["reading"]["exposure_s"].get<double>(), 1e-12);
    EXPECT_FALSE(json["shots"][0]["count_from_marked"].get<bool>());
    EXPECT_TRUE(json["shots"][2]["count_from_marked"].get<bool>());
}

TEST(SessionPage, SelfContainedWithTheTableChartDataAndPhotos) {
    std::vector<Shot> shots = {MadeUp("<b>&\"1-500</script>.jpg", 1.0 / 500, 0.0021), MadeUp("1-30.jpg", 1.0 / 30, {})};
    shots[0].preview = {0xFF, 0xD8, 0xFF};
    const std::string page = SessionPage(shots, SessionRows(shots, 0.33), 0.33);
    EXPECT_EQ(0u, page.find("<!DOCTYPE html>"));
    EXPECT_NE(std::string::npos, page.find("Chart.js v")) << "Chart.js inside the page";
    for (const char* outside : {"src=\"http", "href=\"http", "src=\"//", "<link", "@import"})
        EXPECT_EQ(std::string::npos, page.find(outside)) << outside;
    EXPECT_NE(std::string::npos, page.find("<td class=\"text pass\">pass</td>"));
    EXPECT_NE(std::string::npos, page.find("<td class=\"text none\">no reading</td>"));
    EXPECT_NE(std::string::npos, page.find("&lt;b&gt;&amp;&quot;1-500&lt;/script&gt;.jpg: marked 1/500"));
    EXPECT_NE(std::string::npos, page.find("<img alt=\"\" src=\"data:image/jpeg;base64,/9j/\">"));
    EXPECT_NE(std::string::npos, page.find("1-30.jpg: marked 1/30: not a readable JPEG image"));
    // The chart's data: the file name cannot end the script early.
    EXPECT_NE(std::string::npos, page.find("1-500<\\/script>.jpg")) << "escaped in the chart's data";
    int scripts = 0;
    for (std::size_t at = 0; (at = page.find("</script>", at)) != std::string::npos; ++at) ++scripts;
    EXPECT_EQ(3, scripts) << "the chart's data, Chart.js and the chart";
}

TEST(SessionPage, NoMarkedSpeedNoChart) {
    const std::vector<Shot> shots = {Shot{"scan.jpg", {}, {}, {}, "no marked speed: no EXIF exposure time", {}}};
    const std::string page = SessionPage(shots, {}, 0.33);
    EXPECT_EQ(std::string::npos, page.find("<canvas")) << "a chart of no speed would have no axis";
    EXPECT_EQ(std::string::npos, page.find("<script"));
    EXPECT_NE(std::string::npos, page.find("scan.jpg: no marked speed: no EXIF exposure time"));
}

TEST(SessionPage, Base64) {
    auto encoded = [](const std::string& text) { return Base64(std::vector<std::uint8_t>(text.begin(), text.end())); };
    EXPECT_EQ("", encoded(""));
    EXPECT_EQ("Zg==", encoded("f"));
    EXPECT_EQ("Zm8=", encoded("fo"));
    EXPECT_EQ("Zm9v", encoded("foo"));
    EXPECT_EQ("Zm9vYmFy", encoded("foobar"));
    EXPECT_EQ("/+8=", Base64({0xFF, 0xEF}));
}

TEST(SessionExif, WrittenAndReadBack) {
    const std::vector<std::uint8_t> jpeg = EncodeImage(cv::Mat1b(48, 64, 128), "jpg", 90);
    EXPECT_EQ(jpeg, WithExif(jpeg, {})) << "nothing to write, nothing changed";
    const fs::path path =
        fs::temp_directory_path() /
        ("velmaro-photo-exif-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + ".jpg");
    for (const double seconds : {1.0 / 250, 1.0 / 8, 2.0, 0.3}) {
        const std::vector<std::uint8_t> tagged = WithExif(jpeg, {seconds, "Velmaro", "Sim 1", "2024:05:01 10:00:00"});
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(tagged.data()), tagged.size());
        const Exif exif = ReadExif(path.string());
        ASSERT_TRUE(exif.exposureSeconds) << seconds;
        EXPECT_DOUBLE_EQ(seconds, *exif.exposureSeconds);
        EXPECT_EQ("Velmaro", exif.make);
        EXPECT_EQ("Sim 1", exif.model);
        EXPECT_EQ("2024:05:01 10:00:00", exif.taken);
        EXPECT_EQ(cv::countNonZero(DecodeImage(jpeg) != DecodeImage(tagged)), 0) << "the picture itself is untouched";
    }
    // EXIF cut short or garbled is none, never an error that would stop a session.
    std::vector<std::uint8_t> tagged = WithExif(jpeg, {0.004, "Velmaro", "Sim 1", ""});
    for (std::size_t at = 20; at < 200 && at < tagged.size(); at += 7) {
        std::vector<std::uint8_t> garbled = tagged;
        garbled[at] ^= 0xFF;
        for (const std::size_t size : {garbled.size(), at}) {
            std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(garbled.data()), size);
            EXPECT_NO_THROW(ReadExif(path.string())) << at << " " << size;
        }
    }
    std::ofstream(path, std::ios::binary) << "not an image";
    EXPECT_TRUE(ReadExif(path.string()).Empty());
    EXPECT_TRUE(ReadExif((path.string() + ".missing")).Empty());
    fs::remove(path);
    EXPECT_EQ("the EXIF date is \"YYYY:MM:DD HH:MM:SS\", not \"2024-05-01\"", ErrorOf([] {
                  ExifOf({"1/250", "", "", "2024-05-01"});
              }));
    EXPECT_EQ("the EXIF exposure is not a number: \"soon\"", ErrorOf([] { ExifOf({"soon", "", "", ""}); }));
}

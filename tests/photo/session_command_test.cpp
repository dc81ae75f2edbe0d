// The session verb as a user meets it, on a shutter test made by the simulator: digital
// shots whose EXIF carries the marked speed, a film scan named by its speed, and a broken
// file; the simulator's exposures set a little off the marked speeds, one speed beyond
// the tolerance. The table's means, deviations and results come out as planted.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/photo/program_run.h"

namespace fs = std::filesystem;

namespace {

// A small screen photographed at two photo pixels a line: a photo of 1.5 megapixels.
const std::string kSmall = "--mode 640x480 --photo-size 1400x1050 --scale 2.0 --quality 90";
const std::string kRead = "--mode 640x480 --refresh 85";

struct Planted {
    std::string file, marked;  // the marked speed, in EXIF where the name has none
    double exposure;
    int startLine;
};
// Means 2.10, 6.10 and 7.55 ms, and 17 ms: +0.070, +0.609 (beyond 0.33), -0.084 and +0.029 stops.
const Planted kShots[] = {
    {"DSC0001.jpg", "1/500", 0.00205, 60},  {"DSC0002.jpg", "1/500", 0.00210, 90},
    {"DSC0003.jpg", "1/500", 0.00215, 120}, {"DSC0004.jpg", "1/250", 0.00600, 50},
    {"DSC0005.jpg", "1/250", 0.00620, 80},  {"DSC0006.jpg", "1/125", 0.00750, 40},
    {"DSC0007.jpg", "1/125", 0.00760, 70},  {"1-60_scan.jpg", "", 0.0170, 100},
};

struct Expected {
    std::string marked;
    int shots, read;
    double mean;
    std::string result;
};
const Expected kRows[] = {
    {"1/500", 3, 3, 0.00210, "pass"}, {"1/250", 2, 2, 0.00610, "fail"},  {"1/125", 2, 2, 0.00755, "pass"},
    {"1/60", 1, 1, 0.0170, "pass"},   {"1/30", 1, 0, NAN, "no reading"},
};

int Program(const std::string& arguments) {
    return std::system((std::string(VELMARO_PHOTO_PROGRAM) + " " + arguments).c_str());
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::stringstream stream(text);
    for (std::string part; std::getline(stream, part, separator);) parts.push_back(part);
    if (!text.empty() && text.back() == separator) parts.push_back("");
    return parts;
}

class SessionCommand : public ProgramRun {
protected:
    // The session's photographs, made once for all the tests.
    static void SetUpTestSuite() {
        folder = fs::temp_directory_path() / ("velmaro-photo-session-" + std::to_string(::getpid()));
        fs::create_directories(folder);
        int taken = 0;
        for (const Planted& p : kShots) {
            std::string arguments = "simulate --out " + (folder / p.file).string() + " " + kSmall + " --exposure " +
                                    std::to_string(p.exposure) + " --start-line " + std::to_string(p.startLine);
            if (!p.marked.empty())
                arguments += " --exif-exposure " + p.marked +
                             " --exif-make Velmaro --exif-model 'Velmaro Sim 1' --exif-date '2024:05:01 10:00:0" +
                             std::to_string(++taken) + "'";
            ASSERT_EQ(0, Program(arguments)) << arguments;
        }
        std::ifstream scan(folder / "1-60_scan.jpg", std::ios::binary);
        std::string bytes(6000, '\0');
        scan.read(bytes.data(), bytes.size());
        std::ofstream(folder / "1-30_broken.jpg", std::ios::binary) << bytes;  // a JPEG cut short
    }
    static void TearDownTestSuite() { fs::remove_all(folder); }

    Outcome Session(const std::string& arguments) { return Run("session " + arguments); }
    std::string Path(const std::string& name) const { return (folder / name).string(); }

    static fs::path folder;
};
fs::path SessionCommand::folder;

}  // namespace

TEST_F(SessionCommand, TheTableAsPlantedInCsvWithTheColumnsOfTheTable) {
    const std::string csv = (dir / "session.csv").string();
    const Outcome run = Session(folder.string() + " " + kRead + " --csv " + csv);
    EXPECT_EQ(1, run.status) << "a speed fails and a photograph gives no reading: " << run.err;
    EXPECT_EQ("", run.err) << "no progress line where standard error is no terminal";
    const std::vector<std::string> lines = Split(Text(csv), '\n');
    ASSERT_EQ(std::size(kRows) + 2, lines.size()) << Text(csv);
    EXPECT_EQ(
        "marked,marked_s,shots,read,mean_s,min_s,max_s,deviation_percent,deviation_stops,spread_stops,result,"
        "opening_travel_s,closing_travel_s,taper_stops",
        lines[0]);
    EXPECT_EQ("", lines.back());
    for (std::size_t r = 0; r < std::size(kRows); ++r) {
        const Expected& e = kRows[r];
        const std::vector<std::string> cells = Split(lines[r + 1], ',');
        ASSERT_EQ(14u, cells.size()) << lines[r + 1];
        EXPECT_EQ(e.marked, cells[0]);
        EXPECT_EQ(std::to_string(e.shots), cells[2]) << e.marked;
        EXPECT_EQ(std::to_string(e.read), cells[3]) << e.marked;
        EXPECT_EQ(e.result, cells[10]) << e.marked;
        if (std::isnan(e.mean)) {
            for (int c : {4, 5, 6, 7, 8, 9}) EXPECT_EQ("", cells[c]) << e.marked << " column " << c;
            continue;
        }
        const double marked = std::stod(cells[1]), mean = std::stod(cells[4]);
        EXPECT_NEAR(e.mean, mean, 0.005 * e.mean) << e.marked;
        EXPECT_NEAR(100 * (e.mean / marked - 1), std::stod(cells[7]), 0.6) << e.marked;
        EXPECT_NEAR(std::log2(e.mean / marked), std::stod(cells[8]), 0.008) << e.marked;
        EXPECT_NEAR(std::log2(std::stod(cells[6]) / std::stod(cells[5])), std::stod(cells[9]), 1e-4) << e.marked;
        for (int c : {11, 12, 13}) EXPECT_EQ("", cells[c]) << "a leaf shutter has no curtains";
    }
}

TEST_F(SessionCommand, JsonHasEveryShotWithItsReadingOrItsReason) {
    const Outcome run = Session(folder.string() + " " + kRead + " --json");
    EXPECT_EQ(1, run.status) << run.err;
    const auto json = nlohmann::json::parse(run.out, nullptr, false);
    ASSERT_TRUE(json.is_object()) << run.out;
    EXPECT_EQ("Velmaro Sim 1", json["camera"]);
    EXPECT_DOUBLE_EQ(0.33, json["tolerance_stops"].get<double>());
    ASSERT_EQ(std::size(kRows), json["rows"].size());
    ASSERT_EQ(std::size(kShots) + 1, json["shots"].size());
    std::map<std::string, nlohmann::json> shots;
    for (const auto& shot : json["shots"]) shots[fs::path(shot["file"].get<std::string>()).filename().string()] = shot;
    for (const Planted& p : kShots) {
        const auto& shot = shots[p.file];
        ASSERT_TRUE(shot.is_object()) << p.file;
        EXPECT_EQ(p.marked.empty() ? "name" : "exif", shot["marked_from"]) << p.file;
        EXPECT_TRUE(shot["error"].is_null()) << p.file << ": " << shot["error"];
        EXPECT_NEAR(p.exposure, shot["exposure_s"].get<double>(), 0.005 * p.exposure) << p.file;
        EXPECT_NEAR(p.exposure, shot["reading"]["exposure_s"].get<double>(), 0.005 * p.exposure) << p.file;
        EXPECT_EQ(640, shot["reading"]["mode"]["width"]) << "the options of read reach the reader";
    }
    const auto& broken = shots["1-30_broken.jpg"];
    EXPECT_EQ("1/30", broken["marked"]);
    EXPECT_TRUE(broken["reading"].is_null());
    EXPECT_EQ("not a readable JPEG image: Corrupt JPEG data: premature end of data segment", broken["error"]);
}

TEST_F(SessionCommand, TheTableOnTheTerminalWithTheReasonOfNoReading) {
    const Outcome run = Session(folder.string() + " " + kRead);
    EXPECT_EQ(1, run.status) << run.err;
    EXPECT_EQ(0u, run.out.find("Camera: Velmaro Sim 1; taken 2024-05-01 10:00:01 to 2024-05-01 10:00:07; tolerance "
                               "+-0.33 stops\n\nMarked  Shots  Read"))
        << run.out;
    for (const Expected& e : kRows) {
        const auto at = run.out.find("\n" + e.marked + " ");
        ASSERT_NE(std::string::npos, at) << e.marked << "\n" << run.out;
        EXPECT_NE(std::string::npos, run.out.substr(at, run.out.find('\n', at + 1) - at).find(" " + e.result))
            << run.out;
    }
    EXPECT_NE(std::string::npos, run.out.find("\nNo reading:\n  " + Path("1-30_broken.jpg") +
                                              " (1/30 from its name): not a readable JPEG image: Corrupt JPEG data"))
        << run.out;
}

TEST_F(SessionCommand, OneJobOrManyGiveTheSameTable) {
    const Outcome one = Session(folder.string() + " " + kRead + " --jobs 1"),
                  many = Session(folder.string() + " " + kRead + " --jobs 4");
    EXPECT_EQ(1, one.status);
    EXPECT_EQ(one.out, many.out);
}

TEST_F(SessionCommand, EveryShotReadAndPassingIsStatusZero) {
    const Outcome run =
        Session(Path("DSC0001.jpg") + " " + Path("DSC0002.jpg") + " " + Path("1-60_scan.jpg") + " " + kRead);
    EXPECT_EQ(0, run.status) << run.out << run.err;
    EXPECT_EQ("", run.err);
    EXPECT_EQ(std::string::npos, run.out.find("No reading")) << run.out;
}

TEST_F(SessionCommand, MarkedSpeedsFromExifThenNameThenCsvUnlessForced) {
    // A shot with EXIF 1/250 named 1-125, and a scan named by no speed; both in a CSV.
    const fs::path both = dir / "1-125_x.jpg", scan = dir / "scan07.jpg";
    ASSERT_EQ(0, Program("simulate --out " + both.string() + " " + kSmall + " --exposure 1/250 --exif-exposure 1/250"));
    ASSERT_EQ(0, Program("simulate --out " + scan.string() + " " + kSmall + " --exposure 1/60 --start-line 100"));
    std::ofstream(dir / "marked.csv") << "file,marked\n1-125_x.jpg,1/30\nscan07.jpg,1/60\n";
    std::ofstream(dir / "other.csv") << "1-125_x.jpg,1/15\n" << scan.string() << ",1/8\n";
    auto marked = [&](const std::string& option) {
        const Outcome run = Session(both.string() + " " + scan.string() + " " + kRead + " --json " + option);
        const auto json = nlohmann::json::parse(run.out, nullptr, false);
        std::string text = std::to_string(run.status);
        for (const auto& shot : json["shots"])
            text += " " + (shot["marked"].is_null()
                               ? "none"
                               : shot["marked"].get<std::string>() + "/" + shot["marked_from"].get<std::string>());
        return text;
    };
    EXPECT_EQ("0 1/250/exif 1/60/csv", marked("")) << "EXIF before the name, and the CSV beside them last";
    EXPECT_EQ("0 1/250/exif 1/60/csv", marked("--marked auto"));
    EXPECT_EQ("1 1/125/name none", marked("--marked name"));
    EXPECT_EQ("1 1/250/exif none", marked("--marked exif"));
    EXPECT_EQ("1 1/15/csv 1/8/csv", marked("--marked " + (dir / "other.csv").string()));

    const Outcome run = Session(both.string() + " " + scan.string() + " " + kRead + " --marked exif");
    EXPECT_NE(std::string::npos, run.out.find("\n  " + scan.string() + ": no marked speed: no EXIF exposure time\n"))
        << run.out;
}

TEST_F(SessionCommand, NoSessionIsStatusTwoWithOneLine) {
    fs::create_directories(dir / "empty");
    std::ofstream(dir / "bad.csv") << "DSC0001.jpg,soon\n";
    const struct {
        std::string arguments, error;
    } cases[] = {
        {(dir / "empty").string() + " " + kRead,
         (dir / "empty").string() + ": no photographs (.jpg, .jpeg, .png) in the folder"},
        {folder.string() + " " + kRead + " --marked " + (dir / "bad.csv").string(),
         (dir / "bad.csv").string() + " line 1: the marked speed is not a number: \"soon\""},
        {folder.string() + " " + kRead + " --marked " + (dir / "none.csv").string(),
         "cannot read the marked speeds' CSV " + (dir / "none.csv").string()},
        {folder.string() + " " + kRead + " --csv " + (dir / "no" / "such.csv").string(),
         "cannot write " + (dir / "no" / "such.csv").string() + ": No such file or directory"},
        {folder.string() + " --mode 640x480 --refresh 0", "the refresh rate must be above 0 Hz"},
    };
    for (const auto& c : cases) {
        for (const std::string json : {"", " --json"}) {
            const Outcome run = Session(c.arguments + json);
            EXPECT_EQ(2, run.status) << c.arguments << ": " << run.err;
            EXPECT_EQ("velmaro-photo: " + c.error + "\n", run.err) << c.arguments;
            const std::string error = nlohmann::json{{"error", c.error}}.dump() + "\n";
            EXPECT_EQ(json.empty() ? "" : error, run.out) << c.arguments;
        }
    }
    for (const std::string bad : {"--mode 640x480", "--refresh 85 --jobs 0", "--refresh 85 --tolerance-stops -1"}) {
        const Outcome run = Session(folder.string() + " " + bad);
        EXPECT_EQ(2, run.status) << bad;
        EXPECT_EQ(1, std::count(run.err.begin(), run.err.end(), '\n')) << bad << ": " << run.err;
    }
}

TEST_F(SessionCommand, ReadTakesTheMarkedSpeed) {
    Outcome run = Run("read " + Path("DSC0004.jpg") + " " + kRead + " --marked 1/250 --json");
    EXPECT_EQ(0, run.status) << run.err;
    EXPECT_NEAR(0.006, nlohmann::json::parse(run.out)["exposure_s"].get<double>(), 3e-5);
    for (const std::string marked : {"1/8", "2", "0.5", "1s", "'1/250 s'"})
        EXPECT_EQ(0, Run("read " + Path("DSC0004.jpg") + " " + kRead + " --marked " + marked).status) << marked;
    run = Run("read " + Path("DSC0004.jpg") + " " + kRead + " --marked soon");
    EXPECT_EQ(2, run.status);
    EXPECT_EQ("velmaro-photo: " + Path("DSC0004.jpg") + ": the marked speed is not a number: \"soon\"\n", run.err);
}

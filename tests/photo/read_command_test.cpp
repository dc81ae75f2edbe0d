// The read verb on bad input, as a user meets it: status 2, one line on standard error
// naming the file and the reason, and no reading on standard output (with --json, only
// {"error": ...}). A photograph it can read gives status 0 and the reading.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <opencv2/core.hpp>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "photo/model/codec.h"
#include "tests/photo/program_run.h"

namespace fs = std::filesystem;

namespace {

const std::string kReadable = VELMARO_PHOTO_READABLE;

class ReadCommand : public ProgramRun {
protected:
    Outcome Read(const std::string& photo, const std::string& options = "") { return Run("read '" + photo + "' " + options); }
    std::string Write(const std::string& name, const std::string& bytes) {
        const fs::path path = dir / name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path.string();
    }
};

}  // namespace

TEST_F(ReadCommand, BadInputEndsWithStatusTwoAndOneLineNamingTheFileAndTheReason) {
    const std::string readable = Text(kReadable);
    ASSERT_GT(readable.size(), 40000u) << kReadable;
    const std::vector<std::uint8_t> grey = velmaro::photo::EncodeImage(cv::Mat1b(480, 640, 128), "png", 0);
    const struct {
        std::string what, path, reason;
    } cases[] = {
        {"a missing file", (dir / "missing.jpg").string(), "no such file"},
        {"a directory", dir.string(), "is a directory"},
        {"an empty file", Write("empty.jpg", ""), "the file is empty"},
        {"a text file", Write("notes.txt", "Exposure 1/250, lines 212 to 486\n"), "not a JPEG or PNG image"},
        {"a readable photograph's JPEG cut short", Write("cut.jpg", readable.substr(0, 30000)),
         "not a readable JPEG image: Corrupt JPEG data: premature end of data segment"},
        {"a plain grey PNG", Write("grey.png", std::string(grey.begin(), grey.end())),
         "no lit screen found in the photograph"},
    };
    for (const auto& c : cases) {
        for (const std::string options : {"", "--json", "--refresh 85 --mode 1024x768"}) {
            const Outcome run = Read(c.path, options);
            const std::string what = c.what + " " + options;
            EXPECT_EQ(2, run.status) << what << ": " << run.err;
            EXPECT_EQ(1, std::count(run.err.begin(), run.err.end(), '\n')) << what << ": " << run.err;
            EXPECT_EQ("velmaro-photo: " + c.path + ": " + c.reason + "\n", run.err) << what;
            if (options != "--json") {
                EXPECT_EQ("", run.out) << what;
                continue;
            }
            // One line of JSON with the error alone: no reading's fields.
            EXPECT_EQ(1, std::count(run.out.begin(), run.out.end(), '\n')) << what << ": " << run.out;
            const auto json = nlohmann::json::parse(run.out, nullptr, false);
            ASSERT_TRUE(json.is_object()) << what << ": " << run.out;
            EXPECT_EQ(1u, json.size()) << what << ": " << run.out;
            EXPECT_EQ(c.path + ": " + c.reason, json.value("error", std::string("(none)"))) << what << ": " << run.out;
        }
    }
}

TEST_F(ReadCommand, AReadablePhotographGivesStatusZeroAndTheReading) {
    Outcome run = Read(kReadable);
    EXPECT_EQ(0, run.status) << run.err;
    EXPECT_EQ("", run.err);
    EXPECT_EQ(0u, run.out.find("CRT, 1024x768: lines 212 to 486 of phase 2 lit: 274.")) << run.out;

    run = Read(kReadable, "--json");
    EXPECT_EQ(0, run.status) << run.err;
    const auto json = nlohmann::json::parse(run.out, nullptr, false);
    ASSERT_TRUE(json.is_object()) << run.out;
    EXPECT_FALSE(json.contains("error")) << run.out;
    EXPECT_EQ(212, json.value("first_line", 0)) << run.out;
    EXPECT_EQ(486, json.value("last_line", 0)) << run.out;
}

TEST_F(ReadCommand, AMistakeOnTheCommandLineSaysWhereHelpIs) {
    Outcome run = Run("");
    EXPECT_EQ(2, run.status);
    EXPECT_NE(std::string::npos, run.err.find("velmaro-photo --help lists the commands")) << run.err;
    run = Run("read");
    EXPECT_EQ(2, run.status);
    EXPECT_NE(std::string::npos, run.err.find("velmaro-photo read --help lists its options")) << run.err;
    EXPECT_EQ(1, std::count(run.err.begin(), run.err.end(), '\n')) << run.err;
}

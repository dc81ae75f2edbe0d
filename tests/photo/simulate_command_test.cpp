// The simulate verb as a user meets it: bad arguments end with status 2, one line on
// standard error and no file; the same arguments give the same file; a quarter turn
// gives an upright photo; the truth names the shutter, its curtains and the turn.
#include <gtest/gtest.h>

#include "tests/photo/program_run.h"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <string>

#include "photo/model/codec.h"

namespace fs = std::filesystem;

namespace {

class SimulateCommand : public ProgramRun {
protected:
    Outcome Simulate(const std::string& arguments) {
        return Run("simulate --photo-size 320x240 --scale 0.25 " + arguments);
    }
};

}  // namespace

TEST_F(SimulateCommand, BadArgumentsEndWithStatusTwoOneLineAndNoFile) {
    const std::string out = (dir / "out.png").string(), truth = (dir / "truth.json").string();
    const std::string cases[] = {
        "--mode 1024by768",
        "--mode 0x768",
        "--exposure -0.004",
        "--exposure 1/0",
        "--display plasma",
        "--start-phase 5",
        "--refresh 0",
        "--vtotal 700",
        "--hold 0",
        "--phosphor 1@-2e-6",
        "--no-such-option 1",
        "--rotation 400",
        "--rotation -361",
        "--shutter curtain",
        "--shutter focal-plane --travel-axis z",
        "--shutter focal-plane --travel-closing -0.01",
        "--shutter focal-plane --travel 2",
        "--shutter rolling --exposure 1/8000 --travel 0.01 --travel-closing 0.02",
        "--negative sepia",
        "--negative colour --grey",
        "--panel-gamma bright",
        "--panel-gamma 0",
        "--fall-ratio 0",
        "--black-leak -0.1",
        "--row-matrix 0.9",
        "--beam-spot -1",
        "--distortion 0.2",
        "--aberration-red 0.1",
        "--blur-blue 0",
        "--aspect 0.8",
        "--border -5",
        "--wall-reflect -1",
        "--balance-red 0",
        "--subsampling 422",
    };
    for (const std::string& bad : cases) {
        const Outcome run = Simulate("--out " + out + " --truth " + truth + " " + bad);
        EXPECT_EQ(2, run.status) << bad << ": " << run.err;
        EXPECT_EQ(1, std::count(run.err.begin(), run.err.end(), '\n')) << bad << ": " << run.err;
        EXPECT_FALSE(fs::exists(out)) << bad;
        EXPECT_FALSE(fs::exists(truth)) << bad;
    }
}

TEST_F(SimulateCommand, OutputsThatCannotBeWrittenLeaveNoFile) {
    const std::string out = (dir / "out.png").string();
    Outcome run = Simulate("--out " + (dir / "missing" / "out.png").string());
    EXPECT_EQ(2, run.status) << run.err;
    EXPECT_NE(std::string::npos, run.err.find("cannot write")) << run.err;

    run = Simulate("--out " + out + " --truth " + (dir / "missing" / "truth.json").string());
    EXPECT_EQ(2, run.status) << run.err;
    EXPECT_FALSE(fs::exists(out)) << "the photograph made before the truth failed";

    run = Simulate("--out " + (dir / "out.tiff").string());
    EXPECT_EQ(2, run.status) << run.err;
    EXPECT_NE(std::string::npos, run.err.find(".png")) << run.err;
    EXPECT_FALSE(fs::exists(dir / "out.tiff"));
}

TEST_F(SimulateCommand, TheSameArgumentsGiveTheSameFile) {
    const std::string everything =
        " --exposure 1/125 --shutter focal-plane --travel -0.006 --travel-closing 0.0065 --travel-axis y --rotation 183"
        " --mirror --aspect 0.04 --distortion -0.006 --aberration-red 5e-4 --aberration-blue -4e-4 --beam-spot 0.3"
        " --blur-red 1.1 --border 10 --bezel 30 --balance-blue 0.9 --phosphor-red 0.88@120e-6,0.12@1.2e-3";
    for (const std::string name : {"a.jpg", "b.jpg", "c.jpg", "d.png", "e.png"}) {
        const std::string seed = name[0] == 'c' ? "--seed 2 " : "";
        const Outcome run = Simulate("--out " + (dir / name).string() + " " + seed + everything);
        ASSERT_EQ(0, run.status) << run.err;
    }
    EXPECT_EQ(Text(dir / "a.jpg"), Text(dir / "b.jpg"));
    EXPECT_NE(Text(dir / "a.jpg"), Text(dir / "c.jpg")) << "another seed, other noise";
    EXPECT_EQ(Text(dir / "d.png"), Text(dir / "e.png"));
    EXPECT_EQ(std::string("\x89PNG", 4), Text(dir / "d.png").substr(0, 4));
    EXPECT_EQ(std::string("\xFF\xD8", 2), Text(dir / "a.jpg").substr(0, 2));
}

namespace {

cv::Size SizeOf(const std::string& bytes) {
    return velmaro::photo::DecodeImage(std::vector<std::uint8_t>(bytes.begin(), bytes.end())).size();
}

}  // namespace

TEST_F(SimulateCommand, AQuarterTurnGivesAnUprightPhotoUnlessTheSizeIsGiven) {
    const std::string out = (dir / "turned.png").string();
    Outcome run = Run("simulate --out " + out + " --scale 1 --rotation 90 --negative grey");
    ASSERT_EQ(0, run.status) << run.err;
    EXPECT_EQ(cv::Size(2250, 3000), SizeOf(Text(out)));
    run = Run("simulate --out " + out + " --scale 1 --rotation 180");
    ASSERT_EQ(0, run.status) << run.err;
    EXPECT_EQ(cv::Size(3000, 2250), SizeOf(Text(out)));
    run = Simulate("--out " + out + " --rotation 270");
    ASSERT_EQ(0, run.status) << run.err;
    EXPECT_EQ(cv::Size(320, 240), SizeOf(Text(out)));
}

TEST_F(SimulateCommand, TheTruthNamesTheTurnTheShutterAndItsCurtains) {
    const std::string out = (dir / "out.png").string(), truthPath = (dir / "truth.json").string();
    // A rolling readout down a quarter-turned screen's photo runs along the screen's lines.
    Outcome run =
        Simulate("--out " + out + " --truth " + truthPath +
                 " --shutter rolling --travel 0.03 --travel-closing 0.031 --rotation -90 --mirror --negative colour");
    ASSERT_EQ(0, run.status) << run.err;
    auto truth = nlohmann::json::parse(Text(truthPath));
    EXPECT_EQ(270, truth["orientation"]["rotation_deg"]);
    EXPECT_EQ(true, truth["orientation"]["mirrored"]);
    EXPECT_EQ(true, truth["negative"]);
    EXPECT_EQ("slit", truth["shutter"]["kind"]);
    EXPECT_EQ("photo-y", truth["shutter"]["travel_axis"]);
    EXPECT_EQ(true, truth["shutter"]["crosses_lines"]);
    EXPECT_EQ(0.03, truth["curtains"]["opening_travel_s"]);
    EXPECT_EQ(0.031, truth["curtains"]["closing_travel_s"]);
    EXPECT_NEAR(0.004 - 0.0005, truth["exposure_across"]["start_s"].get<double>(), 1e-12);
    EXPECT_NEAR(0.004 + 0.0005, truth["exposure_across"]["end_s"].get<double>(), 1e-12);
    EXPECT_NEAR(std::log2(4.5 / 3.5), truth["exposure_across"]["taper_stops"].get<double>(), 1e-9);
    EXPECT_TRUE(truth["band_lines"].is_null()) << "the band slants; its height is the exposure";

    // A leaf shutter has no curtains; a slit down an upright screen runs along its columns.
    run = Simulate("--out " + out + " --truth " + truthPath);
    ASSERT_EQ(0, run.status) << run.err;
    truth = nlohmann::json::parse(Text(truthPath));
    EXPECT_EQ("leaf", truth["shutter"]["kind"]);
    EXPECT_TRUE(truth["curtains"]["opening_travel_s"].is_null());
    EXPECT_TRUE(truth["exposure_across"]["centre_s"].is_null());
    run = Simulate("--out " + out + " --truth " + truthPath + " --shutter focal-plane --travel-axis y --travel 0.005");
    ASSERT_EQ(0, run.status) << run.err;
    truth = nlohmann::json::parse(Text(truthPath));
    EXPECT_EQ(false, truth["shutter"]["crosses_lines"]);
    EXPECT_GT(truth["slit_speed_lines_per_s"].get<double>(), 0) << "down the photo, with the beam";
    EXPECT_GT(truth["band_lines"].get<double>(), truth["exposure_lines"].get<double>());
}

// The simulate verb as a user meets it: bad arguments end with status 2, one line on
// standard error and no file; the same arguments give the same file.
#include <gtest/gtest.h>

#include "tests/photo/program_run.h"

#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

class SimulateCommand : public ProgramRun {
protected:
    Outcome Simulate(const std::string& arguments) { return Run("simulate --photo-size 320x240 --scale 0.25 " + arguments); }
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
    for (const std::string name : {"a.jpg", "b.jpg", "c.jpg", "d.png", "e.png"}) {
        const std::string seed = name[0] == 'c' ? "--seed 2 " : "";
        const Outcome run = Simulate("--out " + (dir / name).string() + " " + seed + "--exposure 1/125");
        ASSERT_EQ(0, run.status) << run.err;
    }
    EXPECT_EQ(Text(dir / "a.jpg"), Text(dir / "b.jpg"));
    EXPECT_NE(Text(dir / "a.jpg"), Text(dir / "c.jpg")) << "another seed, other noise";
    EXPECT_EQ(Text(dir / "d.png"), Text(dir / "e.png"));
    EXPECT_EQ(std::string("\x89PNG", 4), Text(dir / "d.png").substr(0, 4));
    EXPECT_EQ(std::string("\xFF\xD8", 2), Text(dir / "a.jpg").substr(0, 2));
}

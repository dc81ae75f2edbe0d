// Running velmaro-photo as a user would, from a POSIX shell, in a folder of the test's
// own: its exit status and what it wrote on standard output and standard error.
#pragma once

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

struct Outcome {
    int status;
    std::string out, err;
};

class ProgramRun : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        dir = std::filesystem::temp_directory_path() /
              ("velmaro-photo-" + std::string(test->test_suite_name()) + "-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir);
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    // velmaro-photo with these arguments (as a shell would split them).
    Outcome Run(const std::string& arguments) {
        const std::filesystem::path out = dir / "stdout.txt", err = dir / "stderr.txt";
        const std::string command =
            std::string(VELMARO_PHOTO_PROGRAM) + " " + arguments + " >" + out.string() + " 2>" + err.string();
        const int raw = std::system(command.c_str());
        return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, Text(out), Text(err)};
    }
    static std::string Text(const std::filesystem::path& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    std::filesystem::path dir;
};

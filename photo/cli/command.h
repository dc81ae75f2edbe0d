// The command line's verbs: their options, and what they do with them.
#pragma once

#include <CLI/CLI.hpp>

#include <optional>
#include <string>

namespace velmaro::photo {

struct SimulateOptions {
    std::string out, truth;
    std::string display = "crt", mode = "1024x768";
    double refresh = 85;
    std::optional<int> vtotal;
    std::optional<double> hfreq;
    std::string exposure = "1/250", hold = "1";
    double startLine = 212;
    int startPhase = 2;
    std::uint64_t seed = 1;
    std::string phosphor, phosphorRed, phosphorGreen, phosphorBlue;
    double response = 1e-3;
    std::string shutter = "leaf";
    double travel = 0.010;
    std::string photoSize = "3000x2250";
    double scale = 2.5, rotation = 0, keystoneX = 0, keystoneY = 0, offsetX = 0, offsetY = 0;
    double blur = 0.7, vignetting = 0.2, roomLight = 0.01, fullWell = 20000, readNoise = 4, gain = 1;
    bool grey = false;
    int quality = 92;
};

void AddSimulateCommand(CLI::App& app, SimulateOptions& options);
int RunSimulate(const SimulateOptions& options);

}  // namespace velmaro::photo

namespace velmaro::photo {

struct ReadCommandOptions {
    std::string photo;
    std::string mode = "1024x768";
    std::optional<double> refresh;
    std::optional<int> vtotal;
    std::optional<double> hfreq;
    std::string display = "auto";
    bool json = false;
    std::string annotate;
};

void AddReadCommand(CLI::App& app, ReadCommandOptions& options);
int RunRead(const ReadCommandOptions& options);

struct PicturesOptions {
    std::string mode = "1024x768";
    std::string outDir = ".";
    std::string format = "png";
};

void AddPicturesCommand(CLI::App& app, PicturesOptions& options);
int RunPictures(const PicturesOptions& options);

}  // namespace velmaro::photo

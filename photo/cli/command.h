// The command line's verbs: their options, and what they do with them.
#pragma once

#include <CLI/CLI.hpp>

#include <optional>
#include <string>
#include <vector>

#include "photo/cli/exif.h"
#include "photo/read/reading.h"

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
    double beamSpot = 0;
    double response = 1e-3, fallRatio = 1, blackLeak = 0, rowMatrix = 0;
    std::string panelGamma = "srgb";
    std::string shutter = "leaf";
    double travel = 0.010;
    std::optional<double> travelClosing;
    std::string travelAxis;  // x or y; empty: x for a focal-plane shutter, y for a rolling one
    std::string photoSize;   // empty: 3000x2250, turned upright for a quarter turn
    double scale = 2.5, rotation = 0, keystoneX = 0, keystoneY = 0, offsetX = 0, offsetY = 0, aspect = 0;
    bool mirror = false;
    double blur = 0.7, blurRed = 1, blurBlue = 1, distortion = 0, aberrationRed = 0, aberrationBlue = 0;
    double vignetting = 0.2, roomLight = 0.01, border = 0, bezel = 0, bezelReflect = 2, wallReflect = 2;
    double fullWell = 20000, readNoise = 4, gain = 1, balanceRed = 1, balanceBlue = 1;
    bool grey = false;
    std::string negative = "none";
    int quality = 92;
    std::string subsampling = "420";
    ExifOptions exif;
};

void AddSimulateCommand(CLI::App& app, SimulateOptions& options);
int RunSimulate(const SimulateOptions& options);

}  // namespace velmaro::photo

namespace velmaro::photo {

struct ReadCommandOptions {
    std::string photo;
    std::string second;  // a second photograph, taken upside down: a pair of a slit along the scan
    std::string mode = "1024x768";
    std::optional<double> refresh;
    std::optional<int> vtotal;
    std::optional<double> hfreq;
    std::string display = "auto";
    std::string marked;  // the speed set on the camera, as people write it
    std::string shutter = "auto", travel, frameMm, negative = "auto";
    bool json = false;
    std::string annotate;
};

void AddReadCommand(CLI::App& app, ReadCommandOptions& options);
int RunRead(const ReadCommandOptions& options);

// The options that tell the reader about the screen, shared by the verbs that read:
// the mode, refresh, vertical total or line rate, and display. ReadOptionsOf checks
// them (std::invalid_argument) and adds the marked speed where one was given.
void AddReadingOptions(CLI::App& command, ReadCommandOptions& options);
ReadOptions ReadOptionsOf(const ReadCommandOptions& options);

struct SessionOptions {
    std::vector<std::string> photos;  // photographs, or folders of them
    ReadCommandOptions read;
    std::string marked = "auto";
    double toleranceStops = 0.33;
    std::string csv, html;
    bool json = false;
    int jobs = 0;  // 0: every core
};

void AddSessionCommand(CLI::App& app, SessionOptions& options);
// 0: every speed passes and every photograph was read; 1: a speed fails, or a
// photograph gave no reading; 2: no session (bad arguments, no photographs, a CSV of
// marked speeds or an output that cannot be read or written).
int RunSession(const SessionOptions& options);

struct PicturesOptions {
    std::string mode = "1024x768";
    std::string outDir = ".";
    std::string format = "png";
};

void AddPicturesCommand(CLI::App& app, PicturesOptions& options);
int RunPictures(const PicturesOptions& options);

}  // namespace velmaro::photo

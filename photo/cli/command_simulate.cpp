// The simulate verb: a photograph of the running pattern, and its truth as JSON.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "photo/cli/arguments.h"
#include "photo/cli/command.h"
#include "photo/cli/exif.h"
#include "photo/model/codec.h"
#include "photo/simulate/simulate.h"
#include "photo/simulate/truth.h"

namespace velmaro::photo {

namespace {

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::stringstream stream(text);
    for (std::string part; std::getline(stream, part, separator);) parts.push_back(part);
    return parts;
}

// "0.9@3e-6,0.1@3e-4": weights and time constants in seconds.
Impulse ParseImpulse(const std::string& text) {
    Impulse impulse;
    for (const std::string& part : Split(text, ',')) {
        const auto at = part.find('@');
        if (at == std::string::npos)
            throw std::invalid_argument("a phosphor component is WEIGHT@SECONDS, not \"" + part + "\"");
        impulse.push_back({ParseNumber(part.substr(0, at), "a phosphor weight"),
                           ParseNumber(part.substr(at + 1), "a phosphor time constant")});
    }
    return Normalised(impulse);
}

std::vector<int> ParseHolds(const std::string& text) {
    std::vector<int> holds;
    for (const std::string& part : Split(text, ',')) {
        const double hold = ParseNumber(part, "a hold");
        if (hold != std::floor(hold)) throw std::invalid_argument("a hold is a whole number of refreshes");
        holds.push_back(static_cast<int>(std::clamp(hold, -1.0, 1e6)));
    }
    return holds;
}

Scene SceneOf(const SimulateOptions& o) {
    Scene scene;
    if (o.display != "crt" && o.display != "lcd") throw std::invalid_argument("the display is crt or lcd");
    scene.display = o.display == "crt" ? DisplayKind::kCrt : DisplayKind::kLcd;
    const auto [width, height] = ParseSize(o.mode, "the mode");
    scene.timing = ResolveTiming(width, height, o.refresh, o.vtotal, o.hfreq);
    scene.exposure = ParseSeconds(o.exposure, "the exposure");
    scene.startLine = o.startLine;
    scene.schedule = {o.startPhase, ParseHolds(o.hold)};
    if (!o.phosphor.empty()) scene.phosphor.fill(ParseImpulse(o.phosphor));
    if (!o.phosphorRed.empty()) scene.phosphor[0] = ParseImpulse(o.phosphorRed);
    if (!o.phosphorGreen.empty()) scene.phosphor[1] = ParseImpulse(o.phosphorGreen);
    if (!o.phosphorBlue.empty()) scene.phosphor[2] = ParseImpulse(o.phosphorBlue);
    scene.response = o.response;
    if (o.shutter != "leaf" && o.shutter != "focal-plane") throw std::invalid_argument("the shutter is leaf or focal-plane");
    scene.shutter = {o.shutter == "focal-plane", o.travel};
    const auto [photoWidth, photoHeight] = ParseSize(o.photoSize, "the photo size");
    scene.placement = {{photoWidth, photoHeight}, o.scale, o.rotation, o.keystoneX, o.keystoneY, {o.offsetX, o.offsetY}};
    scene.optics = {o.blur, o.vignetting, o.roomLight};
    scene.sensor = {1, o.fullWell, o.readNoise, o.grey, o.seed};
    scene.gain = o.gain;
    Validate(scene);
    return scene;
}

// Files are made before the work, so that a path that cannot be written is reported at
// once, and removed again when anything fails, so that a failure leaves no file.
struct Outputs {
    std::vector<std::string> made;
    ~Outputs() {
        for (const std::string& path : made) std::remove(path.c_str());
    }
    void Create(const std::string& path) {
        std::ofstream file(path, std::ios::binary);
        if (!file) throw std::runtime_error("cannot write " + path + ": " + std::strerror(errno));
        made.push_back(path);
    }
    static void Write(const std::string& path, const std::string& bytes) {
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!file.flush()) throw std::runtime_error("cannot write " + path + ": " + std::strerror(errno));
    }
    void Keep() { made.clear(); }
};

}  // namespace

void AddSimulateCommand(CLI::App& app, SimulateOptions& o) {
    CLI::App* sim = app.add_subcommand("simulate", "Makes a photograph of the running pattern whose truth is known");
    sim->add_option("--out", o.out, "The photograph to write (.jpg, .jpeg or .png)")->required();
    sim->add_option("--truth", o.truth, "Where to write the truth, as JSON");
    sim->add_option("--display", o.display, "crt or lcd")->capture_default_str();
    sim->add_option("--mode", o.mode, "Screen mode WIDTHxHEIGHT")->capture_default_str();
    sim->add_option("--refresh", o.refresh, "Refresh rate, Hz")->capture_default_str();
    sim->add_option("--vtotal", o.vtotal, "Lines per refresh, vertical blanking included");
    sim->add_option("--hfreq", o.hfreq, "Line rate, kHz (gives the vertical total)");
    sim->add_option("--exposure", o.exposure, "Exposure, seconds (0.004 or 1/250)")->capture_default_str();
    sim->add_option("--start-line", o.startLine, "Line being scanned when the shutter opens; beyond the height: blanking")
        ->capture_default_str();
    sim->add_option("--start-phase", o.startPhase, "Phase (0-4) of the picture on the screen then")->capture_default_str();
    sim->add_option("--hold", o.hold, "Refreshes each picture stays up, as a repeating list (1 or 2 or 1,1,2)")
        ->capture_default_str();
    sim->add_option("--seed", o.seed, "Seed of the sensor's noise")->capture_default_str();
    sim->add_option("--phosphor", o.phosphor, "CRT impulse response of all channels: WEIGHT@SECONDS,...");
    sim->add_option("--phosphor-red", o.phosphorRed, "... of the red channel");
    sim->add_option("--phosphor-green", o.phosphorGreen, "... of the green channel");
    sim->add_option("--phosphor-blue", o.phosphorBlue, "... of the blue channel");
    sim->add_option("--response", o.response, "LCD response, 10-90 %, seconds")->capture_default_str();
    sim->add_option("--shutter", o.shutter, "leaf or focal-plane (travelling horizontally)")->capture_default_str();
    sim->add_option("--travel", o.travel, "Focal-plane slit's time across the photo, seconds; negative: right to left")
        ->capture_default_str();
    sim->add_option("--photo-size", o.photoSize, "Photo WIDTHxHEIGHT, pixels")->capture_default_str();
    sim->add_option("--scale", o.scale, "Photo pixels per screen line")->capture_default_str();
    sim->add_option("--rotation", o.rotation, "Degrees, counter-clockwise")->capture_default_str();
    sim->add_option("--keystone-x", o.keystoneX, "Right edge taller than the left, as a share")->capture_default_str();
    sim->add_option("--keystone-y", o.keystoneY, "Bottom edge wider than the top, as a share")->capture_default_str();
    sim->add_option("--offset-x", o.offsetX, "Screen centre right of the photo's centre, pixels")->capture_default_str();
    sim->add_option("--offset-y", o.offsetY, "Screen centre below the photo's centre, pixels")->capture_default_str();
    sim->add_option("--blur", o.blur, "Lens blur, Gaussian sigma in photo pixels")->capture_default_str();
    sim->add_option("--vignetting", o.vignetting, "Light lost in the corners, as a share")->capture_default_str();
    sim->add_option("--room-light", o.roomLight, "Room light on the screen, as a share of white")->capture_default_str();
    sim->add_option("--full-well", o.fullWell, "Electrons at full scale (photon noise)")->capture_default_str();
    sim->add_option("--read-noise", o.readNoise, "Read noise, electrons")->capture_default_str();
    sim->add_option("--gain", o.gain, "1: the brightest screen light at 85 % of full scale; above that it clips")
        ->capture_default_str();
    sim->add_flag("--grey", o.grey, "One grey channel");
    sim->add_option("--quality", o.quality, "JPEG quality, 0-100")->capture_default_str();
    AddExifOptions(*sim, o.exif);
}

int RunSimulate(const SimulateOptions& o) {
    const std::string kind = ImageKind(o.out);
    if (kind.empty()) throw std::invalid_argument("the photograph's name must end in .jpg, .jpeg or .png: " + o.out);
    const Scene scene = SceneOf(o);
    const Exif exif = ExifOf(o.exif);
    Outputs outputs;
    outputs.Create(o.out);
    if (!o.truth.empty()) outputs.Create(o.truth);

    const Photograph photograph = Simulate(BuiltInRuler(), scene);
    const std::vector<std::uint8_t> bytes = WithExif(EncodeImage(photograph.image, kind, o.quality), exif);
    Outputs::Write(o.out, std::string(bytes.begin(), bytes.end()));
    if (!o.truth.empty())
        Outputs::Write(o.truth, TruthJson(TruthOf(scene, photograph.screenToPhoto), scene, photograph.screenToPhoto).dump(2) + "\n");
    outputs.Keep();
    return 0;
}

}  // namespace velmaro::photo

// The simulate verb: a photograph of the running pattern, and its truth as JSON.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
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

// One of a few named values; `what` names the option in the error.
template <typename T>
T OneOf(const std::string& text, const std::map<std::string, T>& values, const std::string& what) {
    const auto found = values.find(text);
    if (found != values.end()) return found->second;
    std::string names;
    for (const auto& [name, value] : values) names += (names.empty() ? "" : ", ") + name;
    throw std::invalid_argument(what + " is one of " + names + ", not \"" + text + "\"");
}

Panel PanelOf(const SimulateOptions& o) {
    const double gamma = o.panelGamma == "srgb" ? 0 : ParseNumber(o.panelGamma, "the panel's gamma (srgb or a number)");
    if (o.panelGamma != "srgb" && gamma == 0) throw std::invalid_argument("the panel's gamma must be srgb or above 0");
    return {o.response, o.fallRatio, gamma, o.blackLeak, o.rowMatrix};
}

Shutter ShutterOf(const SimulateOptions& o) {
    enum Kind { kLeaf, kFocalPlane, kRolling };
    const Kind kind =
        OneOf<Kind>(o.shutter, {{"leaf", kLeaf}, {"focal-plane", kFocalPlane}, {"rolling", kRolling}}, "the shutter");
    Shutter shutter;
    shutter.slit = kind != kLeaf;
    shutter.rolling = kind == kRolling;
    shutter.travel = o.travel;
    if (o.travelClosing && *o.travelClosing < 0)
        throw std::invalid_argument(
            "the closing curtain's travel is a time, not below 0 (its direction is --travel's)");
    shutter.closingTravel = o.travelClosing;
    const std::string axis = o.travelAxis.empty() ? (shutter.rolling ? "y" : "x") : o.travelAxis;
    shutter.axis = OneOf<SlitAxis>(axis, {{"x", SlitAxis::kX}, {"y", SlitAxis::kY}}, "the travel's axis");
    return shutter;
}

// The photo's size; by default a quarter turn of the screen (within 45 degrees of 90 or
// 270) gives an upright photo, as a camera held on its side would.
cv::Size PhotoSizeOf(const SimulateOptions& o) {
    if (!o.photoSize.empty()) {
        const auto [width, height] = ParseSize(o.photoSize, "the photo size");
        return {width, height};
    }
    const double angle = o.rotation * 3.14159265358979323846 / 180;
    const bool upright = std::abs(std::sin(angle)) > std::abs(std::cos(angle));
    return upright ? cv::Size(2250, 3000) : cv::Size(3000, 2250);
}

Scene SceneOf(const SimulateOptions& o) {
    Scene scene;
    scene.display =
        OneOf<DisplayKind>(o.display, {{"crt", DisplayKind::kCrt}, {"lcd", DisplayKind::kLcd}}, "the display");
    const auto [width, height] = ParseSize(o.mode, "the mode");
    scene.timing = ResolveTiming(width, height, o.refresh, o.vtotal, o.hfreq);
    scene.exposure = ParseSeconds(o.exposure, "the exposure");
    scene.startLine = o.startLine;
    scene.schedule = {o.startPhase, ParseHolds(o.hold)};
    if (!o.phosphor.empty()) scene.phosphor.fill(ParseImpulse(o.phosphor));
    if (!o.phosphorRed.empty()) scene.phosphor[kRed] = ParseImpulse(o.phosphorRed);
    if (!o.phosphorGreen.empty()) scene.phosphor[kGreen] = ParseImpulse(o.phosphorGreen);
    if (!o.phosphorBlue.empty()) scene.phosphor[kBlue] = ParseImpulse(o.phosphorBlue);
    scene.beamSpot = o.beamSpot;
    scene.panel = PanelOf(o);
    scene.shutter = ShutterOf(o);
    scene.placement = {PhotoSizeOf(o),         o.scale,  o.rotation, o.keystoneX, o.keystoneY,
                       {o.offsetX, o.offsetY}, o.aspect, o.mirror};
    scene.optics = {o.blur,    o.vignetting, o.roomLight,
                    o.blurRed, o.blurBlue,   {o.distortion, o.aberrationRed, o.aberrationBlue}};
    scene.housing = {o.border, o.bezel, o.bezelReflect, o.wallReflect};
    const Film film = OneOf<Film>(o.negative, {{"none", Film::kNone}, {"grey", Film::kGrey}, {"colour", Film::kColour}},
                                  "the negative");
    scene.sensor = {1, o.fullWell, o.readNoise, o.grey, o.seed, o.balanceRed, o.balanceBlue, film};
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
    sim->add_option("--exposure", o.exposure,
                    "Exposure, seconds (0.004 or 1/250); a slit's at the middle of its travel")
        ->capture_default_str();
    sim->add_option("--start-line", o.startLine,
                    "Line being scanned when the shutter opens; beyond the height: blanking")
        ->capture_default_str();
    sim->add_option("--start-phase", o.startPhase, "Phase (0-4) of the picture on the screen then")
        ->capture_default_str();
    sim->add_option("--hold", o.hold, "Refreshes each picture stays up, as a repeating list (1 or 2 or 1,1,2)")
        ->capture_default_str();
    sim->add_option("--seed", o.seed, "Seed of the sensor's noise")->capture_default_str();
    sim->add_option("--phosphor", o.phosphor, "CRT impulse response of all channels: WEIGHT@SECONDS,...");
    sim->add_option("--phosphor-red", o.phosphorRed, "... of the red channel");
    sim->add_option("--phosphor-green", o.phosphorGreen, "... of the green channel");
    sim->add_option("--phosphor-blue", o.phosphorBlue, "... of the blue channel");
    sim->add_option("--beam-spot", o.beamSpot, "CRT beam's spot, Gaussian sigma in lines; 0: lines fill their height")
        ->capture_default_str();
    sim->add_option("--response", o.response, "LCD drive's rise, 10-90 %, seconds")->capture_default_str();
    sim->add_option("--fall-ratio", o.fallRatio, "LCD drive's fall time constant over its rise's")
        ->capture_default_str();
    sim->add_option("--panel-gamma", o.panelGamma, "LCD light from drive: srgb, or a power such as 2.2")
        ->capture_default_str();
    sim->add_option("--black-leak", o.blackLeak, "LCD black's light, as a share of white")->capture_default_str();
    sim->add_option("--row-matrix", o.rowMatrix, "LCD dark matrix between rows, share of a line")
        ->capture_default_str();
    sim->add_option("--shutter", o.shutter, "leaf, focal-plane or rolling (a slit along a photo axis)")
        ->capture_default_str();
    sim->add_option(
           "--travel", o.travel,
           "Slit's opening curtain (or readout) across the photo, seconds; negative: right to left or bottom to top")
        ->capture_default_str();
    sim->add_option("--travel-closing", o.travelClosing,
                    "Closing curtain across the photo, seconds (default: as --travel)");
    sim->add_option("--travel-axis", o.travelAxis,
                    "x or y: the photo axis the slit travels along (default: x, rolling y)");
    sim->add_option("--photo-size", o.photoSize,
                    "Photo WIDTHxHEIGHT, pixels (default 3000x2250, upright for a quarter turn)");
    sim->add_option("--scale", o.scale, "Photo pixels per screen line")->capture_default_str();
    sim->add_option("--aspect", o.aspect, "Screen columns wider than lines are tall, as a share")
        ->capture_default_str();
    sim->add_option("--rotation", o.rotation, "Degrees counter-clockwise, -360 to 360: where the screen's top points")
        ->capture_default_str();
    sim->add_flag("--mirror", o.mirror, "The screen mirrored left to right, as on a film scanned from its back");
    sim->add_option("--keystone-x", o.keystoneX, "Right edge taller than the left, as a share")->capture_default_str();
    sim->add_option("--keystone-y", o.keystoneY, "Bottom edge wider than the top, as a share")->capture_default_str();
    sim->add_option("--offset-x", o.offsetX, "Screen centre right of the photo's centre, pixels")
        ->capture_default_str();
    sim->add_option("--offset-y", o.offsetY, "Screen centre below the photo's centre, pixels")->capture_default_str();
    sim->add_option("--blur", o.blur, "Lens blur, Gaussian sigma in photo pixels")->capture_default_str();
    sim->add_option("--blur-red", o.blurRed, "Red's blur as a multiple of green's")->capture_default_str();
    sim->add_option("--blur-blue", o.blurBlue, "Blue's blur as a multiple of green's")->capture_default_str();
    sim->add_option("--distortion", o.distortion, "Lens distortion k1: r' = r (1 + k1 r^2), r in half-diagonals")
        ->capture_default_str();
    sim->add_option("--aberration-red", o.aberrationRed, "Red's image larger than green's, as a share (lateral colour)")
        ->capture_default_str();
    sim->add_option("--aberration-blue", o.aberrationBlue, "Blue's image larger than green's, as a share")
        ->capture_default_str();
    sim->add_option("--vignetting", o.vignetting, "Light lost in the corners, as a share")->capture_default_str();
    sim->add_option("--room-light", o.roomLight, "Room light on the screen's glass, as a share of white")
        ->capture_default_str();
    sim->add_option("--border", o.border, "Screen's black overscan around the picture, photo pixels")
        ->capture_default_str();
    sim->add_option("--bezel", o.bezel, "Bezel around the overscan, photo pixels")->capture_default_str();
    sim->add_option("--bezel-reflect", o.bezelReflect, "Bezel's light against the glass's")->capture_default_str();
    sim->add_option("--wall-reflect", o.wallReflect, "Wall's light beyond the bezel against the glass's")
        ->capture_default_str();
    sim->add_option("--full-well", o.fullWell, "Electrons at full scale (photon noise)")->capture_default_str();
    sim->add_option("--read-noise", o.readNoise, "Read noise, electrons")->capture_default_str();
    sim->add_option("--gain", o.gain, "1: the photo's brightest part at 85 % of full scale; above 1/0.85 it clips")
        ->capture_default_str();
    sim->add_option("--balance-red", o.balanceRed, "White balance: red's gain against green's")->capture_default_str();
    sim->add_option("--balance-blue", o.balanceBlue, "White balance: blue's gain against green's")
        ->capture_default_str();
    sim->add_flag("--grey", o.grey, "One grey channel");
    sim->add_option("--negative", o.negative,
                    "none, grey or colour: a scanned negative (colour: through an orange base)")
        ->capture_default_str();
    sim->add_option("--quality", o.quality, "JPEG quality, 0-100")->capture_default_str();
    sim->add_option("--subsampling", o.subsampling, "JPEG chroma: 420 (halved each way) or 444 (whole)")
        ->capture_default_str();
    AddExifOptions(*sim, o.exif);
}

int RunSimulate(const SimulateOptions& o) {
    const std::string kind = ImageKind(o.out);
    if (kind.empty()) throw std::invalid_argument("the photograph's name must end in .jpg, .jpeg or .png: " + o.out);
    const bool halveChroma = OneOf<bool>(o.subsampling, {{"420", true}, {"444", false}}, "the subsampling");
    const Scene scene = SceneOf(o);
    const Exif exif = ExifOf(o.exif);
    Outputs outputs;
    outputs.Create(o.out);
    if (!o.truth.empty()) outputs.Create(o.truth);

    const Photograph photograph = Simulate(BuiltInRuler(), scene);
    const std::vector<std::uint8_t> bytes = WithExif(EncodeImage(photograph.image, kind, o.quality, halveChroma), exif);
    Outputs::Write(o.out, std::string(bytes.begin(), bytes.end()));
    if (!o.truth.empty()) {
        auto truth = TruthJson(TruthOf(scene, photograph.screenToPhoto), scene, photograph.screenToPhoto);
        truth["file"] = {{"kind", kind},
                         {"quality", kind == "jpg" ? nlohmann::ordered_json(o.quality) : nullptr},
                         {"subsampling", kind == "jpg" && photograph.image.channels() == 3 ? o.subsampling : "none"}};
        Outputs::Write(o.truth, truth.dump(2) + "\n");
    }
    outputs.Keep();
    return 0;
}

}  // namespace velmaro::photo

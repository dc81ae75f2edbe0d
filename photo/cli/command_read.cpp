// The read verb: a photograph in, the exposure out, as a report or JSON, and the photo
// with the findings drawn on it. Bad input ends with status 2 and one line on standard
// error naming the file and the reason (with --json, also {"error": ...} on output).
#include <fstream>
#include <iostream>

#include "photo/cli/annotate.h"
#include "photo/cli/arguments.h"
#include "photo/cli/command.h"
#include "photo/cli/report.h"
#include "photo/cli/speed.h"
#include "photo/model/codec.h"
#include "photo/read/image.h"
#include "photo/read/reading.h"

namespace velmaro::photo {

namespace {

int Refuse(const ReadCommandOptions& o, const std::string& why) {
    std::cerr << "velmaro-photo: " << o.photo << ": " << why << "\n";
    if (o.json) std::cout << nlohmann::ordered_json{{"error", o.photo + ": " + why}}.dump() << "\n";
    return 2;
}

}  // namespace

void AddReadCommand(CLI::App& app, ReadCommandOptions& o) {
    CLI::App* read = app.add_subcommand("read", "Reads a photograph of the running pattern: how long the exposure was");
    read->add_option("PHOTO", o.photo, "The photograph, JPEG or PNG")->required();
    read->add_option("PHOTO2", o.second,
                     "A second photograph of the same speed, taken with the camera upside down: read together, the two "
                     "give a slit's exposure and speed where it travels along the scan");
    AddReadingOptions(*read, o);
    read->add_option("--marked", o.marked,
                     "The speed set on the camera (1/250, 2s): where the photo leaves the count of refreshes open, "
                     "the count nearest to it is taken");
    read->add_flag("--json", o.json, "One JSON object on standard output");
    read->add_option("--annotate", o.annotate, "Writes the photo with what was found drawn on it (PNG or JPEG)");
}

void AddReadingOptions(CLI::App& command, ReadCommandOptions& o) {
    command.add_option("--mode", o.mode, "Screen mode WIDTHxHEIGHT")->capture_default_str();
    command.add_option("--refresh", o.refresh, "Refresh rate, Hz; without it the exposure is in line periods");
    auto* vtotal = command.add_option("--vtotal", o.vtotal, "Lines per refresh, vertical blanking included");
    command.add_option("--hfreq", o.hfreq, "Line rate, kHz, as the monitor's menu shows it")->excludes(vtotal);
    command.add_option("--display", o.display, "auto, crt or lcd")->capture_default_str()->check(CLI::IsMember({"auto", "crt", "lcd"}));
    command.add_option("--shutter", o.shutter, "auto, leaf or slit: auto reads a slanted band as a slit across the lines")
        ->capture_default_str()
        ->check(CLI::IsMember({"auto", "leaf", "slit"}));
    command.add_option("--travel", o.travel, "short or long: the frame's side that a slit travels along")
        ->check(CLI::IsMember({"short", "long"}));
    command.add_option("--frame-mm", o.frameMm, "The frame WIDTHxHEIGHT in mm (36x24): the curtains' speeds in mm/ms");
    command.add_option("--negative", o.negative, "auto, yes or no: a negative is read inverted")
        ->capture_default_str()
        ->check(CLI::IsMember({"auto", "yes", "no"}));
}

ReadOptions ReadOptionsOf(const ReadCommandOptions& o) {
    ReadOptions options;
    if (o.display != "auto") options.display = o.display == "lcd" ? DisplayKind::kLcd : DisplayKind::kCrt;
    options.refreshHz = o.refresh;
    options.vtotal = o.vtotal;
    options.hfreqKhz = o.hfreq;
    std::tie(options.width, options.height) = ParseSize(o.mode, "the mode");
    if (options.refreshHz) ResolveTiming(options.width, options.height, *options.refreshHz, options.vtotal, options.hfreqKhz);
    if (!o.marked.empty()) options.markedSeconds = ParseSpeed(o.marked, "the marked speed");
    if (o.shutter != "auto") options.shutter = o.shutter == "leaf" ? ShutterKind::kLeaf : ShutterKind::kSlit;
    if (!o.travel.empty()) options.travelAlongLongSide = o.travel == "long";
    if (o.negative != "auto") options.negative = o.negative == "yes";
    if (!o.frameMm.empty()) {
        const auto at = o.frameMm.find_first_of("xX");
        if (at == std::string::npos) throw std::invalid_argument("the frame is WIDTHxHEIGHT in mm, not \"" + o.frameMm + "\"");
        const double w = ParseNumber(o.frameMm.substr(0, at), "the frame"), h = ParseNumber(o.frameMm.substr(at + 1), "the frame");
        if (!(w > 0 && h > 0 && w < 1000 && h < 1000)) throw std::invalid_argument("the frame's sides are above 0 and below 1000 mm");
        options.frameMm = cv::Size2d(w, h);
    }
    return options;
}

int RunRead(const ReadCommandOptions& o) {
    try {
        const ReadOptions options = ReadOptionsOf(o);
        if (!o.annotate.empty() && ImageKind(o.annotate).empty())
            return Refuse(o, "the annotated picture's name must end in .png, .jpg or .jpeg: " + o.annotate);
        const Photo photo = LoadPhoto(o.photo);
        std::optional<Photo> second;
        if (!o.second.empty()) {
            try {
                second = LoadPhoto(o.second);
            } catch (const ReadError& error) {
                throw ReadError(o.second + ": " + error.what());
            }
        }
        const Reading reading = second ? ReadPair(photo, *second, options) : ReadPhoto(photo, options);
        if (!o.annotate.empty()) {
            const auto bytes = EncodeImage(Annotate(DecodeImage(ReadFileBytes(o.photo)), reading.photos.empty() ? reading : reading.photos.front()), ImageKind(o.annotate), 90);
            std::ofstream out(o.annotate, std::ios::binary);
            out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
            if (!out.flush()) return Refuse(o, "cannot write " + o.annotate);
        }
        if (o.json) std::cout << ReadingJson(reading).dump(2) << "\n";
        else std::cout << HumanReport(reading);
        return 0;
    } catch (const ReadError& error) {
        return Refuse(o, error.what());
    } catch (const std::invalid_argument& error) {
        return Refuse(o, error.what());
    } catch (const cv::Exception& error) {
        return Refuse(o, "cannot be read: " + std::string(error.err));
    }
}

}  // namespace velmaro::photo

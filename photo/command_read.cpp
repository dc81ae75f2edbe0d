// The read verb: a photograph in, the exposure out, as a report or JSON, and the photo
// with the findings drawn on it. Bad input ends with status 2 and one line on standard
// error naming the file and the reason (with --json, also {"error": ...} on output).
#include <fstream>
#include <iostream>


#include "photo/annotate.h"
#include "photo/camera.h"
#include "photo/codec.h"
#include "photo/command.h"
#include "photo/image.h"
#include "photo/pictures.h"
#include "photo/reading.h"
#include "photo/report.h"

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
    read->add_option("PHOTO", o.photo, "The photograph (JPEG, PNG, ...)")->required();
    read->add_option("--mode", o.mode, "Screen mode WIDTHxHEIGHT")->capture_default_str();
    read->add_option("--refresh", o.refresh, "Refresh rate, Hz; without it the exposure is in line periods");
    auto* vtotal = read->add_option("--vtotal", o.vtotal, "Lines per refresh, vertical blanking included");
    read->add_option("--hfreq", o.hfreq, "Line rate, kHz, as the monitor's menu shows it")->excludes(vtotal);
    read->add_option("--display", o.display, "auto, crt or lcd")->capture_default_str()->check(CLI::IsMember({"auto", "crt", "lcd"}));
    read->add_flag("--json", o.json, "One JSON object on standard output");
    read->add_option("--annotate", o.annotate, "Writes the photo with what was found drawn on it (PNG or JPEG)");
}

int RunRead(const ReadCommandOptions& o) {
    ReadOptions options;
    options.display = o.display;
    options.refreshHz = o.refresh;
    options.vtotal = o.vtotal;
    options.hfreqKhz = o.hfreq;
    try {
        std::tie(options.width, options.height) = ParseSize(o.mode, "the mode");
        if (options.refreshHz) ResolveTiming(options.width, options.height, *options.refreshHz, options.vtotal, options.hfreqKhz);
        if (!o.annotate.empty() && ImageKind(o.annotate).empty())
            return Refuse(o, "the annotated picture's name must end in .png, .jpg or .jpeg: " + o.annotate);
        const Photo photo = LoadPhoto(o.photo);
        const Reading reading = ReadPhoto(photo, options);
        if (!o.annotate.empty()) {
            const auto bytes = EncodeImage(Annotate(DecodeImage(ReadFileBytes(o.photo)), reading), ImageKind(o.annotate), 90);
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

void AddPicturesCommand(CLI::App& app, PicturesOptions& o) {
    CLI::App* pictures = app.add_subcommand("pictures", "Writes the five pictures velmaro.exe shows, phase-0 to phase-4");
    pictures->add_option("--mode", o.mode, "Screen mode WIDTHxHEIGHT")->capture_default_str();
    pictures->add_option("--out-dir", o.outDir, "Folder for the pictures")->capture_default_str();
    pictures->add_option("--format", o.format, "png or pgm")->capture_default_str()->check(CLI::IsMember({"png", "pgm"}));
}

int RunPictures(const PicturesOptions& o) {
    const auto [width, height] = ParseSize(o.mode, "the mode");
    if (height > kRulerHeight) throw std::invalid_argument("the height is at most 768 lines");
    const auto pictures = ScreenPictures(BuiltInRuler(), width, height);
    for (std::size_t p = 0; p < pictures.size(); ++p) {
        const std::string path = o.outDir + "/phase-" + std::to_string(p) + "." + o.format;
        std::ofstream out(path, std::ios::binary);
        if (o.format == "pgm") {
            // Netpbm's grey format: a text header, then the bytes row by row.
            out << "P5\n" << width << " " << height << "\n255\n";
            out.write(reinterpret_cast<const char*>(pictures[p].data), static_cast<std::streamsize>(pictures[p].total()));
        } else {
            const auto bytes = EncodeImage(pictures[p], "png", 0);
            out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        }
        if (!out.flush()) throw std::runtime_error("cannot write " + path);
        std::cout << path << "\n";
    }
    return 0;
}

}  // namespace velmaro::photo

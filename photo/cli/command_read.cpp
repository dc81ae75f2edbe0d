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
    return options;
}

int RunRead(const ReadCommandOptions& o) {
    try {
        const ReadOptions options = ReadOptionsOf(o);
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

}  // namespace velmaro::photo

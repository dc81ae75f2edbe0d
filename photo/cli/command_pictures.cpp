// The pictures verb: the five pictures velmaro.exe shows on a screen of a mode, as PNG
// or as Netpbm's grey format, which tests compare with screenshots byte for byte.
#include <fstream>
#include <iostream>
#include <stdexcept>

#include "photo/cli/arguments.h"
#include "photo/cli/command.h"
#include "photo/model/codec.h"
#include "photo/model/pictures.h"

namespace velmaro::photo {

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

// velmaro-photo: reads a photograph of Velmaro's screen, or simulates one.
//   velmaro-photo read PHOTO [options]       how long the exposure was, and where
//   velmaro-photo simulate --out PHOTO ...   a photograph whose truth is known
//   velmaro-photo session PHOTO... | FOLDER  a shutter test: one row per marked speed
// Bad input ends with exit status 2 and one line on standard error.
#include <CLI/CLI.hpp>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <cstdio>
#include <exception>
#include <iostream>
#include <stdexcept>
#include <string>

#include "photo/cli/command.h"

int main(int argc, char** argv) {
    using namespace velmaro::photo;
#if defined(__GLIBC__)
    // A reading makes and drops planes of tens of megabytes, one stage after another. Left
    // to itself, the allocator maps each afresh and gives it back on release, and the kernel
    // clears its pages every time: a tenth of a 24-megapixel reading. Kept, they are reused.
    mallopt(M_MMAP_THRESHOLD, 1 << 30);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
#endif
    CLI::App app{"Reads photographs of Velmaro's test pattern, and simulates them."};
    app.require_subcommand(1);
    ReadCommandOptions read;
    AddReadCommand(app, read);
    SimulateOptions simulate;
    AddSimulateCommand(app, simulate);
    PicturesOptions pictures;
    AddPicturesCommand(app, pictures);
    SessionOptions session;
    AddSessionCommand(app, session);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        std::cout << app.help();
        return 0;
    } catch (const CLI::CallForAllHelp&) {
        std::cout << app.help("", CLI::AppFormatMode::All);
        return 0;
    } catch (const CLI::ParseError& error) {
        // Where to look next, on the same line: the commands, or the options of the one given.
        std::string help = "velmaro-photo --help lists the commands";
        for (const CLI::App* command : app.get_subcommands())
            help = "velmaro-photo " + command->get_name() + " --help lists its options";
        std::cerr << "velmaro-photo: " << error.what() << " (" << help << ")\n";
        return 2;
    }
    try {
        if (app.got_subcommand("read")) return RunRead(read);
        if (app.got_subcommand("simulate")) return RunSimulate(simulate);
        if (app.got_subcommand("pictures")) return RunPictures(pictures);
        if (app.got_subcommand("session")) return RunSession(session);
    } catch (const std::exception& error) {
        std::cerr << "velmaro-photo: " << error.what() << "\n";
        return 2;
    }
    return 2;
}

// velmaro-photo: reads a photograph of Velmaro's screen, or simulates one.
//   velmaro-photo read PHOTO [options]       how long the exposure was, and where
//   velmaro-photo simulate --out PHOTO ...   a photograph whose truth is known
//   velmaro-photo session PHOTO... | FOLDER  a shutter test: one row per marked speed
// Bad input ends with exit status 2 and one line on standard error.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <exception>
#include <iostream>
#include <stdexcept>
#include <string>

#include "photo/cli/command.h"

int main(int argc, char** argv) {
    using namespace velmaro::photo;
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

// The session verb: photographs of every marked speed in, one row per speed out, on the
// terminal, as CSV, as JSON, and as one HTML page. A photograph that gives no reading
// stays in the table with its reason; it never stops the session.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <thread>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "photo/cli/command.h"
#include "photo/cli/session.h"
#include "photo/cli/session_page.h"
#include "photo/cli/session_report.h"
#include "photo/model/codec.h"

namespace velmaro::photo {

namespace fs = std::filesystem;

namespace {

// The photographs given, a folder standing for the JPEG and PNG files in it, by name.
std::vector<std::string> PhotographsOf(const std::vector<std::string>& arguments) {
    std::vector<std::string> photos;
    for (const std::string& argument : arguments) {
        if (!fs::is_directory(argument)) {
            photos.push_back(argument);
            continue;
        }
        std::vector<std::string> found;
        for (const fs::directory_entry& entry : fs::directory_iterator(argument)) {
            const std::string name = entry.path().filename().string();
            if (name[0] != '.' && entry.is_regular_file() && !ImageKind(name).empty())
                found.push_back(entry.path().string());
        }
        if (found.empty()) throw std::invalid_argument(argument + ": no photographs (.jpg, .jpeg, .png) in the folder");
        std::sort(found.begin(), found.end());
        photos.insert(photos.end(), found.begin(), found.end());
    }
    return photos;
}

bool ErrorsOnTerminal() {
#ifdef _WIN32
    return _isatty(_fileno(stderr));
#else
    return isatty(STDERR_FILENO);
#endif
}

// "Reading photographs: 5 of 24" on standard error, rewritten in place, and wiped at the
// end; nothing where standard error is a file or a pipe.
Progress ProgressLine() {
    if (!ErrorsOnTerminal()) return {};
    return [](std::size_t done, std::size_t total) {
        std::cerr << "\rReading photographs: " << done << " of " << total << (done == total ? "\r\033[K" : "")
                  << std::flush;
    };
}

// An output is tried before the work, so that a path that cannot be written is told at once.
void CheckWritable(const std::string& path) {
    if (!path.empty() && !std::ofstream(path, std::ios::app))
        throw std::runtime_error("cannot write " + path + ": " + std::strerror(errno));
}

void WriteText(const std::string& path, const std::string& text) {
    if (path.empty()) return;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out.flush()) throw std::runtime_error("cannot write " + path + ": " + std::strerror(errno));
}

int Jobs(int asked) {
    if (asked > 0) return asked;
    return std::max(1u, std::thread::hardware_concurrency());
}

int Verdict(const std::vector<Shot>& shots, const std::vector<Row>& rows) {
    const bool allRead = std::all_of(shots.begin(), shots.end(), [](const Shot& s) { return s.error.empty(); });
    const bool allPass = std::all_of(rows.begin(), rows.end(), [](const Row& r) { return r.result == "pass"; });
    return allRead && allPass ? 0 : 1;
}

}  // namespace

void AddSessionCommand(CLI::App& app, SessionOptions& o) {
    CLI::App* session = app.add_subcommand(
        "session", "Reads a shutter test: photographs of every marked speed, one row per speed, pass or fail");
    session->add_option("PHOTO", o.photos, "The photographs, or a folder of them (JPEG and PNG)")->required();
    AddReadingOptions(*session, o.read);
    session->get_option("--refresh")->required()->description("Refresh rate, Hz: the table is in seconds");
    session
        ->add_option("--marked", o.marked,
                     "Where the marked speeds come from: exif, name (1-250_a.jpg, 1s-2.jpg), a CSV of file,marked "
                     "lines, or auto: EXIF, else the name, else marked.csv beside the photographs")
        ->capture_default_str();
    session->add_option("--tolerance-stops", o.toleranceStops, "A speed passes when its mean is within this many stops")
        ->capture_default_str()
        ->check(CLI::Range(0.0, 10.0));
    session->add_option("--csv", o.csv, "Writes the table as CSV");
    session->add_option("--html", o.html,
                        "Writes a report: the table, a chart and the annotated photographs, one page");
    session->add_flag("--json", o.json, "The table and every shot's reading as JSON on standard output");
    session->add_option("--jobs", o.jobs, "Photographs read at once (default: one per core)")
        ->check(CLI::Range(1, 1024));
}

int RunSession(const SessionOptions& o) {
    try {
        const ReadOptions options = ReadOptionsOf(o.read);
        const MarkedSource source = ParseMarkedSource(o.marked);
        const std::vector<std::string> photos = PhotographsOf(o.photos);
        const MarkedList list = MarkedListFor(source, photos);
        CheckWritable(o.csv);
        CheckWritable(o.html);
        std::vector<Shot> shots = ShotsOf(photos, source, list);
        ReadShots(shots, options, Jobs(o.jobs), !o.html.empty(), ProgressLine());
        const std::vector<Row> rows = SessionRows(shots, o.toleranceStops);
        WriteText(o.csv, SessionCsv(rows));
        WriteText(o.html, SessionPage(shots, rows, o.toleranceStops));
        if (o.json)
            std::cout << SessionJson(shots, rows, o.toleranceStops).dump(2) << "\n";
        else
            std::cout << SessionTable(shots, rows, o.toleranceStops);
        return Verdict(shots, rows);
    } catch (const std::exception& error) {
        std::cerr << "velmaro-photo: " << error.what() << "\n";
        if (o.json) std::cout << nlohmann::ordered_json{{"error", error.what()}}.dump() << "\n";
        return 2;
    }
}

}  // namespace velmaro::photo

// A shutter-test session: photographs of every marked speed, two or three shots each,
// read over the cores and gathered into one row per marked speed: marked against
// measured, the deviation in stops, the spread between shots, and pass or fail against
// a tolerance.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "photo/cli/exif.h"
#include "photo/cli/marked.h"
#include "photo/read/reading.h"

namespace velmaro::photo {

struct Shot {
    std::string file;
    Exif exif;
    std::optional<Marked> marked;
    std::optional<Reading> reading;
    std::string error;                  // why the shot gives no exposure
    std::vector<std::uint8_t> preview;  // the annotated photo, scaled down, as JPEG

    std::optional<double> Exposure() const;
    // log2(exposure / marked).
    std::optional<double> DeviationStops() const;
    // The photo left the count of refreshes open, and the marked speed chose it.
    bool CountFromMarked() const;
};

// The shots of these photographs, each with its EXIF and its marked speed from the
// first source that has it; a shot without one gets that as its error.
std::vector<Shot> ShotsOf(const std::vector<std::string>& photos, const MarkedSource& source, const MarkedList& list);

// Reads every shot that has a marked speed and no error yet, passing the marked speed
// to the reader; `jobs` at a time. A shot that cannot be read gets its error, and the
// others go on. With `previews`, each read shot gets its annotated preview.
// progress(done, total) is called after each shot, one call at a time.
using Progress = std::function<void(std::size_t done, std::size_t total)>;
void ReadShots(std::vector<Shot>& shots, const ReadOptions& options, int jobs, bool previews,
               const Progress& progress = {});

// One marked speed's row; the names are those of the table's CSV and JSON.
struct Row {
    std::string marked;  // "1/250"
    double markedSeconds = 0;
    int shots = 0, read = 0;
    std::optional<double> mean, min, max, deviationPercent, deviationStops, spreadStops;
    std::string result;                                              // "pass", "fail" or "no reading"
    std::optional<double> openingTravel, closingTravel, taperStops;  // means of the shots that measured them
    int countsFromMarked = 0;  // shots whose count of refreshes the marked speed chose
};

// Rows of the shots that have a marked speed, fastest first.
std::vector<Row> SessionRows(const std::vector<Shot>& shots, double toleranceStops);

// The cameras the shots' EXIF names ("Make Model", several joined by ", "); empty if none.
std::string SessionCamera(const std::vector<Shot>& shots);
// When they were taken, from EXIF: "2024-05-01 10:00:00", or the first and last joined
// by " to "; empty if none says.
std::string SessionDates(const std::vector<Shot>& shots);

}  // namespace velmaro::photo

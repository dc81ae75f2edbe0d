#include "photo/cli/session_report.h"

#include <algorithm>
#include <cstdio>

#include "photo/cli/report.h"
#include "photo/cli/speed.h"

namespace velmaro::photo {

namespace {

using json = nlohmann::ordered_json;

json Optional(const std::optional<double>& value) {
    return value ? json(*value) : json(nullptr);
}

template <typename... Values>
std::string Format(const char* format, Values... values) {
    char text[64];
    std::snprintf(text, sizeof text, format, values...);
    return text;
}

// Names and values of a row, in the columns' order: the one home of those names.
std::vector<std::pair<std::string, json>> RowFields(const Row& row) {
    return {{"marked", row.marked},
            {"marked_s", row.markedSeconds},
            {"shots", row.shots},
            {"read", row.read},
            {"mean_s", Optional(row.mean)},
            {"min_s", Optional(row.min)},
            {"max_s", Optional(row.max)},
            {"deviation_percent", Optional(row.deviationPercent)},
            {"deviation_stops", Optional(row.deviationStops)},
            {"spread_stops", Optional(row.spreadStops)},
            {"result", row.result},
            {"opening_travel_s", Optional(row.openingTravel)},
            {"closing_travel_s", Optional(row.closingTravel)},
            {"taper_stops", Optional(row.taperStops)}};
}

std::string CsvCell(const json& value) {
    if (value.is_null()) return "";
    if (value.is_string()) return value.get<std::string>();
    if (value.is_number_integer()) return std::to_string(value.get<long long>());
    return Format("%.6g", value.get<double>());
}

// Cells in columns: text left, numbers right, two spaces between.
std::string Aligned(const std::vector<std::vector<std::string>>& lines, const std::vector<bool>& left) {
    std::vector<std::size_t> width(left.size(), 0);
    for (const auto& cells : lines)
        for (std::size_t c = 0; c < cells.size(); ++c) width[c] = std::max(width[c], cells[c].size());
    std::string text;
    for (const auto& cells : lines) {
        std::string line;
        for (std::size_t c = 0; c < cells.size(); ++c) {
            const std::string pad(width[c] - cells[c].size(), ' ');
            line += (c ? "  " : "") + (left[c] ? cells[c] + pad : pad + cells[c]);
        }
        text += line.substr(0, line.find_last_not_of(' ') + 1) + "\n";
    }
    return text;
}

std::string Cell(const std::optional<double>& value, std::string (*format)(double)) {
    return value ? format(*value) : "-";
}
std::string Percent(double value) {
    return Signed(value, 1) + " %";
}
std::string Stops(double value) {
    return Signed(value, 2);
}
std::string Spread(double value) {
    return Fixed(value, 2);
}

std::string TableOfRows(const std::vector<Row>& rows) {
    const std::size_t columns = TableColumns(rows);
    std::vector<std::vector<std::string>> lines = {TableHeadings()};
    for (const Row& r : rows) lines.push_back(TableCells(r));
    for (auto& cells : lines) cells.resize(columns);
    std::vector<bool> left(columns, false);
    left[0] = left[kResultColumn] = true;
    return Aligned(lines, left);
}

std::string ShotName(const Shot& shot) {
    if (!shot.marked) return shot.file;
    return shot.file + " (" + SpeedLabel(shot.marked->seconds) + " from " + Description(shot.marked->from) + ")";
}

}  // namespace

std::vector<std::string> RowNames() {
    std::vector<std::string> names;
    for (const auto& field : RowFields(Row{})) names.push_back(field.first);
    return names;
}

std::string Duration(double seconds) {
    return seconds < 1 ? Format(seconds < 0.01 ? "%.3f ms" : "%.2f ms", 1000 * seconds) : Format("%.2f s", seconds);
}

std::string Fixed(double value, int decimals) {
    return Format("%.*f", decimals, value);
}
std::string Signed(double value, int decimals) {
    return Format("%+.*f", decimals, value);
}

std::vector<std::string> TableHeadings() {
    return {"Marked", "Shots",  "Read",   "Mean",    "Min",     "Max",  "Deviation",
            "Stops",  "Spread", "Result", "Opening", "Closing", "Taper"};
}

std::size_t TableColumns(const std::vector<Row>& rows) {
    const bool curtains = std::any_of(rows.begin(), rows.end(),
                                      [](const Row& r) { return r.openingTravel || r.closingTravel || r.taperStops; });
    return curtains ? TableHeadings().size() : kFirstCurtainColumn;
}

std::vector<std::string> TableCells(const Row& r) {
    return {r.marked + (r.countsFromMarked ? " *" : ""),
            std::to_string(r.shots),
            std::to_string(r.read),
            Cell(r.mean, Duration),
            Cell(r.min, Duration),
            Cell(r.max, Duration),
            Cell(r.deviationPercent, Percent),
            Cell(r.deviationStops, Stops),
            Cell(r.spreadStops, Spread),
            r.result,
            Cell(r.openingTravel, Duration),
            Cell(r.closingTravel, Duration),
            Cell(r.taperStops, Stops)};
}

std::string SessionFacts(const std::vector<Shot>& shots, double toleranceStops) {
    const std::string camera = SessionCamera(shots), dates = SessionDates(shots);
    return "Camera: " + (camera.empty() ? "not in EXIF" : camera) + (dates.empty() ? "" : "; taken " + dates) +
           "; tolerance +-" + Fixed(toleranceStops, 2) + " stops";
}

std::string SessionTable(const std::vector<Shot>& shots, const std::vector<Row>& rows, double toleranceStops) {
    std::string text = SessionFacts(shots, toleranceStops) + "\n\n" + TableOfRows(rows);
    if (std::any_of(rows.begin(), rows.end(), [](const Row& r) { return r.countsFromMarked > 0; }))
        text += std::string("* ") + kCountFromMarked + "\n";
    bool first = true;
    for (const Shot& shot : shots) {
        if (shot.error.empty()) continue;
        text += std::string(first ? "\nNo reading:\n" : "") + "  " + ShotName(shot) + ": " + shot.error + "\n";
        first = false;
    }
    return text;
}

std::string SessionCsv(const std::vector<Row>& rows) {
    std::string text;
    for (const std::string& name : RowNames()) text += (text.empty() ? "" : ",") + name;
    text += "\n";
    for (const Row& row : rows) {
        std::string line;
        for (const auto& field : RowFields(row)) line += (line.empty() ? "" : ",") + CsvCell(field.second);
        text += line + "\n";
    }
    return text;
}

json SessionJson(const std::vector<Shot>& shots, const std::vector<Row>& rows, double toleranceStops) {
    const std::string camera = SessionCamera(shots), dates = SessionDates(shots);
    json j;
    j["camera"] = camera.empty() ? json(nullptr) : json(camera);
    j["taken"] = dates.empty() ? json(nullptr) : json(dates);
    j["tolerance_stops"] = toleranceStops;
    j["rows"] = json::array();
    for (const Row& row : rows) {
        json fields;
        for (auto& [name, value] : RowFields(row)) fields[name] = value;
        j["rows"].push_back(fields);
    }
    j["shots"] = json::array();
    for (const Shot& shot : shots) {
        j["shots"].push_back({{"file", shot.file},
                              {"marked", shot.marked ? json(SpeedLabel(shot.marked->seconds)) : json(nullptr)},
                              {"marked_s", shot.marked ? json(shot.marked->seconds) : json(nullptr)},
                              {"marked_from", shot.marked ? json(Name(shot.marked->from)) : json(nullptr)},
                              {"exposure_s", Optional(shot.Exposure())},
                              {"deviation_stops", Optional(shot.DeviationStops())},
                              {"count_from_marked", shot.CountFromMarked()},
                              {"error", shot.error.empty() ? json(nullptr) : json(shot.error)},
                              {"reading", shot.reading ? ReadingJson(*shot.reading) : json(nullptr)}});
    }
    return j;
}

}  // namespace velmaro::photo

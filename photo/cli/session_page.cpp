#include "photo/cli/session_page.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "photo/cli/session_report.h"
#include "photo/cli/speed.h"

namespace velmaro::photo {

// Chart.js, Debian's libjs-chart.js, embedded when the program is built.
extern const std::uint8_t kChartJs[];
extern const std::size_t kChartJsSize;

namespace {

using json = nlohmann::ordered_json;

std::string Escaped(const std::string& text) {
    std::string html;
    for (char c : text) {
        switch (c) {
            case '&':
                html += "&amp;";
                break;
            case '<':
                html += "&lt;";
                break;
            case '>':
                html += "&gt;";
                break;
            case '"':
                html += "&quot;";
                break;
            case '\'':
                html += "&#39;";
                break;
            default:
                html += c;
        }
    }
    return html;
}

// JSON that a <script> element holds safely: no "</" to end it early.
std::string ScriptJson(const json& value) {
    std::string text = value.dump();
    for (std::size_t at = 0; (at = text.find("</", at)) != std::string::npos; at += 3) text.replace(at, 2, "<\\/");
    return text;
}

const char kStyle[] = R"(
body { font-family: "Liberation Sans", Arial, sans-serif; margin: 24px 32px; color: #222; }
h1 { font-size: 24px; margin-bottom: 4px; }
h2 { font-size: 18px; margin-top: 28px; }
.facts { color: #444; margin-top: 0; }
table { border-collapse: collapse; font-size: 14px; }
th, td { border: 1px solid #bbb; padding: 4px 10px; text-align: right; }
th { background: #dbe4f0; }
td.text { text-align: left; }
td.pass { background: #cdebd3; }
td.fail { background: #f4c7cb; }
td.none { background: #e4e4e4; }
.notes { font-size: 13px; color: #444; }
.chart-box { position: relative; width: 900px; height: 420px; }
.photos { display: flex; flex-wrap: wrap; gap: 16px; }
figure { margin: 0; width: 430px; font-size: 13px; }
figure img { width: 100%; border: 1px solid #bbb; }
)";

// The chart: every shot's deviation at its marked speed, the means, and the tolerance
// band as two lines filled between, on a logarithmic axis of the marked speeds.
const char kChartScript[] = R"(
const s = JSON.parse(document.getElementById('session').textContent);
const inside = s.shots.filter(p => Math.abs(p.y) <= s.tolerance), outside = s.shots.filter(p => Math.abs(p.y) > s.tolerance);
const speeds = s.speeds.map(m => m.x);
const left = Math.min(...speeds) / 1.6, right = Math.max(...speeds) * 1.6;
const reach = Math.max(0.5, s.tolerance * 1.5, ...s.shots.map(p => Math.abs(p.y) * 1.2));
const label = x => (s.speeds.find(m => Math.abs(m.x / x - 1) < 1e-6) || {label: ''}).label;
const band = y => ({type: 'line', data: [{x: left, y: y}, {x: right, y: y}], pointRadius: 0, borderWidth: 1,
                    borderColor: 'rgba(44, 160, 44, 0.6)', backgroundColor: 'rgba(44, 160, 44, 0.2)'});
new Chart(document.getElementById('chart'), {
  type: 'scatter',
  data: {datasets: [
    {label: 'Shot within the tolerance', data: inside, backgroundColor: 'rgb(31, 119, 180)', pointRadius: 6},
    {label: 'Shot beyond the tolerance', data: outside, backgroundColor: 'rgb(214, 39, 40)', pointRadius: 6},
    {label: 'Mean of the speed', data: s.speeds.filter(m => m.y !== null), pointStyle: 'line', pointRadius: 14,
     borderWidth: 3, borderColor: 'rgb(20, 20, 20)'},
    Object.assign(band(s.tolerance), {label: 'Tolerance', fill: '+1'}),
    Object.assign(band(-s.tolerance), {label: 'Tolerance (lower)'})]},
  options: {
    animation: false, responsive: true, maintainAspectRatio: false,
    plugins: {
      legend: {position: 'bottom', labels: {filter: item => item.text !== 'Tolerance (lower)'}},
      tooltip: {callbacks: {label: c => (c.raw.file || 'mean') + ': ' + c.raw.y.toFixed(2) + ' stops'}}},
    scales: {
      x: {type: 'logarithmic', min: left, max: right, title: {display: true, text: 'Marked speed, s'},
          afterBuildTicks: axis => { axis.ticks = speeds.map(v => ({value: v})); },
          ticks: {callback: v => label(v)}},
      y: {min: -reach, max: reach, title: {display: true, text: 'Deviation, stops'}}}}
});
)";

std::string Table(const std::vector<Row>& rows) {
    const std::size_t columns = TableColumns(rows);
    std::string html = "<table>\n<tr>";
    for (std::size_t c = 0; c < columns; ++c) html += "<th>" + TableHeadings()[c] + "</th>";
    html += "</tr>\n";
    for (const Row& r : rows) {
        const std::vector<std::string> cells = TableCells(r);
        html += "<tr>";
        for (std::size_t c = 0; c < columns; ++c) {
            std::string kind = c == 0                     ? "text"
                               : c != kResultColumn       ? ""
                               : r.result == "no reading" ? "text none"
                                                          : "text " + r.result;
            html += (kind.empty() ? "<td>" : "<td class=\"" + kind + "\">") + Escaped(cells[c]) + "</td>";
        }
        html += "</tr>\n";
    }
    return html + "</table>\n";
}

std::string Notes(const std::vector<Shot>& shots, const std::vector<Row>& rows) {
    std::string html;
    if (std::any_of(rows.begin(), rows.end(), [](const Row& r) { return r.countsFromMarked > 0; }))
        html += std::string("<p class=\"notes\">* ") + kCountFromMarked + "</p>\n";
    for (const Shot& shot : shots)
        if (!shot.error.empty())
            html += "<p class=\"notes\">No reading: " + Escaped(shot.file + ": " + shot.error) + "</p>\n";
    return html;
}

json ChartData(const std::vector<Shot>& shots, const std::vector<Row>& rows, double toleranceStops) {
    json data{{"tolerance", toleranceStops}, {"speeds", json::array()}, {"shots", json::array()}};
    for (const Row& r : rows)
        data["speeds"].push_back({{"x", r.markedSeconds},
                                  {"y", r.deviationStops ? json(*r.deviationStops) : json(nullptr)},
                                  {"label", r.marked}});
    for (const Shot& shot : shots)
        if (auto stops = shot.DeviationStops())
            data["shots"].push_back({{"x", shot.marked->seconds}, {"y", *stops}, {"file", shot.file}});
    return data;
}

std::string Figure(const Shot& shot) {
    std::string caption = shot.file;
    if (shot.marked) caption += ": marked " + SpeedLabel(shot.marked->seconds);
    if (auto exposure = shot.Exposure())
        caption += ", measured " + Duration(*exposure) + " (" + Signed(*shot.DeviationStops(), 2) + " stops)";
    if (!shot.error.empty()) caption += ": " + shot.error;
    const std::string image =
        shot.preview.empty() ? "" : "<img alt=\"\" src=\"data:image/jpeg;base64," + Base64(shot.preview) + "\">";
    return "<figure>" + image + "<figcaption>" + Escaped(caption) + "</figcaption></figure>\n";
}

// The photographs in the table's order, those without a marked speed last.
std::vector<const Shot*> FastestFirst(const std::vector<Shot>& shots) {
    std::vector<const Shot*> order;
    for (const Shot& shot : shots) order.push_back(&shot);
    std::stable_sort(order.begin(), order.end(), [](const Shot* a, const Shot* b) {
        return (a->marked ? a->marked->seconds : INFINITY) < (b->marked ? b->marked->seconds : INFINITY);
    });
    return order;
}

// The chart's data, Chart.js and the chart, in that order.
std::string Chart(const std::vector<Shot>& shots, const std::vector<Row>& rows, double toleranceStops) {
    return "<script type=\"application/json\" id=\"session\">" + ScriptJson(ChartData(shots, rows, toleranceStops)) +
           "</script>\n<script>\n" + std::string(reinterpret_cast<const char*>(kChartJs), kChartJsSize) +
           "\n</script>\n<script>" + kChartScript + "</script>\n";
}

}  // namespace

std::string Base64(const std::vector<std::uint8_t>& bytes) {
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t left = bytes.size() - i;
        const std::uint32_t group = bytes[i] << 16 | (left > 1 ? bytes[i + 1] << 8 : 0) | (left > 2 ? bytes[i + 2] : 0);
        text += digits[group >> 18 & 63];
        text += digits[group >> 12 & 63];
        text += left > 1 ? digits[group >> 6 & 63] : '=';
        text += left > 2 ? digits[group & 63] : '=';
    }
    return text;
}

std::string SessionPage(const std::vector<Shot>& shots, const std::vector<Row>& rows, double toleranceStops) {
    const std::string camera = SessionCamera(shots),
                      title = Escaped("Shutter test" + (camera.empty() ? "" : ": " + camera));
    std::string html = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>" + title +
                       "</title>\n<style>" + kStyle + "</style>\n</head>\n<body>\n<h1>" + title + "</h1>\n";
    html += "<p class=\"facts\">" + Escaped(SessionFacts(shots, toleranceStops)) + "</p>\n";
    html += Table(rows) + Notes(shots, rows);
    if (!rows.empty())
        html += "<h2>Deviation of every shot</h2>\n<div class=\"chart-box\"><canvas id=\"chart\"></canvas></div>\n";
    html += "<h2>Photographs</h2>\n<div class=\"photos\">\n";
    for (const Shot* shot : FastestFirst(shots)) html += Figure(*shot);
    html += "</div>\n";
    if (!rows.empty()) html += Chart(shots, rows, toleranceStops);
    return html + "</body>\n</html>\n";
}

}  // namespace velmaro::photo

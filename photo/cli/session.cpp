#include "photo/cli/session.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <mutex>
#include <numeric>
#include <thread>

#include "photo/cli/annotate.h"
#include "photo/cli/speed.h"
#include "photo/model/codec.h"

namespace velmaro::photo {

namespace {

constexpr int kPreviewWidth = 1000;

std::vector<std::uint8_t> Preview(const std::string& file, const Reading& reading) {
    cv::Mat image = Annotate(DecodeImage(ReadFileBytes(file)), reading);
    if (image.cols > kPreviewWidth) {
        const double scale = static_cast<double>(kPreviewWidth) / image.cols;
        cv::resize(image, image, {}, scale, scale, cv::INTER_AREA);
    }
    return EncodeImage(image, "jpg", 80);
}

void ReadShot(Shot& shot, ReadOptions options, bool preview) {
    options.markedSeconds = shot.marked->seconds;
    try {
        shot.reading = ReadPhoto(LoadPhoto(shot.file), options);
    } catch (const cv::Exception& error) {
        shot.error = "cannot be read: " + error.err;
    } catch (const std::exception& error) {
        shot.error = error.what();
    } catch (...) {
        shot.error = "cannot be read";  // nothing may escape a worker: it would end the session
    }
    if (!shot.reading) return;
    if (!shot.Exposure())
        shot.error = shot.reading->notes.empty() ? "the photograph gives no exposure" : shot.reading->notes.front();
    // The preview is for looking at: a failure to draw it loses no reading.
    try {
        if (preview) shot.preview = Preview(shot.file, *shot.reading);
    } catch (const std::exception&) {
        shot.preview.clear();
    }
}

std::optional<double> Mean(const std::vector<std::optional<double>>& values) {
    double sum = 0;
    int count = 0;
    for (const auto& value : values)
        if (value) sum += *value, ++count;
    return count ? std::optional<double>(sum / count) : std::nullopt;
}

Row RowOf(const std::vector<const Shot*>& shots, double toleranceStops) {
    Row row;
    row.markedSeconds = shots.front()->marked->seconds;
    row.marked = SpeedLabel(row.markedSeconds);
    row.shots = static_cast<int>(shots.size());
    std::vector<double> exposures;
    std::vector<std::optional<double>> opening, closing, taper;
    for (const Shot* shot : shots) {
        if (!shot->Exposure()) continue;
        exposures.push_back(*shot->Exposure());
        opening.push_back(shot->reading->curtains.openingTravel);
        closing.push_back(shot->reading->curtains.closingTravel);
        taper.push_back(shot->reading->exposureAcross.taperStops);
        row.countsFromMarked += shot->CountFromMarked();
    }
    row.read = static_cast<int>(exposures.size());
    row.result = "no reading";
    if (exposures.empty()) return row;
    const auto [low, high] = std::minmax_element(exposures.begin(), exposures.end());
    row.mean = std::accumulate(exposures.begin(), exposures.end(), 0.0) / exposures.size();
    row.min = *low, row.max = *high;
    row.deviationPercent = 100 * (*row.mean / row.markedSeconds - 1);
    row.deviationStops = std::log2(*row.mean / row.markedSeconds);
    row.spreadStops = std::log2(*high / *low);
    row.result = std::abs(*row.deviationStops) <= toleranceStops ? "pass" : "fail";
    row.openingTravel = Mean(opening), row.closingTravel = Mean(closing), row.taperStops = Mean(taper);
    return row;
}

}  // namespace

std::vector<Shot> ShotsOf(const std::vector<std::string>& photos, const MarkedSource& source, const MarkedList& list) {
    std::vector<Shot> shots;
    for (const std::string& photo : photos) {
        Shot shot;
        shot.file = photo;
        shot.exif = ReadExif(photo);
        shot.marked = MarkedSpeedOf(photo, shot.exif.exposureSeconds, source, list);
        if (!shot.marked) shot.error = "no marked speed: " + WhyNoMarkedSpeed(source);
        shots.push_back(std::move(shot));
    }
    return shots;
}

std::optional<double> Shot::Exposure() const {
    return reading ? reading->ExposureSeconds() : std::nullopt;
}

std::optional<double> Shot::DeviationStops() const {
    if (!Exposure() || !marked) return std::nullopt;
    return std::log2(*Exposure() / marked->seconds);
}

bool Shot::CountFromMarked() const {
    return reading && marked && reading->candidateLines.size() > 1;
}

void ReadShots(std::vector<Shot>& shots, const ReadOptions& options, int jobs, bool previews,
               const Progress& progress) {
    std::vector<Shot*> work;
    for (Shot& shot : shots)
        if (shot.marked && shot.error.empty()) work.push_back(&shot);
    std::atomic<std::size_t> next{0};
    std::mutex reporting;
    std::size_t done = 0;
    auto worker = [&] {
        for (std::size_t i; (i = next++) < work.size();) {
            ReadShot(*work[i], options, previews);
            const std::lock_guard<std::mutex> lock(reporting);
            ++done;
            if (progress) progress(done, work.size());
        }
    };
    std::vector<std::thread> helpers;
    for (std::size_t j = 1; j < std::min<std::size_t>(std::max(jobs, 1), work.size()); ++j)
        helpers.emplace_back(worker);
    worker();
    for (std::thread& helper : helpers) helper.join();
}

std::vector<Row> SessionRows(const std::vector<Shot>& shots, double toleranceStops) {
    // Grouped by the label, so that 1/250 from EXIF and 0.004 from a CSV are one speed.
    std::vector<std::vector<const Shot*>> groups;
    for (const Shot& shot : shots) {
        if (!shot.marked) continue;
        const std::string label = SpeedLabel(shot.marked->seconds);
        auto group = std::find_if(groups.begin(), groups.end(),
                                  [&](const auto& g) { return SpeedLabel(g.front()->marked->seconds) == label; });
        if (group == groups.end())
            groups.push_back({&shot});
        else
            group->push_back(&shot);
    }
    std::vector<Row> rows;
    for (const auto& group : groups) rows.push_back(RowOf(group, toleranceStops));
    std::sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) { return a.markedSeconds < b.markedSeconds; });
    return rows;
}

std::string SessionCamera(const std::vector<Shot>& shots) {
    std::vector<std::string> cameras;
    for (const Shot& shot : shots) {
        const Exif& e = shot.exif;
        // Many makers repeat their name in the model.
        std::string camera = e.model.compare(0, e.make.size(), e.make) == 0 ? e.model : e.make + " " + e.model;
        if (e.make.empty() || e.model.empty()) camera = e.make + e.model;
        if (!camera.empty() && std::find(cameras.begin(), cameras.end(), camera) == cameras.end())
            cameras.push_back(camera);
    }
    std::string text;
    for (const std::string& camera : cameras) text += (text.empty() ? "" : ", ") + camera;
    return text;
}

std::string SessionDates(const std::vector<Shot>& shots) {
    std::vector<std::string> dates;
    for (const Shot& shot : shots) {
        std::string date = shot.exif.taken;
        if (date.size() >= 10 && date[4] == ':' && date[7] == ':')
            date[4] = date[7] = '-';  // EXIF's colons, ISO's dashes
        if (!date.empty()) dates.push_back(date);
    }
    if (dates.empty()) return "";
    const auto [first, last] = std::minmax_element(dates.begin(), dates.end());
    return *first == *last ? *first : *first + " to " + *last;
}

}  // namespace velmaro::photo

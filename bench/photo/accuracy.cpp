// Accuracy of the reader on simulated photographs: photo_accuracy [--per-family N]
// [--first K] [--family KEY]... [--check | --check-honesty] [--verbose] [--keep DIR [--keep-all]]
// Each case is simulated, encoded as its file would be, decoded and read; the reading
// is held against the truth with each family's tolerance, and against the uncertainty it
// states, and a table is printed. With --check the exit status is 1 when a family misses
// its target share, its own check, or the honesty of its uncertainties; with
// --check-honesty only when a reading misses by more than its uncertainty allows (a few
// cases a family cannot show a share, but one confidently wrong reading is a fault).
#include <CLI/CLI.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "corpus.h"
#include "photo/model/codec.h"
#include "photo/read/image.h"
#include "photo/read/reading.h"
#include "photo/simulate/truth.h"

using namespace velmaro::photo;
using namespace velmaro::photo::bench;

namespace {

// Readings within their stated uncertainty at least this often, and never further out
// than this many uncertainties.
constexpr double kHonestShare = 0.95;
constexpr double kLargestErrorInUncertainties = 3;

struct Outcome {
    bool refused = false, read = false, within = false;
    double error = NAN;           // exposure, lines
    double uncertainty = NAN;     // lines, as the reading states it
    std::optional<bool> placed;   // first and last line within 3 lines (where a label is lit)
    std::optional<bool> phased;   // first and last phase exact (where a label is lit)
    std::optional<bool> special;  // the family's own check
    std::string why;
};

double Target(Family family) {
    switch (family) {
        case Family::kCrtBand:
        case Family::kCrtWrap:
            return 0.95;
        case Family::kSlitAlongScan:
            return 1.0;
        default:
            return 0.90;
    }
}

std::string SpecialName(Family family) {
    switch (family) {
        case Family::kCrtMulti:
            return "refreshes and repeats exact (and in the blanking, as above)";
        case Family::kCrtSlant:
            return "slant within max(10 %, 3 lines)";
        case Family::kCrtBlanking:
            return "error within uncertainty <= blanking + 2 %";
        case Family::kUpsideDown:
        case Family::kQuarterTurned:
        case Family::kMirrored:
        case Family::kNegative:
            return "rotation within 5 degrees, mirrored and negative exact";
        case Family::kSlitAcross:
        case Family::kRolling:
            return "each curtain's travel within 5 %, taper within 0.05 stops";
        case Family::kPair:
            return "the slit's travel within 5 %";
        case Family::kSlitAlongScan:
            return "no exposure given (shutter given as a slit)";
        default:
            return "";
    }
}

bool Near(const std::optional<double>& value, double truth, double share) {
    return value && std::abs(*value - truth) <= share * std::abs(truth);
}

bool Oriented(const Reading& r, const Truth& t) {
    if (!r.orientation) return false;
    const double apart = std::fmod(std::abs(r.orientation->rotationDeg - t.rotationDeg), 360.0);
    return std::min(apart, 360 - apart) <= 5 && r.orientation->mirrored == t.mirrored && r.negative == t.negative;
}

bool CurtainsRead(const Reading& r, const Scene& s, const Truth& t) {
    const double taper = std::log2(*t.exposureEnd / *t.exposureStart);
    return Near(r.curtains.openingTravel, s.shutter.Opening(), 0.05) &&
           Near(r.curtains.closingTravel, s.shutter.Closing(), 0.05) && r.exposureAcross.taperStops &&
           std::abs(*r.exposureAcross.taperStops - taper) <= 0.05;
}

Outcome Judge(const Case& c, const Reading& r, const Truth& t) {
    Outcome o;
    o.read = r.exposureLines.has_value();
    o.refused = !o.read;  // a reading that gives no exposure, with its note, refuses as an error does
    if (c.family == Family::kSlitAlongScan) {
        o.within = !o.read;
        o.special = o.within;
        if (o.read) o.why = "gave an exposure that one photograph of a slit along the scan cannot tell";
        return o;
    }
    if (!o.read) {
        o.why = r.notes.empty() ? "no exposure" : r.notes.front();
        return o;
    }
    const Scene& s = c.scene;
    const double line = s.timing.LinePeriod(), lines = t.exposureLines, blanking = s.timing.BlankingLines();
    o.error = *r.exposureLines - lines;
    o.uncertainty = r.uncertaintyLines.value_or(0);
    const double e = std::abs(o.error), u = o.uncertainty;
    const bool leaf = e <= std::max(0.01 * lines, 1.0);
    // Wherever the shutter opened or closed in the blanking, the reading can only say
    // that it did: its error must stay within the uncertainty it gives.
    const bool blank = t.startInBlanking || t.endInBlanking;
    if (blank) o.special = e <= u && u <= blanking + 0.02 * lines;
    switch (c.family) {
        case Family::kCrtBand:
        case Family::kCrtWrap:
        case Family::kCrtBlur:
        case Family::kCrtSlowPhosphor:
            o.within = leaf;
            break;
        case Family::kCrtBlanking:
            o.within = leaf || e <= u;
            break;
        case Family::kCrtMulti:
            o.within = e <= 0.01 * lines || (blank && e <= u);
            o.special =
                r.refreshes == t.refreshes && r.repeatedPictures == t.repeatedPictures && o.special.value_or(true);
            break;
        case Family::kCrtSlant:
            o.within = e <= 0.03 * lines;
            o.special =
                r.slantLines && std::abs(*r.slantLines - t.slantLines) <= std::max(0.1 * std::abs(t.slantLines), 3.0);
            break;
        case Family::kLcd:
            o.within = e <= std::max(0.05 * lines, 0.3e-3 / line);
            break;
        case Family::kUpsideDown:
        case Family::kQuarterTurned:
        case Family::kMirrored:
        case Family::kNegative:
            o.within = leaf;
            o.special = Oriented(r, t);
            break;
        case Family::kSlitAcross:
        case Family::kRolling:
            o.within = e <= 0.03 * lines;
            o.special = CurtainsRead(r, s, t);
            break;
        case Family::kPair:
            o.within = e <= 0.02 * lines;
            o.special = Near(r.curtains.openingTravel, s.shutter.Opening(), 0.05);
            break;
        case Family::kSlitAlongScan:
            break;
        case Family::kCrtSlow: {
            // Without the marked speed, the truth among the exposures the photograph allows.
            const bool among = std::any_of(r.candidateLines.begin(), r.candidateLines.end(),
                                           [&](double l) { return std::abs(l - lines) <= 0.01 * lines; });
            o.within = e <= 0.01 * lines || (!c.marked && among && e <= u);
            o.special.reset();
            break;
        }
    }
    if (c.family != Family::kPair && !t.labelsLit.empty() && t.firstLine && t.lastLine) {
        o.placed = r.firstLine && r.lastLine && std::abs(*r.firstLine - *t.firstLine) <= 3 &&
                   std::abs(*r.lastLine - *t.lastLine) <= 3;
        o.phased = r.firstPhase == t.firstPhase && r.lastPhase == t.lastPhase;
    }
    return o;
}

struct Tally {
    int cases = 0, read = 0, refused = 0, within = 0, placed = 0, placedOf = 0, phased = 0, phasedOf = 0, special = 0,
        specialOf = 0, honest = 0, honestOf = 0;
    double worst = 0;  // largest error in units of the stated uncertainty
    std::vector<double> errors;

    void Add(const Outcome& o) {
        ++cases;
        read += o.read, refused += o.refused, within += o.within;
        if (o.placed) ++placedOf, placed += *o.placed;
        if (o.phased) ++phasedOf, phased += *o.phased;
        if (o.special) ++specialOf, special += *o.special;
        if (!o.read || std::isnan(o.error)) return;
        const double e = std::abs(o.error);
        errors.push_back(e);
        ++honestOf;
        honest += e <= o.uncertainty;
        worst = std::max(worst, e == 0              ? 0.0
                                : o.uncertainty > 0 ? e / o.uncertainty
                                                    : std::numeric_limits<double>::infinity());
    }
    bool Honest() const {
        return honestOf == 0 || (honest >= kHonestShare * honestOf && worst <= kLargestErrorInUncertainties);
    }
    bool Met(Family family) const {
        return cases > 0 && within >= Target(family) * cases && special == specialOf && Honest();
    }
};

double Percentile(std::vector<double> v, double share) {
    if (v.empty()) return NAN;
    std::sort(v.begin(), v.end());
    return v[static_cast<std::size_t>(share * (v.size() - 1))];
}

std::string Share(int count, int of) {
    if (of == 0) return "-";
    char text[48];
    std::snprintf(text, sizeof text, "%d/%d (%.0f %%)", count, of, 100.0 * count / of);
    return text;
}

struct Shot {
    Photograph photograph;
    std::vector<std::uint8_t> bytes;
    Truth truth;
};

Shot Take(const Ruler& ruler, const Case& c, const Scene& scene) {
    Shot shot{Simulate(ruler, scene), {}, {}};
    shot.bytes = EncodeImage(shot.photograph.image, c.format, c.quality, c.halveChroma);
    shot.truth = TruthOf(scene, shot.photograph.screenToPhoto);
    return shot;
}

ReadOptions OptionsFor(const Case& c) {
    ReadOptions options;
    const Scene& s = c.scene;
    options.width = s.timing.width, options.height = s.timing.height;
    options.refreshHz = s.timing.refreshHz;
    options.markedSeconds = c.marked;
    if (c.family == Family::kPair || c.family == Family::kSlitAlongScan) {
        const cv::Size photo = s.placement.photo;
        options.shutter = ShutterKind::kSlit;
        options.travelAlongLongSide = (s.shutter.axis == SlitAxis::kX) == (photo.width >= photo.height);
    }
    return options;
}

Outcome Run(const Case& c, const std::vector<Shot>& shots) {
    Outcome o;
    const ReadOptions options = OptionsFor(c);
    try {
        if (c.family != Family::kPair) return Judge(c, ReadPhoto(DecodePhoto(shots[0].bytes), options), shots[0].truth);
        return Judge(c, ReadPair(DecodePhoto(shots[0].bytes), DecodePhoto(shots[1].bytes), options), shots[0].truth);
    } catch (const ReadError& error) {
        o.refused = true;
        o.why = error.what();
    }
    return o;
}

void Keep(const std::string& folder, const Case& c, std::uint64_t n, const std::vector<Shot>& shots) {
    const std::vector<Scene> scenes = c.second ? std::vector<Scene>{c.scene, *c.second} : std::vector<Scene>{c.scene};
    for (std::size_t i = 0; i < shots.size(); ++i) {
        const std::string name = folder + "/" + Key(c.family) + "-" + std::to_string(n) +
                                 (shots.size() == 1 ? ""
                                  : i == 0          ? "-first"
                                                    : "-second");
        std::ofstream photo(name + "." + c.format, std::ios::binary);
        photo.write(reinterpret_cast<const char*>(shots[i].bytes.data()), static_cast<std::streamsize>(shots[i].bytes.size()));
        std::ofstream truth(name + ".json");
        truth << TruthJson(shots[i].truth, scenes[i], shots[i].photograph.screenToPhoto).dump(2) << "\n";
        if (!photo.flush() || !truth.flush()) std::fprintf(stderr, "photo_accuracy: could not keep %s\n", name.c_str());
    }
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Accuracy of velmaro-photo read on simulated photographs"};
    int perFamily = 60;
    std::uint64_t first = 0;
    std::vector<std::string> only;
    bool check = false, checkHonesty = false, verbose = false, keepAll = false;
    std::string keep;
    std::string keys;
    for (Family family : AllFamilies()) keys += (keys.empty() ? "" : ", ") + Key(family);
    app.add_option("--per-family", perFamily, "Cases of each family")->capture_default_str();
    app.add_option("--first", first, "Number of the first case")->capture_default_str();
    app.add_option("--family", only, "Only these families (" + keys + ")");
    app.add_flag("--check", check, "Exit with 1 when a family misses its target");
    app.add_flag("--check-honesty", checkHonesty, "Exit with 1 when a family's readings miss by more than they state");
    app.add_flag("--verbose", verbose, "A line for every case");
    app.add_option("--keep", keep, "Folder for the photographs and truths of cases missed");
    app.add_flag("--keep-all", keepAll, "Keep every case's photographs and truths, not only the missed");
    CLI11_PARSE(app, argc, argv);
    std::vector<Family> families;
    for (const std::string& key : only) {
        const auto& all = AllFamilies();
        const auto found = std::find_if(all.begin(), all.end(), [&](Family f) { return Key(f) == key; });
        if (found == all.end()) {
            std::fprintf(stderr, "photo_accuracy: no family %s (%s)\n", key.c_str(), keys.c_str());
            return 2;
        }
        families.push_back(*found);
    }
    if (families.empty()) families = AllFamilies();
    // The photographs kept would otherwise be lost without a word where the folder is missing.
    if (!keep.empty()) {
        std::error_code error;
        std::filesystem::create_directories(keep, error);
        if (error || !std::filesystem::is_directory(keep)) {
            std::fprintf(stderr, "photo_accuracy: cannot make the folder %s: %s\n", keep.c_str(), error.message().c_str());
            return 2;
        }
    }

    const Ruler ruler = BuiltInRuler();
    std::map<Family, Tally> tallies;
    int photographs = 0;
    const auto started = std::chrono::steady_clock::now();
    for (Family family : families) {
        for (std::uint64_t n = first; n < first + static_cast<std::uint64_t>(perFamily); ++n) {
            const Case c = MakeCase(family, n);
            std::vector<Shot> shots{Take(ruler, c, c.scene)};
            if (c.second) shots.push_back(Take(ruler, c, *c.second));
            photographs += static_cast<int>(shots.size());
            const Outcome o = Run(c, shots);
            Tally& t = tallies[family];
            t.Add(o);
            const bool missed = !o.within || (o.placed && !*o.placed) || (o.phased && !*o.phased) ||
                                (o.special && !*o.special) || (o.read && !(std::abs(o.error) <= o.uncertainty));
            if (verbose || (missed && !keep.empty())) {
                std::printf("%-30s #%-4llu T %7.1f lines error %+7.2f +- %5.2f %s%s%s%s %s\n", Name(family).c_str(),
                            static_cast<unsigned long long>(n), shots[0].truth.exposureLines, o.error, o.uncertainty,
                            o.within ? "ok" : "MISS", o.placed && !*o.placed ? " place" : "",
                            o.phased && !*o.phased ? " phase" : "", o.special && !*o.special ? " special" : "",
                            o.why.c_str());
            }
            if ((missed || keepAll) && !keep.empty()) Keep(keep, c, n, shots);
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    std::printf(
        "\n| Family | Photos | Read | Refused | Within tolerance | Target | Within its uncertainty | "
        "Largest error / uncertainty | Median error (lines) | 95th percentile | Lines within 3 | Phases exact | "
        "Family check |\n|---|---|---|---|---|---|---|---|---|---|---|---|---|\n");
    bool met = true;
    for (Family family : families) {
        const Tally& t = tallies[family];
        met = met && (checkHonesty ? t.Honest() : t.Met(family));
        std::printf("| %s | %d | %d | %s | %s | %.0f %% | %s | %.2f | %.2f | %.2f | %s | %s | %s %s |\n",
                    Name(family).c_str(), t.cases, t.read, Share(t.refused, t.cases).c_str(),
                    Share(t.within, t.cases).c_str(), 100 * Target(family), Share(t.honest, t.honestOf).c_str(),
                    t.worst, Percentile(t.errors, 0.5), Percentile(t.errors, 0.95), Share(t.placed, t.placedOf).c_str(),
                    Share(t.phased, t.phasedOf).c_str(), Share(t.special, t.specialOf).c_str(),
                    SpecialName(family).c_str());
    }
    std::printf(
        "\nTargets: within tolerance as shown; within its uncertainty at least %.0f %%, and no error beyond %.0f "
        "uncertainties.\n%.0f s for %d photographs\n",
        100 * kHonestShare, kLargestErrorInUncertainties, seconds, photographs);
    return (check || checkHonesty) && !met ? 1 : 0;
}

// Accuracy of the reader on simulated photographs: photo_accuracy [--per-family N]
// [--first K] [--family NAME] [--check] [--verbose] [--keep DIR]
// Each case is simulated, encoded as its file would be, decoded and read; the reading
// is held against the truth with each family's tolerance, and a table is printed.
// With --check the exit status is 1 when a family misses its target share.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
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

struct Outcome {
    bool read = false, within = false;
    double error = NAN;            // exposure, lines
    std::optional<bool> placed;    // first and last line within 3 lines (where a label is lit)
    std::optional<bool> phased;    // first and last phase exact (where a label is lit)
    std::optional<bool> special;   // the family's own check
    std::string why;
};

double Target(Family family) { return family == Family::kLcd ? 0.90 : 0.95; }

std::string SpecialName(Family family) {
    switch (family) {
        case Family::kCrtMulti: return "refreshes and repeats exact (and in the blanking, as above)";
        case Family::kCrtSlant: return "slant within max(10 %, 3 lines)";
        case Family::kCrtBlanking: return "error within uncertainty <= blanking + 2 %";
        default: return "";
    }
}

Outcome Judge(const Case& c, const Reading& r, const Truth& t) {
    Outcome o;
    o.read = r.exposureLines.has_value();
    if (!o.read) {
        o.why = r.notes.empty() ? "no exposure" : r.notes.front();
        return o;
    }
    const Scene& s = c.scene;
    const double line = s.timing.LinePeriod(), lines = t.exposureLines, blanking = s.timing.BlankingLines();
    o.error = *r.exposureLines - lines;
    const double e = std::abs(o.error);
    // Wherever the shutter opened or closed in the blanking, the reading can only say
    // that it did: its error must stay within the uncertainty it gives.
    const double u = r.uncertaintyLines.value_or(0);
    const bool blank = t.startInBlanking || t.endInBlanking;
    if (blank) o.special = e <= u && u <= blanking + 0.02 * lines;
    switch (c.family) {
        case Family::kCrtBand:
        case Family::kCrtWrap: o.within = e <= std::max(0.01 * lines, 1.0); break;
        case Family::kCrtBlanking: o.within = e <= std::max(0.01 * lines, 1.0) || e <= u; break;
        case Family::kCrtMulti:
            o.within = e <= 0.01 * lines || (blank && e <= u);
            o.special = r.refreshes == t.refreshes && r.repeatedPictures == t.repeatedPictures && o.special.value_or(true);
            break;
        case Family::kCrtSlant:
            o.within = e <= 0.03 * lines;
            o.special = r.slantLines && std::abs(*r.slantLines - t.slantLines) <= std::max(0.1 * std::abs(t.slantLines), 3.0);
            break;
        case Family::kLcd: o.within = e <= std::max(0.05 * lines, 0.3e-3 / line); break;
    }
    if (!t.labelsLit.empty() && t.firstLine && t.lastLine) {
        o.placed = r.firstLine && r.lastLine && std::abs(*r.firstLine - *t.firstLine) <= 3 &&
                   std::abs(*r.lastLine - *t.lastLine) <= 3;
        o.phased = r.firstPhase == t.firstPhase && r.lastPhase == t.lastPhase;
    }
    return o;
}

struct Tally {
    int cases = 0, read = 0, within = 0, placed = 0, placedOf = 0, phased = 0, phasedOf = 0, special = 0, specialOf = 0;
    std::vector<double> errors;
};

double Percentile(std::vector<double> v, double share) {
    if (v.empty()) return NAN;
    std::sort(v.begin(), v.end());
    return v[static_cast<std::size_t>(share * (v.size() - 1))];
}

std::string Share(int count, int of) {
    if (of == 0) return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%d/%d", count, of);
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Accuracy of velmaro-photo read on simulated photographs"};
    int perFamily = 20;
    std::uint64_t first = 0;
    std::vector<std::string> only;
    bool check = false, verbose = false;
    std::string keep;
    app.add_option("--per-family", perFamily, "Cases of each family")->capture_default_str();
    app.add_option("--first", first, "Number of the first case")->capture_default_str();
    app.add_option("--family", only, "Only these families (crt-band, crt-wrap, crt-blanking, crt-multi, crt-slant, lcd)");
    app.add_flag("--check", check, "Exit with 1 when a family misses its target");
    app.add_flag("--verbose", verbose, "A line for every case");
    app.add_option("--keep", keep, "Folder for the photographs and truths of cases missed");
    CLI11_PARSE(app, argc, argv);
    const std::map<std::string, Family> names = {{"crt-band", Family::kCrtBand},   {"crt-wrap", Family::kCrtWrap},
                                                 {"crt-blanking", Family::kCrtBlanking}, {"crt-multi", Family::kCrtMulti},
                                                 {"crt-slant", Family::kCrtSlant}, {"lcd", Family::kLcd}};
    std::vector<Family> families;
    for (const std::string& name : only) {
        if (!names.count(name)) {
            std::fprintf(stderr, "photo_accuracy: no family %s\n", name.c_str());
            return 2;
        }
        families.push_back(names.at(name));
    }
    if (families.empty()) families = AllFamilies();

    const Ruler ruler = BuiltInRuler();
    std::map<Family, Tally> tallies;
    const auto started = std::chrono::steady_clock::now();
    for (Family family : families) {
        for (std::uint64_t n = first; n < first + static_cast<std::uint64_t>(perFamily); ++n) {
            const Case c = MakeCase(family, n);
            const Photograph photograph = Simulate(ruler, c.scene);
            const std::vector<std::uint8_t> bytes = EncodeImage(photograph.image, c.format, c.quality);
            const Truth truth = TruthOf(c.scene, photograph.screenToPhoto);
            ReadOptions options;
            options.width = c.scene.timing.width, options.height = c.scene.timing.height;
            options.refreshHz = c.scene.timing.refreshHz;
            Outcome o;
            try {
                const Photo photo = DecodePhoto(bytes);
                o = Judge(c, ReadPhoto(photo, options), truth);
            } catch (const ReadError& error) {
                o.why = error.what();
            }
            Tally& t = tallies[family];
            ++t.cases;
            t.read += o.read, t.within += o.within;
            if (o.read) t.errors.push_back(std::abs(o.error));
            if (o.placed) ++t.placedOf, t.placed += *o.placed;
            if (o.phased) ++t.phasedOf, t.phased += *o.phased;
            if (o.special) ++t.specialOf, t.special += *o.special;
            const bool missed = !o.within || (o.placed && !*o.placed) || (o.phased && !*o.phased) || (o.special && !*o.special);
            if (verbose || (missed && !keep.empty())) {
                std::printf("%-24s #%-4llu T %7.1f lines error %+7.2f %s%s%s%s %s\n", Name(family).c_str(),
                            static_cast<unsigned long long>(n), truth.exposureLines, o.error, o.within ? "ok" : "MISS",
                            o.placed && !*o.placed ? " place" : "", o.phased && !*o.phased ? " phase" : "",
                            o.special && !*o.special ? " special" : "", o.why.c_str());
            }
            if (missed && !keep.empty()) {
                const std::string stem = keep + "/case-" + std::to_string(static_cast<int>(family)) + "-" + std::to_string(n);
                std::ofstream(stem + "." + c.format, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                                             static_cast<std::streamsize>(bytes.size()));
                std::ofstream(stem + ".json") << TruthJson(truth, c.scene, photograph.screenToPhoto).dump(2) << "\n";
            }
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    std::printf("\n| Family | Photos | Read | Within tolerance | Target | Median error (lines) | 95th percentile | "
                "Lines within 3 | Phases exact | Family check |\n|---|---|---|---|---|---|---|---|---|---|\n");
    bool met = true;
    for (Family family : families) {
        const Tally& t = tallies[family];
        const double share = t.cases ? static_cast<double>(t.within) / t.cases : 0;
        const bool ok = share >= Target(family) && t.specialOf == t.special;
        met = met && ok;
        std::printf("| %s | %d | %d | %d (%.0f %%) | %.0f %% | %.2f | %.2f | %s | %s | %s %s |\n", Name(family).c_str(), t.cases,
                    t.read, t.within, 100 * share, 100 * Target(family), Percentile(t.errors, 0.5),
                    Percentile(t.errors, 0.95), Share(t.placed, t.placedOf).c_str(), Share(t.phased, t.phasedOf).c_str(),
                    Share(t.special, t.specialOf).c_str(), SpecialName(family).c_str());
    }
    std::printf("\n%.0f s for %d photographs\n", seconds, static_cast<int>(families.size()) * perFamily);
    return check && !met ? 1 : 0;
}

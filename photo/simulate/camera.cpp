#include "photo/simulate/camera.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <stdexcept>

#include "photo/model/srgb.h"

namespace velmaro::photo {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kToneSteps = 65535;
constexpr int kBandRows = 32;    // photo rows mapped at a time
constexpr int kExactEvery = 16;  // photo pixels between exact mappings; the lens bends far less in between
constexpr int kNewtonSteps = 4;

double Chroma(const Lens& lens, int channel) {
    return channel == kRed ? lens.chromaRed : channel == kBlue ? lens.chromaBlue : 0.0;
}

struct LensFrame {
    cv::Point2d centre;
    double halfDiagonal;
};

LensFrame FrameOf(cv::Size photo) {
    return {{photo.width / 2.0, photo.height / 2.0}, std::hypot(photo.width, photo.height) / 2};
}

// Where a point of the undistorted photo lands through the lens, in one channel.
cv::Point2d Bent(const Lens& lens, const LensFrame& frame, cv::Point2d ideal, int channel) {
    const cv::Point2d d = ideal - frame.centre;
    const double r2 = (d.x * d.x + d.y * d.y) / (frame.halfDiagonal * frame.halfDiagonal);
    return frame.centre + d * ((1 + lens.k1 * r2) * (1 + Chroma(lens, channel)));
}

// The undistorted point that the lens bends onto a photo point: r + k1 r^3 = r' by Newton.
cv::Point2d Unbent(const Lens& lens, const LensFrame& frame, cv::Point2d bent, int channel) {
    const cv::Point2d d = (bent - frame.centre) * (1 / (1 + Chroma(lens, channel)));
    const double target = std::sqrt(d.x * d.x + d.y * d.y) / frame.halfDiagonal;
    if (lens.k1 == 0 || target == 0) return frame.centre + d;
    double r = target;
    for (int i = 0; i < kNewtonSteps; ++i) r -= (r + lens.k1 * r * r * r - target) / (1 + 3 * lens.k1 * r * r);
    return frame.centre + d * (r / target);
}

// One channel's source positions in the screen image for photo rows [top, top + rows):
// exactly every few pixels, linearly between.
void FillMap(cv::Mat2f& map, int top, int channel, const Projection& projection, const cv::Matx33d& photoToScreen,
             const ScreenImage& screen) {
    const LensFrame frame = FrameOf(projection.photo);
    const int width = map.cols;
    auto source = [&](int x, int y) {
        const cv::Point2d ideal = Unbent(projection.lens, frame, {x + 0.5, y + 0.5}, channel);
        const cv::Point2d s = Apply(photoToScreen, ideal);
        return cv::Point2d(screen.origin.x + s.x - 0.5, screen.origin.y + s.y * screen.rowsPerLine - 0.5);
    };
    for (int row = 0; row < map.rows; ++row) {
        cv::Vec2f* out = map.ptr<cv::Vec2f>(row);
        cv::Point2d left = source(0, top + row);
        for (int x0 = 0; x0 < width - 1; x0 += kExactEvery) {
            const int x1 = std::min(x0 + kExactEvery, width - 1);
            const cv::Point2d right = source(x1, top + row);
            const cv::Point2d step = (right - left) * (1.0 / (x1 - x0));
            for (int x = x0; x < x1; ++x) {
                const cv::Point2d at = left + step * static_cast<double>(x - x0);
                out[x] = cv::Vec2f(static_cast<float>(at.x), static_cast<float>(at.y));
            }
            left = right;
        }
        out[width - 1] = cv::Vec2f(static_cast<float>(left.x), static_cast<float>(left.y));
    }
}

// A negative's transmission, scanned, for a channel's exposure (1: full scale): the
// density grows with the logarithm of the exposure through a toe and a shoulder, and the
// light that passes falls as ten to the minus density.
double Transmission(double exposure, double base, double contrast) {
    constexpr double kDensityRange = 2.0, kMiddle = 0.15, kSlope = 0.565;
    const double e = std::pow(std::max(exposure, 0.0) / kMiddle, kSlope * contrast);
    return base * std::pow(10.0, -kDensityRange * e / (1 + e));
}

// A colour negative's orange base passes red best and blue least; its layers differ a
// little in contrast.
constexpr double kBase[kChannels] = {0.92, 0.62, 0.38};
constexpr double kContrast[kChannels] = {0.92, 1.0, 1.08};
constexpr double kScannerLevel = 0.95;  // the clear base's level in the scan
constexpr double kFilmLatitude = 8;     // exposures beyond this many times full scale look alike on film

// What the file keeps of a channel's recorded value (1: full scale): its sRGB code, the
// value clipped at full scale; or, on film, the code of the negative's scanned
// transmission.
struct Tone {
    float top, steps;  // values from 0 to top, tabulated in `steps` steps
    std::vector<std::uint8_t> codes;
    std::uint8_t At(float value) const {
        return codes[static_cast<int>(std::min(std::max(value, 0.0f), top) * steps + 0.5f)];
    }
};

// Normal deviates, fast: the normal distribution's quantiles at 65536 evenly spaced
// probabilities, four picked by each 64-bit number of a SplitMix64 generator.
class Normal {
public:
    explicit Normal(std::uint64_t seed) : state_(seed) {}
    float operator()() {
        if (left_ == 0) bits_ = Next(), left_ = 4;
        const auto i = static_cast<std::size_t>(bits_ & 0xFFFF);
        bits_ >>= 16, --left_;
        return Quantiles()[i];
    }

private:
    static const std::vector<float>& Quantiles() {
        static const std::vector<float> table = [] {
            std::vector<float> t(65536);
            for (std::size_t i = 0; i < t.size() / 2; ++i) {
                const double p = (i + 0.5) / t.size();
                // A logistic guess, then Newton on the logarithm of the normal's lower
                // tail, which stays well conditioned far out.
                double x = std::log(p / (1 - p)) / 1.702;
                for (int step = 0; step < 8; ++step) {
                    const double below = 0.5 * std::erfc(-x / std::sqrt(2.0)),
                                 density = std::exp(-x * x / 2) / std::sqrt(2 * kPi);
                    x -= (std::log(below) - std::log(p)) * below / density;
                }
                t[i] = static_cast<float>(x);
                t[t.size() - 1 - i] = static_cast<float>(-x);
            }
            return t;
        }();
        return table;
    }
    std::uint64_t Next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    std::uint64_t state_, bits_ = 0;
    int left_ = 0;
};

Tone ToneOf(Film film, int channel) {
    const double top = film == Film::kNone ? 1 : kFilmLatitude;
    Tone tone{static_cast<float>(top), static_cast<float>(kToneSteps / top), std::vector<std::uint8_t>(kToneSteps + 1)};
    for (int i = 0; i <= kToneSteps; ++i) {
        const double value = top * i / kToneSteps;
        const double linear = film == Film::kNone ? value
                              : film == Film::kGrey
                                  ? kScannerLevel * Transmission(value, 1, 1)
                                  : kScannerLevel * Transmission(value, kBase[channel], kContrast[channel]);
        tone.codes[i] = static_cast<std::uint8_t>(std::lround(255 * LinearToSrgb(std::clamp(linear, 0.0, 1.0))));
    }
    return tone;
}

}  // namespace

cv::Matx33d ScreenToPhoto(const Placement& placement, int screenWidth, int screenHeight) {
    const double halfWidth = screenWidth * placement.scale * (1 + placement.aspect) / 2;
    const double halfHeight = screenHeight * placement.scale / 2;
    const double left = halfHeight * (1 - placement.keystoneX / 2), right = halfHeight * (1 + placement.keystoneX / 2);
    const double top = halfWidth * (1 - placement.keystoneY / 2), bottom = halfWidth * (1 + placement.keystoneY / 2);
    cv::Point2d corners[4] = {{-top, -left}, {top, -right}, {bottom, right}, {-bottom, left}};
    if (placement.mirrored)
        for (cv::Point2d& corner : corners) corner.x = -corner.x;
    const double angle = placement.rotationDeg * kPi / 180, c = std::cos(angle), s = std::sin(angle);
    const cv::Point2d centre(placement.photo.width / 2.0 + placement.offset.x,
                             placement.photo.height / 2.0 + placement.offset.y);
    cv::Point2f photo[4], screen[4] = {{0, 0},
                                       {static_cast<float>(screenWidth), 0},
                                       {static_cast<float>(screenWidth), static_cast<float>(screenHeight)},
                                       {0, static_cast<float>(screenHeight)}};
    for (int i = 0; i < 4; ++i)  // y points down: counter-clockwise on the picture
        photo[i] = cv::Point2f(static_cast<float>(centre.x + c * corners[i].x + s * corners[i].y),
                               static_cast<float>(centre.y - s * corners[i].x + c * corners[i].y));
    return cv::Matx33d(cv::getPerspectiveTransform(screen, photo));
}

cv::Point2d Projection::operator()(cv::Point2d screen, int channel) const {
    return Bent(lens, FrameOf(photo), Apply(screenToPhoto, screen), channel);
}

cv::Point2d Projection::Back(cv::Point2d photoPoint, int channel) const {
    return Apply(Inverse(screenToPhoto), Unbent(lens, FrameOf(photo), photoPoint, channel));
}

Planes FormImage(const ScreenImage& screen, const Projection& projection, const std::array<double, kChannels>& blur,
                 double vignetting) {
    const cv::Size size = projection.photo;
    const cv::Matx33d photoToScreen = Inverse(projection.screenToPhoto);
    const bool oneMap = projection.lens.chromaRed == 0 && projection.lens.chromaBlue == 0;
    Planes image;
    for (cv::Mat1f& plane : image) plane.create(size);
    const int bands = (size.height + kBandRows - 1) / kBandRows;
    cv::parallel_for_(cv::Range(0, bands), [&](const cv::Range& range) {
        cv::Mat2f map(kBandRows, size.width);
        for (int band = range.start; band < range.end; ++band) {
            const int top = band * kBandRows, rows = std::min(kBandRows, size.height - top);
            cv::Mat2f rowsMap = map.rowRange(0, rows);
            for (int c = 0; c < kChannels; ++c) {
                if (c == 0 || !oneMap) FillMap(rowsMap, top, oneMap ? kGreen : c, projection, photoToScreen, screen);
                cv::Mat1f out = image[c].rowRange(top, top + rows);
                cv::remap(screen.planes[c], out, rowsMap, cv::noArray(), cv::INTER_LINEAR, cv::BORDER_CONSTANT,
                          cv::Scalar(screen.wall));
            }
        }
    });
    for (int c = 0; c < kChannels; ++c)
        if (blur[c] > 0) cv::GaussianBlur(image[c], image[c], cv::Size(0, 0), blur[c]);
    if (vignetting > 0) {
        const double cx = size.width / 2.0, cy = size.height / 2.0, corner = cx * cx + cy * cy;
        cv::parallel_for_(cv::Range(0, size.height), [&](const cv::Range& rows) {
            for (int y = rows.start; y < rows.end; ++y) {
                float* row[kChannels] = {image[0].ptr<float>(y), image[1].ptr<float>(y), image[2].ptr<float>(y)};
                const double dy2 = (y + 0.5 - cy) * (y + 0.5 - cy);
                for (int x = 0; x < size.width; ++x) {
                    const double dx = x + 0.5 - cx;
                    const auto kept = static_cast<float>(1 - vignetting * (dx * dx + dy2) / corner);
                    for (float* r : row) r[x] *= kept;
                }
            }
        });
    }
    return image;
}

cv::Mat Expose(const Planes& light, const Sensor& sensor) {
    const cv::Size size = light[0].size();
    const bool grey = sensor.grey || sensor.film == Film::kGrey;
    cv::Mat out(size, grey ? CV_8UC1 : CV_8UC3);
    const std::array<Tone, kChannels> tones = {ToneOf(sensor.film, kRed), ToneOf(sensor.film, kGreen),
                                               ToneOf(sensor.film, kBlue)};
    const auto fullWell = static_cast<float>(sensor.fullWell),
               read2 = static_cast<float>(sensor.readNoise * sensor.readNoise);
    const float gains[kChannels] = {static_cast<float>(sensor.gain * sensor.balanceRed),
                                    static_cast<float>(sensor.gain),
                                    static_cast<float>(sensor.gain * sensor.balanceBlue)};
    cv::parallel_for_(cv::Range(0, size.height), [&](const cv::Range& rows) {
        std::vector<float> mixed(grey ? size.width : 0);
        for (int y = rows.start; y < rows.end; ++y) {
            // One generator per row, so that threads do not change the picture.
            Normal normal(sensor.seed * 0x9E3779B97F4A7C15ull + static_cast<std::uint64_t>(y) + 1);
            std::uint8_t* o = out.ptr<std::uint8_t>(y);
            auto record = [&](const float* in, float gain, const Tone& tone, int stride) {
                for (int x = 0; x < size.width; ++x) {
                    const float value = gain * in[x];
                    const float noise = std::sqrt(std::max(0.0f, value) * fullWell + read2) / fullWell;
                    o[stride * x] = tone.At(value + noise * normal());
                }
            };
            if (grey) {
                const float* in[kChannels] = {light[0].ptr<float>(y), light[1].ptr<float>(y), light[2].ptr<float>(y)};
                for (int x = 0; x < size.width; ++x)
                    mixed[x] =
                        0.2126f * gains[0] * in[0][x] + 0.7152f * gains[1] * in[1][x] + 0.0722f * gains[2] * in[2][x];
                record(mixed.data(), 1, tones[kGreen], 1);
            } else {  // OpenCV keeps blue first
                for (int c = 0; c < kChannels; ++c) {
                    o = out.ptr<std::uint8_t>(y) + 2 - c;
                    record(light[c].ptr<float>(y), gains[c], tones[c], 3);
                }
            }
        }
    });
    return out;
}

}  // namespace velmaro::photo

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
constexpr double kWallReflectance = 2.0;  // the room around the screen, against the glass
constexpr int kEncodeSteps = 65535;

// OpenCV puts pixel centres at whole numbers; these coordinates put them at halves.
cv::Matx33d ShiftedBy(double d) { return {1, 0, d, 0, 1, d, 0, 0, 1}; }

const std::array<std::uint8_t, kEncodeSteps + 1>& EncodeTable() {
    static const auto table = [] {
        std::array<std::uint8_t, kEncodeSteps + 1> t{};
        for (int i = 0; i <= kEncodeSteps; ++i)
            t[i] = static_cast<std::uint8_t>(std::lround(255 * LinearToSrgb(static_cast<double>(i) / kEncodeSteps)));
        return t;
    }();
    return table;
}

}  // namespace

cv::Matx33d ScreenToPhoto(const Placement& placement, int screenWidth, int screenHeight) {
    const double halfWidth = screenWidth * placement.scale / 2, halfHeight = screenHeight * placement.scale / 2;
    const double left = halfHeight * (1 - placement.keystoneX / 2), right = halfHeight * (1 + placement.keystoneX / 2);
    const double top = halfWidth * (1 - placement.keystoneY / 2), bottom = halfWidth * (1 + placement.keystoneY / 2);
    const cv::Point2d corners[4] = {{-top, -left}, {top, -right}, {bottom, right}, {-bottom, left}};
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

cv::Mat3f FormImage(const cv::Mat3f& screenLight, const cv::Matx33d& screenToPhoto, cv::Size photo,
                    const Optics& optics) {
    const float glass = static_cast<float>(optics.roomLight);
    const float wall = static_cast<float>(optics.roomLight * kWallReflectance);
    cv::Mat3f lit = screenLight + cv::Scalar(glass, glass, glass);
    cv::Mat3f image;
    cv::warpPerspective(lit, image, cv::Mat(ShiftedBy(-0.5) * screenToPhoto * ShiftedBy(0.5)), photo, cv::INTER_LINEAR,
                        cv::BORDER_CONSTANT, cv::Scalar(wall, wall, wall));
    lit.release();
    if (optics.blur > 0) cv::GaussianBlur(image, image, cv::Size(0, 0), optics.blur);
    if (optics.vignetting > 0) {
        const double cx = photo.width / 2.0, cy = photo.height / 2.0, corner = cx * cx + cy * cy;
        cv::parallel_for_(cv::Range(0, photo.height), [&](const cv::Range& rows) {
            for (int y = rows.start; y < rows.end; ++y) {
                cv::Vec3f* row = image.ptr<cv::Vec3f>(y);
                const double dy2 = (y + 0.5 - cy) * (y + 0.5 - cy);
                for (int x = 0; x < photo.width; ++x) {
                    const double dx = x + 0.5 - cx;
                    row[x] *= static_cast<float>(1 - optics.vignetting * (dx * dx + dy2) / corner);
                }
            }
        });
    }
    return image;
}

cv::Mat Expose(const cv::Mat3f& light, const Sensor& sensor) {
    const auto& encode = EncodeTable();
    cv::Mat out(light.size(), sensor.grey ? CV_8UC1 : CV_8UC3);
    const double read2 = sensor.readNoise * sensor.readNoise;
    cv::parallel_for_(cv::Range(0, light.rows), [&](const cv::Range& rows) {
        for (int y = rows.start; y < rows.end; ++y) {
            // One generator per row, so that threads do not change the picture.
            cv::RNG rng(sensor.seed * 0x9E3779B97F4A7C15ull + static_cast<std::uint64_t>(y) + 1);
            const cv::Vec3f* in = light.ptr<cv::Vec3f>(y);
            std::uint8_t* o = out.ptr<std::uint8_t>(y);
            auto record = [&](double value) {
                const double electrons = std::max(0.0, value) * sensor.fullWell;
                value += std::sqrt(electrons + read2) / sensor.fullWell * rng.gaussian(1.0);
                return encode[static_cast<int>(std::lround(std::clamp(value, 0.0, 1.0) * kEncodeSteps))];
            };
            for (int x = 0; x < light.cols; ++x) {
                const cv::Vec3f& rgb = in[x];
                if (sensor.grey) {
                    o[x] = record(sensor.gain * (0.2126 * rgb[0] + 0.7152 * rgb[1] + 0.0722 * rgb[2]));
                } else {  // OpenCV keeps blue first
                    for (int c = 0; c < 3; ++c) o[3 * x + 2 - c] = record(sensor.gain * rgb[c]);
                }
            }
        }
    });
    return out;
}

}  // namespace velmaro::photo

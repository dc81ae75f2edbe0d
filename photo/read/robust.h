// Statistics that a few wild values do not move: the reader's measurements come with
// outliers (glare, a label across a stripe, JPEG blocks).
#pragma once

#include <algorithm>
#include <cmath>
#include <vector>

namespace velmaro::photo {

// The middle value (the upper one of an even count); NaN of none.
inline double Median(std::vector<double> values) {
    if (values.empty()) return NAN;
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

// The standard deviation that the median absolute value would show for normal errors.
inline double RobustSpread(const std::vector<double>& residuals) {
    std::vector<double> sizes(residuals.size());
    std::transform(residuals.begin(), residuals.end(), sizes.begin(), [](double r) { return std::abs(r); });
    return 1.4826 * Median(std::move(sizes));
}

}  // namespace velmaro::photo

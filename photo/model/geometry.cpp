#include "photo/model/geometry.h"

namespace velmaro::photo {

cv::Point2d Apply(const cv::Matx33d& h, cv::Point2d p) {
    const double w = h(2, 0) * p.x + h(2, 1) * p.y + h(2, 2);
    return {(h(0, 0) * p.x + h(0, 1) * p.y + h(0, 2)) / w, (h(1, 0) * p.x + h(1, 1) * p.y + h(1, 2)) / w};
}

cv::Matx33d Inverse(const cv::Matx33d& h) { return h.inv(cv::DECOMP_SVD); }

}  // namespace velmaro::photo

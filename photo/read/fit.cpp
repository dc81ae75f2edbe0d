#include "photo/read/fit.h"

#include <opencv2/core.hpp>

#include <cmath>

namespace velmaro::photo {

namespace {

double SumOfSquares(const std::vector<double>& r) {
    double s = 0;
    for (double v : r) s += v * v;
    return s;
}

}  // namespace

FitResult LeastSquares(const std::function<std::vector<double>(const std::vector<double>&)>& residuals,
                       std::vector<double> p, int iterations) {
    const int n = static_cast<int>(p.size());
    std::vector<double> r = residuals(p);
    const int m = static_cast<int>(r.size());
    double cost = SumOfSquares(r), lambda = 1e-3;
    cv::Mat1d jacobian(m, n);
    for (int it = 0; it < iterations && m >= n; ++it) {
        for (int k = 0; k < n; ++k) {
            std::vector<double> q = p;
            const double h = 1e-6 * std::max(1.0, std::abs(p[k]));
            q[k] += h;
            const std::vector<double> rq = residuals(q);
            for (int i = 0; i < m; ++i) jacobian(i, k) = (rq[i] - r[i]) / h;
        }
        const cv::Mat1d jtj = jacobian.t() * jacobian;
        const cv::Mat1d jtr = jacobian.t() * cv::Mat1d(r, false);
        bool improved = false;
        for (int attempt = 0; attempt < 10 && !improved; ++attempt) {
            cv::Mat1d damped = jtj.clone();
            for (int k = 0; k < n; ++k) damped(k, k) *= 1 + lambda;
            cv::Mat1d step;
            if (!cv::solve(damped, -jtr, step, cv::DECOMP_SVD)) break;
            std::vector<double> q = p;
            for (int k = 0; k < n; ++k) q[k] += step(k);
            const std::vector<double> rq = residuals(q);
            const double c = SumOfSquares(rq);
            if (std::isfinite(c) && c < cost) {
                p = q, r = rq, cost = c, lambda = std::max(1e-9, lambda / 10), improved = true;
            } else {
                lambda *= 10;
            }
        }
        if (!improved) break;
    }
    FitResult result;
    result.parameters = p;
    result.rms = m > 0 ? std::sqrt(cost / m) : 0;
    result.errors.assign(n, INFINITY);
    if (m > n) {
        // A parameter the residuals do not depend on (a response too fast to show, say) leaves
        // the normal matrix singular; the pseudo-inverse still gives the others' errors, and
        // that one stays unknown.
        cv::Mat1d covariance;
        const cv::Mat1d normal = jacobian.t() * jacobian;
        cv::invert(normal, covariance, cv::DECOMP_SVD);
        const double variance = cost / (m - n);
        for (int k = 0; k < n; ++k)
            if (normal(k, k) > 0 && covariance(k, k) > 0)
                result.errors[k] = std::sqrt(covariance(k, k) * variance);
    }
    return result;
}

}  // namespace velmaro::photo

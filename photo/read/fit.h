// Small least-squares fits: Levenberg-Marquardt with a numerical Jacobian.
#pragma once

#include <functional>
#include <vector>

namespace velmaro::photo {

struct FitResult {
    std::vector<double> parameters;
    std::vector<double> errors;  // standard errors, from the residuals' spread
    double rms = 0;
};

// Minimises the sum of squared residuals(parameters) from the starting parameters.
FitResult LeastSquares(const std::function<std::vector<double>(const std::vector<double>&)>& residuals,
                       std::vector<double> start, int iterations = 60);

}  // namespace velmaro::photo

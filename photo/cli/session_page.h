// A session's report as one self-contained HTML page that opens offline: the camera and
// date from EXIF, the table, a chart of every shot's deviation in stops against the
// marked speed with the tolerance band shaded (Chart.js, inlined into the program when
// it is built), and the annotated photographs, scaled down, inlined as data: URLs.
#pragma once

#include <string>
#include <vector>

#include "photo/cli/session.h"

namespace velmaro::photo {

std::string SessionPage(const std::vector<Shot>& shots, const std::vector<Row>& rows, double toleranceStops);

// RFC 4648 base64, for data: URLs.
std::string Base64(const std::vector<std::uint8_t>& bytes);

}  // namespace velmaro::photo

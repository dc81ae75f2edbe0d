// The reader on photographs that are not what they seem: a grid fitted to something
// other than the screen is not used to read it, while a real photograph's still is.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "photo/grid.h"
#include "photo/image.h"
#include "photo/locate.h"

using namespace velmaro::photo;

namespace {

// The line extents of the grids fitted to the lit pieces, as the reader fits them.
std::vector<double> GridExtents(const std::string& path) {
    const Photo photo = LoadPhoto(path);
    const ScreenLayout layout = LayoutFor(1024, 768);
    const cv::Mat1f rulerLinear = RulerLinear(BuiltInRuler().grey);
    const std::vector<Piece> pieces = FindLitRegions(photo.sharp);
    std::vector<double> extents;
    for (std::size_t i = 0; i < pieces.size() && i < 3; ++i) {
        const Piece& piece = pieces[i];
        const auto stripes = FindStripes(photo.sharp, piece, layout.width);
        if (!stripes) continue;
        const auto rough = FindRuler(photo.sharp, piece, *stripes, layout, rulerLinear);
        if (!rough) continue;
        if (const auto grid = FitGrid(photo.sharp, piece, *rough, layout)) extents.push_back(grid->lastU - grid->firstU);
    }
    return extents;
}

std::string Text(const std::vector<double>& extents) {
    std::string text = std::to_string(extents.size()) + " grids, over";
    for (double lines : extents) text += " " + std::to_string(lines);
    return text + " lines";
}

}  // namespace

TEST(FitGrid, AGridStretchingAPieceOverMoreLinesThanTheScreenHasIsNotFitted) {
    // A photograph's JPEG with bytes changed by fuzzing: a grid fitted to one of its
    // pieces put it over 912 lines of a screen of 768.
    const std::vector<double> stray = GridExtents(VELMARO_PHOTO_TEST_INPUTS "/stray-grid.jpg");
    for (double lines : stray) EXPECT_LE(lines, 768 + 16) << Text(stray);

    // The photograph it came from: the one lit piece is the band of 275 lines.
    const std::vector<double> band = GridExtents(VELMARO_PHOTO_TEST_INPUTS "/../fuzz/seeds-readable/readable.jpg");
    ASSERT_EQ(1u, band.size()) << Text(band);
    EXPECT_NEAR(275, band[0], 2) << Text(band);
}

// The reader on photographs that are not what they seem: a grid that would spread a lit
// piece over more lines than the screen has is not the screen's and is not fitted, while
// a real photograph's grid still is. (Fuzzing once found a piece spread over 912 lines
// of a 768-line screen.)
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "photo/read/grid.h"
#include "photo/read/image.h"
#include "photo/read/locate.h"

using namespace velmaro::photo;

namespace {

const std::string kReadable = VELMARO_PHOTO_READABLE;

// The grid fitted to a piece, as the reader fits it, with the piece's outline stretched
// down the photo by `stretch` (1: as found).
std::optional<Grid> FitStretched(const Photo& photo, double stretch) {
    const ScreenLayout layout = LayoutFor(1024, 768);
    const std::vector<Piece> pieces = FindLitRegions(photo.sharp);
    if (pieces.size() != 1) return std::nullopt;
    const auto rough = FindRuler(photo.sharp, pieces[0], layout, RulerLinear(BuiltInRuler().grey));
    if (!rough) return std::nullopt;
    Piece piece = pieces[0];
    const float middle = piece.box.center.y;
    for (cv::Point2f& p : piece.outline) p.y = middle + static_cast<float>(stretch) * (p.y - middle);
    return FitGrid(photo.sharp, piece, *rough, layout);
}

}  // namespace

TEST(FitGrid, APieceSpreadOverMoreLinesThanTheScreenHasGetsNoGrid) {
    const Photo photo = LoadPhoto(kReadable);
    // As found: the one lit piece is the band of 275 lines.
    const auto band = FitStretched(photo, 1);
    ASSERT_TRUE(band) << "the readable photograph's band was not fitted";
    EXPECT_NEAR(275, band->lastU - band->firstU, 2);
    // The same piece reaching far beyond the photo, over some 2000 lines.
    const auto stretched = FitStretched(photo, 8);
    EXPECT_FALSE(stretched) << "fitted over " << stretched->lastU - stretched->firstU << " lines";
}

// Draws the scan-line ruler that Velmaro shows and writes it as an 8-bit bitmap file
// with a 253-level grey colour table:   make_ruler OUTPUT.bmp [FONT.ttf]
//
// The picture is 330 x 768. Columns 0..164 carry the bands of line stripes and ticks,
// and the arrowheads; columns 165..329 mirror them. The labels 50 to 750 sit in the
// middle, rasterised from a bold sans-serif face with FreeType. Only the arrowheads and
// digits use greys between black and white.
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_BBOX_H
#include FT_OUTLINE_H

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 330;
constexpr int kHeight = 768;
constexpr int kColours = 253;
constexpr int kRowBytes = 332;
constexpr int kWhite = 255;
constexpr int kLastLeftColumn = 164;
constexpr int kDigitsLeft = 138;   // digits stay within these columns, the one
constexpr int kDigitsRight = 191;  // place where the two halves differ
constexpr double kDigitsCentre = 165.5;
constexpr char kDefaultFont[] = "/usr/share/fonts/truetype/liberation2/LiberationSans-Bold.ttf";

// Grey levels, top row first; 255 is white.
using Picture = std::vector<std::uint8_t>;

std::uint8_t& At(Picture& picture, int x, int row) { return picture[static_cast<std::size_t>(row) * kWidth + x]; }

void Darken(Picture& picture, int x, int row, int grey) {
    std::uint8_t& pixel = At(picture, x, row);
    pixel = static_cast<std::uint8_t>(std::min<int>(pixel, grey));
}

// The colour table holds every grey level but 41, 100 and 174.
int TableGrey(int index) {
    if (index <= 40) return index;
    if (index <= 98) return index + 1;
    if (index <= 171) return index + 2;
    return index + 3;
}

int GreyIndex(int grey) {
    if (grey <= 41) return std::min(grey, 40);
    if (grey <= 100) return std::min(grey, 99) - 1;
    if (grey <= 174) return std::min(grey, 173) - 2;
    return grey - 3;
}

// Bands left of the label zone; n is the line, counted from 1 at the top.
bool BandIsBlack(int x, int n) {
    if (x <= 4) return true;
    if (x <= 14) return false;
    if (x <= 64) return n % 2 == 0;
    if (x <= 74) return n % 2 == 0 || n % 10 == 5;
    if (x <= 84) return n % 5 == 0;
    if (x <= 94) return n % 10 == 0;
    if (x <= 105) return n >= 9 && n <= 761 && (n % 10 == 9 || n % 10 == 0 || n % 10 == 1);
    if (x <= 115) return n % 10 == 0;
    if (x <= 120) return n % 50 == 0;
    return false;
}

void DrawBands(Picture& picture) {
    for (int row = 0; row < kHeight; ++row)
        for (int x = 0; x <= kLastLeftColumn; ++x)
            if (BandIsBlack(x, row + 1)) At(picture, x, row) = 0;
}

// A filled triangle pointing right: its base is the left edge of column baseX over
// rows row-3..row+3, its tip the right edge of column baseX+7 in the middle of row.
// Coverage is counted on a 16 x 16 grid of samples per pixel, in 1/32-pixel units.
void DrawArrowhead(Picture& picture, int baseX, int row) {
    constexpr int kSamples = 16;
    const int tip32 = 32 * (baseX + 8);
    const int middle32 = 32 * row + 16;
    for (int x = baseX; x < baseX + 8; ++x) {
        for (int r = row - 3; r <= row + 3; ++r) {
            int covered = 0;
            for (int sy = 0; sy < kSamples; ++sy) {
                for (int sx = 0; sx < kSamples; ++sx) {
                    const int px = 32 * x + 2 * sx + 1;
                    const int py = 32 * r + 2 * sy + 1;
                    // inside when |py - middle| <= 3.5 * (tip - px) / 8
                    if (16 * std::abs(py - middle32) <= 7 * (tip32 - px)) ++covered;
                }
            }
            const int ink = (covered * kWhite + kSamples * kSamples / 2) / (kSamples * kSamples);
            Darken(picture, x, r, kWhite - ink);
        }
    }
}

// One label's arrows on the left half; the label's row is black from the stripes to the tip.
void DrawArrows(Picture& picture, int label) {
    const int row = label - 1;
    const bool hundred = label % 100 == 0;
    DrawArrowhead(picture, 121, row);
    if (hundred) DrawArrowhead(picture, 128, row);
    const int tip = hundred ? 135 : 128;
    for (int x = 15; x <= tip; ++x) At(picture, x, row) = 0;
}

void MirrorLeftHalf(Picture& picture) {
    for (int row = 0; row < kHeight; ++row)
        for (int x = 0; x <= kLastLeftColumn; ++x) At(picture, kWidth - 1 - x, row) = At(picture, x, row);
}

struct Font {
    FT_Library library = nullptr;
    FT_Face face = nullptr;
};

void Fail(const std::string& what) {
    std::fprintf(stderr, "make_ruler: %s\n", what.c_str());
    std::exit(1);
}

// A label's digit outlines in font units, placed side by side at their advances.
struct LabelOutlines {
    std::vector<FT_Outline> digits;
    FT_BBox box{};
};

LabelOutlines LoadLabel(const Font& font, const std::string& text) {
    LabelOutlines label;
    FT_Pos pen = 0;
    for (char c : text) {
        if (FT_Load_Char(font.face, static_cast<FT_ULong>(c),
                         FT_LOAD_NO_SCALE | FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP))
            Fail(std::string("no glyph for ") + c);
        const FT_Outline& source = font.face->glyph->outline;
        FT_Outline digit;
        if (FT_Outline_New(font.library, static_cast<FT_UInt>(source.n_points), source.n_contours, &digit) ||
            FT_Outline_Copy(&source, &digit))
            Fail("cannot copy an outline");
        FT_Outline_Translate(&digit, pen, 0);
        FT_BBox box;
        FT_Outline_Get_BBox(&digit, &box);
        if (label.digits.empty()) {
            label.box = box;
        } else {
            label.box.xMin = std::min(label.box.xMin, box.xMin);
            label.box.yMin = std::min(label.box.yMin, box.yMin);
            label.box.xMax = std::max(label.box.xMax, box.xMax);
            label.box.yMax = std::max(label.box.yMax, box.yMax);
        }
        label.digits.push_back(digit);
        pen += font.face->glyph->advance.x;
    }
    return label;
}

void FreeLabel(const Font& font, LabelOutlines& label) {
    for (FT_Outline& digit : label.digits) FT_Outline_Done(font.library, &digit);
    label.digits.clear();
}

void PaintSpans(int y, int count, const FT_Span* spans, void* user) {
    Picture& picture = *static_cast<Picture*>(user);
    const int row = kHeight - 1 - y;  // FreeType counts rows from the bottom
    for (int i = 0; i < count; ++i)
        for (int x = spans[i].x; x < spans[i].x + spans[i].len; ++x)
            Darken(picture, x, row, kWhite - spans[i].coverage);
}

// Scales the label to the given ink height (the digits' extent in pixels), scales its
// width by xScale, centres it on the middle of the label's row and on column 165, and
// renders it with anti-aliasing.
void RenderLabel(const Font& font, LabelOutlines& label, int row, double inkHeight, double xScale, Picture& picture) {
    const double yScale = inkHeight / static_cast<double>(label.box.yMax - label.box.yMin);
    const double x0 = kDigitsCentre - xScale * static_cast<double>(label.box.xMin + label.box.xMax) / 2;
    const double rowCentreUp = kHeight - (row + 0.5);
    const double y0 = rowCentreUp - yScale * static_cast<double>(label.box.yMin + label.box.yMax) / 2;
    for (FT_Outline& digit : label.digits) {
        for (int i = 0; i < digit.n_points; ++i) {
            FT_Vector& p = digit.points[i];
            p.x = std::lround((x0 + xScale * static_cast<double>(p.x)) * 64);
            p.y = std::lround((y0 + yScale * static_cast<double>(p.y)) * 64);
        }
        FT_Raster_Params params{};
        params.source = &digit;
        params.flags = FT_RASTER_FLAG_AA | FT_RASTER_FLAG_DIRECT | FT_RASTER_FLAG_CLIP;
        params.gray_spans = PaintSpans;
        params.user = &picture;
        params.clip_box = {kDigitsLeft, 0, kDigitsRight + 1, kHeight};
        if (FT_Outline_Render(font.library, &digit, &params)) Fail("cannot render a label");
    }
}

// Odd multiples of 50 get digits 15 rows tall, multiples of 100 digits 23 rows tall,
// each with one anti-aliased edge row above and below. Widths: the widest label of
// each kind spans 34 and 50 pixels.
struct LabelStyle {
    double inkHeight;
    double widestInk;
};
constexpr LabelStyle kOddStyle{16.0, 34.0};
constexpr LabelStyle kHundredStyle{24.0, 50.0};

double WidthScale(const Font& font, bool hundreds) {
    double widest = 0;
    for (int label = 150; label <= 750; label += 50) {
        if ((label % 100 == 0) != hundreds) continue;
        LabelOutlines outlines = LoadLabel(font, std::to_string(label));
        widest = std::max(widest, static_cast<double>(outlines.box.xMax - outlines.box.xMin));
        FreeLabel(font, outlines);
    }
    return (hundreds ? kHundredStyle : kOddStyle).widestInk / widest;
}

void DrawLabels(const Font& font, Picture& picture) {
    const double oddScale = WidthScale(font, false);
    const double hundredScale = WidthScale(font, true);
    for (int label = 50; label <= 750; label += 50) {
        const bool hundred = label % 100 == 0;
        LabelOutlines outlines = LoadLabel(font, std::to_string(label));
        RenderLabel(font, outlines, label - 1, (hundred ? kHundredStyle : kOddStyle).inkHeight,
                    hundred ? hundredScale : oddScale, picture);
        FreeLabel(font, outlines);
    }
}

using Indices = std::vector<std::uint8_t>;

// Every colour of the table is to occur in the picture. Levels that the anti-aliasing
// happened not to produce are given to digit edge pixels of the nearest level that
// occurs more than once, so the edges change by a grey step or two at most.
void UseEveryColour(Indices& indices) {
    std::array<int, 256> count{};
    for (std::uint8_t index : indices) ++count[index];
    for (int missing = 1; missing < kColours - 1; ++missing) {
        if (count[missing] != 0) continue;
        std::size_t best = indices.size();
        int bestDistance = 1 << 20;
        for (int row = 0; row < kHeight; ++row) {
            for (int x = kDigitsLeft; x <= kDigitsRight; ++x) {
                const std::size_t at = static_cast<std::size_t>(row) * kWidth + x;
                const int index = indices[at];
                if (index == 0 || index == kColours - 1 || count[index] < 2) continue;
                const int distance = std::abs(index - missing);
                if (distance < bestDistance) bestDistance = distance, best = at;
            }
        }
        if (best == indices.size()) Fail("no edge pixel left to carry a grey level");
        --count[indices[best]];
        indices[best] = static_cast<std::uint8_t>(missing);
        ++count[missing];
    }
}

void Put16(std::vector<std::uint8_t>& out, unsigned value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}

std::vector<std::uint8_t> EncodeBitmapFile(const Indices& indices) {
    constexpr std::uint32_t kFileHeader = 14, kInfoHeader = 40, kTable = 4 * kColours;
    constexpr std::uint32_t kImage = kRowBytes * kHeight;
    std::vector<std::uint8_t> out;
    out.push_back('B');
    out.push_back('M');
    Put32(out, kFileHeader + kInfoHeader + kTable + kImage);
    Put32(out, 0);
    Put32(out, kFileHeader + kInfoHeader + kTable);

    Put32(out, kInfoHeader);
    Put32(out, kWidth);
    Put32(out, kHeight);  // positive: bottom row first
    Put16(out, 1);
    Put16(out, 8);
    Put32(out, 0);  // BI_RGB
    Put32(out, kImage);
    Put32(out, 3779);  // 96 dots per inch
    Put32(out, 3779);
    Put32(out, kColours);
    Put32(out, 0);

    for (int i = 0; i < kColours; ++i) {
        const auto grey = static_cast<std::uint8_t>(TableGrey(i));
        out.insert(out.end(), {grey, grey, grey, 0});
    }
    for (int row = kHeight - 1; row >= 0; --row) {
        const auto first = indices.begin() + static_cast<std::ptrdiff_t>(row) * kWidth;
        out.insert(out.end(), first, first + kWidth);
        out.insert(out.end(), kRowBytes - kWidth, 0);
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: make_ruler OUTPUT.bmp [FONT.ttf]\n");
        return 2;
    }
    Font font;
    if (FT_Init_FreeType(&font.library)) Fail("cannot start FreeType");
    const char* fontPath = argc == 3 ? argv[2] : kDefaultFont;
    if (FT_New_Face(font.library, fontPath, 0, &font.face)) Fail(std::string("cannot open ") + fontPath);

    Picture picture(static_cast<std::size_t>(kWidth) * kHeight, kWhite);
    DrawBands(picture);
    for (int label = 50; label <= 750; label += 50) DrawArrows(picture, label);
    MirrorLeftHalf(picture);
    DrawLabels(font, picture);

    Indices indices(picture.size());
    std::transform(picture.begin(), picture.end(), indices.begin(),
                   [](std::uint8_t grey) { return static_cast<std::uint8_t>(GreyIndex(grey)); });
    UseEveryColour(indices);

    const std::vector<std::uint8_t> file = EncodeBitmapFile(indices);
    std::FILE* out = std::fopen(argv[1], "wb");
    if (out == nullptr || std::fwrite(file.data(), 1, file.size(), out) != file.size() || std::fclose(out) != 0)
        Fail(std::string("cannot write ") + argv[1]);
    FT_Done_Face(font.face);
    FT_Done_FreeType(font.library);
    return 0;
}

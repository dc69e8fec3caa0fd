#include "render/page_render.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "tests/support/pdf_writer.h"
#include "tests/support/pdfium_library.h"
#include "tests/support/test_files.h"

namespace bl {
namespace {

using test::PdfWriter;

TEST(PagePixelSize, RoundsWithinTheLimitsAndRefusesWithTheReason) {
    const std::string side = " px; the maximum side is 32767 px. Lower the DPI.";
    const std::string saturated = "9223372036854775807";
    const std::string mp = " px (145 MP); the maximum is 100 MP per page. Lower the DPI.";
    // Size and DPI; the pixels, or the message of the refusal.
    const std::tuple<PageSize, double, PixelSize, std::string> cases[] = {
        {{595.276, 841.89}, 150, {1240, 1754}, ""},  // A4
        {{0.75, 2.25}, 96, {1, 3}, ""},              // halves round up
        {{72, 32767}, 72, {72, 32767}, ""},          // the longest side
        {{10000, 10000}, 72, {10000, 10000}, ""},    // 100 MP exactly
        {{32767.5, 1}, 72, {}, "At 72 DPI the page would be 32768 \u00D7 1" + side},
        {{1, 32767.5}, 72, {}, "At 72 DPI the page would be 1 \u00D7 32768" + side},
        {{12000, 12000}, 72.5, {}, "At 72.500000 DPI the page would be 12083 \u00D7 12083" + mp},
        // Hostile documents may declare any finite size; the message must stay defined.
        {{1e30, DBL_MAX},
         600,
         {},
         "At 600 DPI the page would be " + saturated + " \u00D7 " + saturated + side},
        // The size is checked before the DPI.
        {{612, -1e-9},
         std::numeric_limits<double>::quiet_NaN(),
         {},
         "The page has an invalid size."},
        {{612, 792}, 600.5, {}, "DPI must be between 10 and 600."},
    };
    for (const auto& [size, dpi, pixels, message] : cases) {
        const auto result = page_pixel_size(size, dpi, ConvertLimits{});
        EXPECT_EQ(result ? "" : result.error().message, message) << size.width << " at " << dpi;
        EXPECT_EQ(result.value_or(PixelSize{}), pixels) << size.width << " at " << dpi;
    }
}

// The fixture pages are 200 x 100 points, so that at 72 DPI one point is one
// pixel; PDF's y axis points up, pixel rows count down from the top.
constexpr PixelSize kPageAt72{200, 100};

constexpr Rgb kWhite{255, 255, 255};
constexpr Rgb kBlack{0, 0, 0};

struct Spot {
    int x;
    int y;
};
constexpr Spot kContent{40, 65};      // a black rectangle in the page content
constexpr Spot kAnnotation{120, 60};  // a red square annotation

// A page with content and an annotation.
std::string fixture_pdf() {
    PdfWriter writer;
    const int red_square = writer.add_stream("/Type /XObject /Subtype /Form /BBox [0 0 40 40]",
                                             "1 0 0 rg 0 0 40 40 re f");
    test::PdfPage page = test::page_of_size(200, 100);
    page.content = "0 0 0 rg 20 20 40 30 re f";
    page.annotations.push_back("<< /Type /Annot /Subtype /Square /Rect [100 20 140 60] /AP << /N " +
                               PdfWriter::ref(red_square) + " >> >>");
    writer.add_page(page);
    return writer.build();
}

class RenderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        test::write_file(dir_ / "fixture.pdf", fixture_pdf());
        const auto lock = test::pdfium().lock();
        auto opened = open_pdf(test::pdfium(), dir_ / "fixture.pdf", {}, ConvertLimits{});
        ASSERT_TRUE(opened) << opened.error().message;
        document_.reset(opened->release());
    }
    // Closed under the lock, as every PDFium call must be.
    void TearDown() override {
        const auto lock = test::pdfium().lock();
        document_.reset();
    }

    // Renders the page into `buffer_`, with three or four bytes a pixel.
    bool render(bool annotations, Rgb background = kWhite, double dpi = 72,
                PixelSize size = kPageAt72, int bytes = 4) {
        ImageOptions image;
        image.dpi = dpi;
        image.render_annotations = annotations;
        image.background = background;
        const auto lock = test::pdfium().lock();
        stride_ = size.width * bytes;
        buffer_.assign(static_cast<std::size_t>(stride_ * size.height), 0);
        const std::atomic<std::uint32_t> flag(0);
        return render_page(*document_, 1, size, image,
                           PixelTarget{buffer_.data(), buffer_.size(), stride_, bytes == 3}, &flag,
                           kNoDeadline) == protocol::RenderStatus::Done;
    }

    Rgb pixel(Spot spot) const {
        const std::uint8_t* p = buffer_.data() + spot.y * stride_ + spot.x * 4;
        return {p[2], p[1], p[0]};  // BGRx
    }

    test::TempDir dir_;
    std::unique_ptr<PdfDocument> document_;
    std::vector<std::uint8_t> buffer_;
    std::int32_t stride_ = -1;
};

TEST_F(RenderTest, PaintsBackgroundContentAndAnnotationsWhereThePageSays) {
    for (const auto& [background, annotations] :
         {std::pair{kWhite, true}, std::pair{Rgb{30, 120, 200}, false}}) {
        ASSERT_TRUE(render(annotations, background));
        EXPECT_EQ(pixel({5, 5}), background);
        EXPECT_EQ(pixel({199, 99}), background);
        EXPECT_EQ(pixel(kContent), kBlack);
        EXPECT_EQ(pixel(kAnnotation), (annotations ? Rgb{255, 0, 0} : background));
    }
    // The driver renders BGR: it must be BGRx without the padding byte.
    const std::vector<std::uint8_t> four = buffer_;
    ASSERT_TRUE(render(false, Rgb{30, 120, 200}, 72, kPageAt72, 3));
    for (std::size_t pixel = 0; pixel < 200 * 100; ++pixel) {
        ASSERT_EQ(std::memcmp(&buffer_[pixel * 3], &four[pixel * 4], 3), 0) << pixel;
    }
    // The rectangle spans x 20..60 and y 20..50 in points: its edge pixels at
    // 144 DPI, and the pixels just outside.
    const std::pair<Spot, Rgb> cases[] = {
        {{40, 100}, kBlack}, {{119, 159}, kBlack}, {{39, 130}, kWhite}, {{120, 130}, kWhite}};
    ASSERT_TRUE(render(true, kWhite, 144, {400, 200}));
    for (const auto& [spot, colour] : cases) {
        EXPECT_EQ(pixel(spot), colour) << spot.x << ", " << spot.y;
    }
}

}  // namespace
}  // namespace bl

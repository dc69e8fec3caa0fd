#include "render/page_render.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <chrono>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "tests/support/pdf_writer.h"
#include "tests/support/pdfium_library.h"
#include "tests/support/test_files.h"

namespace bl {
namespace {

using test::PdfPage;
using test::PdfWriter;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(PagePixelSize, RoundsWithinTheLimitsAndRefusesWithTheReason) {
    const std::string side = " px; the maximum side is 32767 px. Lower the DPI.";
    const std::string saturated = "9223372036854775807";
    // Size and DPI; the pixels, or the message of the refusal.
    const std::tuple<PageSize, double, PixelSize, std::string> cases[] = {
        {{595.276, 841.89}, 150, {1240, 1754}, ""},  // A4
        {{0.1, 0.1}, 10, {1, 1}, ""},                // at least a pixel, at the lowest DPI
        {{0.75, 2.25}, 96, {1, 3}, ""},              // halves round up
        {{72, 32767}, 72, {72, 32767}, ""},          // the longest side
        {{10000, 10000}, 72, {10000, 10000}, ""},    // 100 MP exactly
        {{32767.5, 1}, 72, {}, "At 72 DPI the page would be 32768 \u00D7 1" + side},
        {{12000, 12000},
         72.5,
         {},
         "At 72.500000 DPI the page would be 12083 \u00D7 12083 px (145 MP); the maximum is 100 "
         "MP per page. Lower the DPI."},
        // Hostile documents may declare any finite size; the message must stay defined.
        {{1e30, DBL_MAX},
         600,
         {},
         "At 600 DPI the page would be " + saturated + " \u00D7 " + saturated + side},
        // The size is checked before the DPI.
        {{612, -1e-9}, kNaN, {}, "The page has an invalid size."},
        {{kNaN, 792}, 150, {}, "The page has an invalid size."},
        {{612, 792}, 9.999, {}, "DPI must be between 10 and 600."},
        {{612, 792}, 600.5, {}, "DPI must be between 10 and 600."},
    };
    for (const auto& [size, dpi, pixels, message] : cases) {
        const auto result = page_pixel_size(size, dpi, ConvertLimits{});
        EXPECT_EQ(result ? "" : result.error().message, message) << size.width << " at " << dpi;
        EXPECT_EQ(result.value_or(PixelSize{}), pixels) << size.width << " at " << dpi;
    }
    // The limits given count, not the defaults.
    ConvertLimits limits;
    limits.max_page_pixels = 999'999;
    EXPECT_EQ(page_pixel_size({1000, 1000}, 72, limits).error().message,
              "At 72 DPI the page would be 1000 \u00D7 1000 px (1 MP); the maximum is 0 MP per "
              "page. Lower the DPI.");
}

// --- Rendering ---------------------------------------------------------------

// The fixture pages are 200 x 100 points, so that at 72 DPI one point is one
// pixel; PDF's y axis points up, pixel rows count down from the top.
constexpr PixelSize kPageAt72{200, 100};

constexpr Rgb kWhite{255, 255, 255};
constexpr Rgb kBlack{0, 0, 0};
constexpr Rgb kRed{255, 0, 0};
constexpr Rgb kBlue{0, 0, 255};

// Where things are drawn on page 1, in pixels at 72 DPI.
struct Spot {
    int x;
    int y;
};
constexpr Spot kContent{40, 65};      // a black rectangle in the page content
constexpr Spot kAnnotation{120, 60};  // a red square annotation
constexpr Spot kField{170, 60};       // a blue text field widget
constexpr Spot kEmpty{5, 5};          // nothing drawn

// Page 1: content, an annotation and a form field; page 2: thousands of objects,
// so that PDFium pauses many times; page 3: empty.
std::string fixture_pdf() {
    PdfWriter writer;
    const std::string form = "/Type /XObject /Subtype /Form /BBox [0 0 40 40]";
    const int red_square = writer.add_stream(form, "1 0 0 rg 0 0 40 40 re f");
    const int blue_square = writer.add_stream(form, "0 0 1 rg 0 0 40 40 re f");
    const int field = writer.add_object(
        "<< /Type /Annot /Subtype /Widget /FT /Tx /T (name) /Rect [150 20 190 60] /AP << /N " +
        PdfWriter::ref(blue_square) + " >> >>");
    writer.set_acroform("/Fields [" + PdfWriter::ref(field) + "]");

    PdfPage page = test::page_of_size(200, 100);
    page.content = "0 0 0 rg 20 20 40 30 re f";
    page.annotations.push_back("<< /Type /Annot /Subtype /Square /Rect [100 20 140 60] /AP << /N " +
                               PdfWriter::ref(red_square) + " >> >>");
    page.annotation_objects.push_back(field);
    writer.add_page(page);

    PdfPage heavy = test::page_of_size(200, 100);
    for (int i = 0; i < 2000; ++i) {
        heavy.content += std::to_string(i % 200) + " " + std::to_string(i / 200) + " 1 1 re f\n";
    }
    writer.add_page(heavy);
    writer.add_page(test::page_of_size(200, 100));
    return writer.build();
}

// Documents are closed under the lock, as every PDFium call must be.
struct LockedClose {
    void operator()(PdfDocument* document) const {
        const auto lock = test::pdfium().lock();
        delete document;
    }
};
using Document = std::unique_ptr<PdfDocument, LockedClose>;

class RenderTest : public ::testing::Test {
  protected:
    // Opens the fixture; with `forms`, creates the form environment the way the
    // conversion does when form fields are wanted.
    Document open(bool forms) const {
        test::write_file(dir_ / "fixture.pdf", fixture_pdf());
        const auto lock = test::pdfium().lock();
        std::string password;
        auto opened = open_pdf(test::pdfium(), dir_ / "fixture.pdf", password, ConvertLimits{});
        if (!opened) {
            ADD_FAILURE() << opened.error().message;
            return nullptr;
        }
        Document document(opened->release());
        if (forms) {
            document->forms = std::make_unique<FormEnvironment>(document->document.get());
        }
        return document;
    }

    // Renders into `buffer_`, with three or four bytes a pixel.
    MaybeError render(PdfDocument& document, std::uint32_t page, const ImageOptions& image,
                      PixelSize size = kPageAt72, bool cancelled = false,
                      Deadline deadline = kNoDeadline, int bytes = 4) {
        const auto lock = test::pdfium().lock();
        stride_ = size.width * bytes;
        buffer_.assign(static_cast<std::size_t>(stride_ * size.height), 0);
        const std::atomic<std::uint32_t> flag(cancelled ? 1 : 0);
        const auto status = render_page(
            document, page, size, image,
            PixelTarget{buffer_.data(), buffer_.size(), stride_, bytes == 3}, &flag, deadline);
        if (status == protocol::RenderStatus::Done) {
            return std::nullopt;
        }
        return protocol::render_error(status, page);
    }

    Rgb pixel(Spot spot) const {
        const std::uint8_t* p = buffer_.data() + spot.y * stride_ + spot.x * 4;
        return {p[2], p[1], p[0]};  // BGRx
    }

    static ImageOptions options(bool annotations = true, Rgb background = {}, double dpi = 72) {
        ImageOptions image;
        image.dpi = dpi;
        image.render_annotations = annotations;
        image.background = background;
        return image;
    }

    test::TempDir dir_;
    std::vector<std::uint8_t> buffer_;
    std::int32_t stride_ = -1;
};

TEST_F(RenderTest, PaintsBackgroundAndContentWhereThePageSays) {
    const Document document = open(false);
    ASSERT_TRUE(document);
    for (const Rgb background : {kWhite, Rgb{30, 120, 200}}) {
        ASSERT_EQ(render(*document, 1, options(true, background)), std::nullopt);
        EXPECT_EQ(pixel(kEmpty), background);
        EXPECT_EQ(pixel({199, 99}), background);
        EXPECT_EQ(pixel(kContent), kBlack);
    }
    // The rectangle spans x 20..60 and y 20..50 in points: its edge pixels at
    // 72 and 144 DPI, and the pixels just outside.
    const std::tuple<double, PixelSize, Spot, Rgb> cases[] = {
        {72, kPageAt72, {20, 50}, kBlack},    {72, kPageAt72, {59, 79}, kBlack},
        {72, kPageAt72, {19, 65}, kWhite},    {72, kPageAt72, {40, 80}, kWhite},
        {144, {400, 200}, {40, 100}, kBlack}, {144, {400, 200}, {119, 159}, kBlack},
        {144, {400, 200}, {39, 130}, kWhite}, {144, {400, 200}, {120, 130}, kWhite},
    };
    for (const auto& [dpi, size, spot, colour] : cases) {
        ASSERT_EQ(render(*document, 1, options(true, {}, dpi), size), std::nullopt);
        EXPECT_EQ(pixel(spot), colour) << dpi << " DPI at " << spot.x << ", " << spot.y;
    }
}

TEST_F(RenderTest, AnnotationsAndFormFieldsFollowTheirSwitches) {
    // Form fields are drawn by the form pass alone, so they show exactly when the
    // document has a form environment, whether annotations are on or off.
    for (const bool forms : {false, true}) {
        const Document document = open(forms);
        ASSERT_TRUE(document);
        for (const bool annotations : {false, true}) {
            SCOPED_TRACE(testing::Message()
                         << "forms " << forms << ", annotations " << annotations);
            ASSERT_EQ(render(*document, 1, options(annotations)), std::nullopt);
            EXPECT_EQ(pixel(kAnnotation), annotations ? kRed : kWhite);
            EXPECT_EQ(pixel(kField), forms ? kBlue : kWhite);
            // Fields belong to their own page only.
            ASSERT_EQ(render(*document, 3, options(annotations)), std::nullopt);
            EXPECT_EQ(pixel(kField), kWhite);
        }
    }
}

TEST_F(RenderTest, ThreeBytePixelsMatchFourBytePixels) {
    // The driver renders BGR; it must be BGRx without the padding byte.
    const Document document = open(true);
    ASSERT_TRUE(document);
    ASSERT_EQ(render(*document, 1, options()), std::nullopt);
    const std::vector<std::uint8_t> four = buffer_;
    ASSERT_EQ(render(*document, 1, options(), kPageAt72, false, kNoDeadline, 3), std::nullopt);
    for (std::size_t pixel = 0; pixel < 200 * 100; ++pixel) {
        ASSERT_EQ(std::memcmp(&buffer_[pixel * 3], &four[pixel * 4], 3), 0) << pixel;
    }
}

TEST_F(RenderTest, FailuresCarryTheirKindAndPage) {
    const Document document = open(true);
    ASSERT_TRUE(document);
    for (const std::uint32_t page : {0u, 4u}) {
        EXPECT_EQ(render(*document, page, options()),
                  make_error(ErrorKind::RenderFailed, "The page could not be loaded.", page));
    }
    // A set flag cancels, even past the deadline.
    EXPECT_EQ(render(*document, 2, options(), kPageAt72, true, Clock::now()),
              make_error(ErrorKind::Cancelled, "Conversion was cancelled.", 2));
    EXPECT_EQ(render(*document, 2, options(), kPageAt72, false, Clock::now()),
              make_error(ErrorKind::TimedOut,
                         "Rendering this page took longer than the allowed time.", 2));
    // With time to spare the heavy page renders, and the document is still usable.
    EXPECT_EQ(
        render(*document, 2, options(), kPageAt72, false, Clock::now() + std::chrono::hours(1)),
        std::nullopt);
}

}  // namespace
}  // namespace bl

#include "engine/page_render.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <chrono>
#include <cmath>
#include <limits>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "tests/support/pdf_writer.h"

namespace bl {
namespace {

using test::PdfPage;
using test::PdfWriter;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// --- Pixel sizes -------------------------------------------------------------

struct SizeCase {
    const char* name;
    PageSize size;
    double dpi;
    PixelSize pixels;     // expected on success
    ErrorKind kind;       // expected on failure
    const char* message;  // null when the size is accepted
    ConvertLimits limits = {};
};

void PrintTo(const SizeCase& c, std::ostream* out) {
    *out << c.name;
}

ConvertLimits dpi_limits(double min_dpi, double max_dpi) {
    ConvertLimits limits;
    limits.min_dpi = min_dpi;
    limits.max_dpi = max_dpi;
    return limits;
}

const char* const kInvalidSize = "The page has an invalid size.";
const char* const kBadDpi = "DPI must be between 10 and 600.";

const SizeCase kSizeCases[] = {
    {"letter at 150", {612, 792}, 150, {1275, 1650}, {}, nullptr},
    {"a4 at 150", {595.276, 841.89}, 150, {1240, 1754}, {}, nullptr},
    {"tenth of a point at 10", {0.1, 0.1}, 10, {1, 1}, {}, nullptr},
    {"lowest dpi", {72, 72}, 10, {10, 10}, {}, nullptr},
    {"highest dpi", {72, 72}, 600, {600, 600}, {}, nullptr},
    {"half pixel rounds up", {0.75, 2.25}, 96, {1, 3}, {}, nullptr},
    {"widest side", {32767, 1}, 72, {32767, 1}, {}, nullptr},
    {"tallest side", {1, 32767}, 72, {1, 32767}, {}, nullptr},
    {"100 MP exactly", {10000, 10000}, 72, {10000, 10000}, {}, nullptr},
    {"side too wide",
     {32768, 1},
     72,
     {},
     ErrorKind::LimitExceeded,
     "At 72 DPI the page would be 32768 \u00D7 1 px; the maximum side is 32767 px. Lower the "
     "DPI."},
    {"rounds up to one pixel too wide",
     {32767.5, 1},
     72,
     {},
     ErrorKind::LimitExceeded,
     "At 72 DPI the page would be 32768 \u00D7 1 px; the maximum side is 32767 px. Lower the "
     "DPI."},
    {"side too tall",
     {1, 32768},
     72,
     {},
     ErrorKind::LimitExceeded,
     "At 72 DPI the page would be 1 \u00D7 32768 px; the maximum side is 32767 px. Lower the "
     "DPI."},
    {"4000 points at 600",
     {4000, 4000},
     600,
     {},
     ErrorKind::LimitExceeded,
     "At 600 DPI the page would be 33333 \u00D7 33333 px; the maximum side is 32767 px. Lower "
     "the DPI."},
    {"139 MP at 600",
     {1190, 1684},
     600,
     {},
     ErrorKind::LimitExceeded,
     "At 600 DPI the page would be 9917 \u00D7 14033 px (139 MP); the maximum is 100 MP per "
     "page. Lower the DPI."},
    {"one pixel over 100 MP",
     {10001, 10000},
     72,
     {},
     ErrorKind::LimitExceeded,
     "At 72 DPI the page would be 10001 \u00D7 10000 px (100 MP); the maximum is 100 MP per "
     "page. Lower the DPI."},
    {"side message at 72.5",
     {40000, 100},
     72.5,
     {},
     ErrorKind::LimitExceeded,
     "At 72.500000 DPI the page would be 40278 \u00D7 101 px; the maximum side is 32767 px. "
     "Lower the DPI."},
    {"megapixel message at 72.5",
     {12000, 12000},
     72.5,
     {},
     ErrorKind::LimitExceeded,
     "At 72.500000 DPI the page would be 12083 \u00D7 12083 px (145 MP); the maximum is 100 MP "
     "per page. Lower the DPI."},
    // Hostile documents may declare any finite size; the message must stay defined.
    {"1e30 points",
     {1e30, 1e30},
     600,
     {},
     ErrorKind::LimitExceeded,
     "At 600 DPI the page would be 9223372036854775807 \u00D7 9223372036854775807 px; the "
     "maximum side is 32767 px. Lower the DPI."},
    {"1e300 points",
     {1e300, 1e300},
     600,
     {},
     ErrorKind::LimitExceeded,
     "At 600 DPI the page would be 9223372036854775807 \u00D7 9223372036854775807 px; the "
     "maximum side is 32767 px. Lower the DPI."},
    {"largest double overflows to infinity",
     {DBL_MAX, 100},
     600,
     {},
     ErrorKind::LimitExceeded,
     "At 600 DPI the page would be 9223372036854775807 \u00D7 833 px; the maximum side is 32767 "
     "px. Lower the DPI."},
    {"zero width", {0, 792}, 150, {}, ErrorKind::DamagedPdf, kInvalidSize},
    {"zero height", {612, 0}, 150, {}, ErrorKind::DamagedPdf, kInvalidSize},
    {"negative width", {-612, 792}, 150, {}, ErrorKind::DamagedPdf, kInvalidSize},
    {"negative height", {612, -1e-9}, 150, {}, ErrorKind::DamagedPdf, kInvalidSize},
    {"nan width", {kNaN, 792}, 150, {}, ErrorKind::DamagedPdf, kInvalidSize},
    {"infinite height", {612, kInf}, 150, {}, ErrorKind::DamagedPdf, kInvalidSize},
    {"negative infinite width", {-kInf, 792}, 150, {}, ErrorKind::DamagedPdf, kInvalidSize},
    {"size checked before dpi", {0, 0}, kNaN, {}, ErrorKind::DamagedPdf, kInvalidSize},
    {"dpi just below", {612, 792}, 9.999, {}, ErrorKind::InvalidSettings, kBadDpi},
    {"dpi just above", {612, 792}, 600.5, {}, ErrorKind::InvalidSettings, kBadDpi},
    {"dpi zero", {612, 792}, 0, {}, ErrorKind::InvalidSettings, kBadDpi},
    {"dpi negative", {612, 792}, -150, {}, ErrorKind::InvalidSettings, kBadDpi},
    {"dpi nan", {612, 792}, kNaN, {}, ErrorKind::InvalidSettings, kBadDpi},
    {"dpi infinite", {612, 792}, kInf, {}, ErrorKind::InvalidSettings, kBadDpi},
    {"fractional limit",
     {612, 792},
     10,
     {},
     ErrorKind::InvalidSettings,
     "DPI must be between 10.500000 and 600.",
     dpi_limits(10.5, 600)},
};

class PagePixelSizeTest : public ::testing::TestWithParam<SizeCase> {};

TEST_P(PagePixelSizeTest, ComputesSizeOrRefuses) {
    const SizeCase& c = GetParam();
    const Result<PixelSize> result = page_pixel_size(c.size, c.dpi, c.limits);
    if (c.message == nullptr) {
        ASSERT_TRUE(result.has_value()) << result.error().message;
        EXPECT_EQ(result->width, c.pixels.width);
        EXPECT_EQ(result->height, c.pixels.height);
    } else {
        ASSERT_FALSE(result.has_value());
        EXPECT_EQ(result.error().kind, c.kind);
        EXPECT_EQ(result.error().message, c.message);
        EXPECT_EQ(result.error().page, 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, PagePixelSizeTest, ::testing::ValuesIn(kSizeCases));

TEST(PagePixelSize, FollowsOtherLimits) {
    ConvertLimits limits;
    limits.max_side_px = 1000;
    limits.max_page_pixels = 2'500'000;
    EXPECT_EQ(page_pixel_size({1000, 1000}, 72, limits), (PixelSize{1000, 1000}));
    EXPECT_EQ(page_pixel_size({1001, 10}, 72, limits).error().message,
              "At 72 DPI the page would be 1001 \u00D7 10 px; the maximum side is 1000 px. Lower "
              "the DPI.");
    limits.max_page_pixels = 999'999;
    EXPECT_EQ(page_pixel_size({1000, 1000}, 72, limits).error().message,
              "At 72 DPI the page would be 1000 \u00D7 1000 px (1 MP); the maximum is 0 MP per "
              "page. Lower the DPI.");
}

// --- Rendering ---------------------------------------------------------------

// The fixture pages are 200 x 100 points, so that at 72 DPI one point is one
// pixel; PDF's y axis points up, pixel rows count down from the top.
constexpr PixelSize kPageAt72{200, 100};

struct Rgb8 {
    int red;
    int green;
    int blue;
    friend bool operator==(const Rgb8&, const Rgb8&) = default;
};

std::ostream& operator<<(std::ostream& out, const Rgb8& c) {
    return out << "(" << c.red << ", " << c.green << ", " << c.blue << ")";
}

constexpr Rgb8 kWhite{255, 255, 255};
constexpr Rgb8 kBlack{0, 0, 0};
constexpr Rgb8 kRed{255, 0, 0};
constexpr Rgb8 kBlue{0, 0, 255};

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
        const std::lock_guard lock(pdfium_mutex);
        delete document;
    }
};
using Document = std::unique_ptr<PdfDocument, LockedClose>;

class RenderTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = new test::TempDir;
        test::write_file(*dir_ / "fixture.pdf", fixture_pdf());
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }

    // Opens the fixture; with `forms`, creates the form environment the way the
    // conversion does when form fields are wanted.
    static Document open(bool forms) {
        const std::lock_guard lock(pdfium_mutex);
        std::string password;
        auto opened = open_pdf(*dir_ / "fixture.pdf", password, ConvertLimits{});
        if (!opened) {
            ADD_FAILURE() << opened.error().message;
            return nullptr;
        }
        Document document(opened->release());
        if (forms) {
            document->forms = std::make_unique<FormEnvironment>(document->document);
        }
        return document;
    }

    MaybeError render(PdfDocument& document, std::uint32_t page, const ImageOptions& image,
                      PixelSize size = kPageAt72, const CancellationToken& token = {},
                      Deadline deadline = kNoDeadline) {
        const std::lock_guard lock(pdfium_mutex);
        return render_page(document, page, size, image, buffer_, stride_, token, deadline);
    }

    // Renders page 1 at 72 DPI, failing the test on an error.
    void render_page_one(bool forms, const ImageOptions& image) {
        const Document document = open(forms);
        ASSERT_TRUE(document);
        const MaybeError error = render(*document, 1, image);
        ASSERT_FALSE(error.has_value()) << error->message;
    }

    Rgb8 pixel(Spot spot) const {
        const std::uint8_t* p = buffer_.data() + spot.y * stride_ + spot.x * 4;
        return {p[2], p[1], p[0]};  // BGRx
    }

    static ImageOptions options(bool annotations = true) {
        ImageOptions image;
        image.dpi = 72;
        image.render_annotations = annotations;
        return image;
    }

    static test::TempDir* dir_;
    std::vector<std::uint8_t> buffer_;
    std::int32_t stride_ = -1;
};

test::TempDir* RenderTest::dir_ = nullptr;

TEST_F(RenderTest, PaintsBackgroundBehindTransparentAreas) {
    const struct {
        Rgb background;
        Rgb8 expected;
    } cases[] = {
        {Rgb{}, kWhite},
        {Rgb{0, 0, 0}, kBlack},
        {Rgb{30, 120, 200}, Rgb8{30, 120, 200}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.expected);
        ImageOptions image = options();
        image.background = c.background;
        render_page_one(false, image);
        EXPECT_EQ(pixel(kEmpty), c.expected);
        EXPECT_EQ(pixel({199, 99}), c.expected);
        EXPECT_EQ(pixel(kContent), kBlack);
    }
}

TEST_F(RenderTest, DrawsContentWhereThePageSaysAtAnyResolution) {
    // The rectangle spans x 20..60 and y 20..50 in points.
    render_page_one(false, options());
    EXPECT_EQ(pixel({20, 50}), kBlack);
    EXPECT_EQ(pixel({59, 79}), kBlack);
    EXPECT_EQ(pixel({19, 65}), kWhite);
    EXPECT_EQ(pixel({60, 65}), kWhite);
    EXPECT_EQ(pixel({40, 49}), kWhite);
    EXPECT_EQ(pixel({40, 80}), kWhite);

    const Document document = open(false);
    ImageOptions image = options();
    image.dpi = 144;
    ASSERT_FALSE(render(*document, 1, image, {400, 200}).has_value());
    EXPECT_EQ(pixel({40, 100}), kBlack);
    EXPECT_EQ(pixel({119, 159}), kBlack);
    EXPECT_EQ(pixel({39, 130}), kWhite);
    EXPECT_EQ(pixel({120, 130}), kWhite);
}

TEST_F(RenderTest, AnnotationsAndFormFieldsFollowTheirSwitches) {
    // Form fields are drawn by the form pass alone, so they show exactly when the
    // document has a form environment, whether annotations are on or off.
    const struct {
        bool forms;
        bool annotations;
    } cases[] = {{false, false}, {false, true}, {true, false}, {true, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << "forms " << c.forms << ", annotations " << c.annotations);
        render_page_one(c.forms, options(c.annotations));
        EXPECT_EQ(pixel(kContent), kBlack);
        EXPECT_EQ(pixel(kAnnotation), c.annotations ? kRed : kWhite);
        EXPECT_EQ(pixel(kField), c.forms ? kBlue : kWhite);
        EXPECT_EQ(pixel(kEmpty), kWhite);
    }
}

TEST_F(RenderTest, FormEnvironmentWithoutFieldsRendersAsUsual) {
    const Document document = open(true);
    ASSERT_FALSE(render(*document, 3, options()).has_value());
    EXPECT_EQ(pixel(kField), kWhite);
}

TEST_F(RenderTest, GrowsTheBufferButNeverShrinksIt) {
    const Document document = open(false);
    ASSERT_FALSE(render(*document, 1, options()).has_value());
    EXPECT_EQ(stride_, 200 * 4);
    EXPECT_EQ(buffer_.size(), 200u * 4u * 100u);

    // A larger buffer is used in place: only the page's rows are touched.
    buffer_.assign(200 * 4 * 100 * 3, 0x5A);
    const std::uint8_t* before = buffer_.data();
    ASSERT_FALSE(render(*document, 1, options()).has_value());
    EXPECT_EQ(buffer_.size(), 200u * 4u * 100u * 3u);
    EXPECT_EQ(buffer_.data(), before);
    EXPECT_EQ(stride_, 800);
    EXPECT_EQ(pixel(kContent), kBlack);
    EXPECT_EQ(pixel({199, 99}), kWhite);
    EXPECT_EQ(buffer_[200 * 4 * 100], 0x5A);
    EXPECT_EQ(buffer_.back(), 0x5A);

    // A smaller page keeps the buffer; a page that needs more grows it.
    ASSERT_FALSE(render(*document, 1, options(), {10, 5}).has_value());
    EXPECT_EQ(stride_, 40);
    EXPECT_EQ(buffer_.size(), 200u * 4u * 100u * 3u);
    ASSERT_FALSE(render(*document, 1, options(), {300, 250}).has_value());
    EXPECT_EQ(stride_, 1200);
    EXPECT_EQ(buffer_.size(), 300u * 4u * 250u);
}

TEST_F(RenderTest, MissingPageCannotBeLoaded) {
    const Document document = open(true);
    for (const std::uint32_t page : {0u, 4u, 4'000'000'000u}) {
        const MaybeError error = render(*document, page, options());
        ASSERT_TRUE(error.has_value());
        EXPECT_EQ(error->kind, ErrorKind::RenderFailed);
        EXPECT_EQ(error->message, "The page could not be loaded.");
        EXPECT_EQ(error->page, page);
    }
}

TEST_F(RenderTest, SetTokenCancelsEvenPastTheDeadline) {
    const Document document = open(true);
    CancellationToken token;
    token.cancel();
    for (const std::uint32_t page : {1u, 2u}) {
        for (const Deadline deadline : {kNoDeadline, Clock::now()}) {
            const MaybeError error = render(*document, page, options(), kPageAt72, token, deadline);
            ASSERT_TRUE(error.has_value());
            EXPECT_EQ(error->kind, ErrorKind::Cancelled);
            EXPECT_EQ(error->message, "Conversion was cancelled.");
            EXPECT_EQ(error->page, page);
        }
    }
}

TEST_F(RenderTest, PassedDeadlineTimesOut) {
    const Document document = open(false);
    const MaybeError error = render(*document, 2, options(), kPageAt72, {}, Clock::now());
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->kind, ErrorKind::TimedOut);
    EXPECT_EQ(error->message, "Rendering this page took longer than the allowed time.");
    EXPECT_EQ(error->page, 2u);

    // The same page renders with time to spare, and the document is still usable.
    const MaybeError again =
        render(*document, 2, options(), kPageAt72, {}, Clock::now() + std::chrono::hours(1));
    EXPECT_FALSE(again.has_value()) << again->message;
}

TEST_F(RenderTest, HeavyPagePausesThroughTheEngineCallback) {
    // Drives PDFium directly with the engine's pause record, to show that the
    // heavy fixture page really pauses and that PDFium hands the record back.
    const Document document = open(false);
    const std::lock_guard lock(pdfium_mutex);
    const LoadedPage page(document->document, 1, nullptr);
    ASSERT_NE(page.page(), nullptr);
    buffer_.assign(200 * 4 * 100, 0);
    FPDF_BITMAP bitmap = FPDFBitmap_CreateEx(200, 100, FPDFBitmap_BGRx, buffer_.data(), 800);
    ASSERT_NE(bitmap, nullptr);

    const CancellationToken token;
    RenderPause pause;
    pause.base.version = 1;
    pause.base.NeedToPauseNow = &need_to_pause_now;
    pause.cancelled = &token.flag();
    pause.deadline = Clock::now();
    int status =
        FPDF_RenderPageBitmap_Start(bitmap, page.page(), 0, 0, 200, 100, 0, 0, &pause.base);
    EXPECT_EQ(status, FPDF_RENDER_TOBECONTINUED);
    EXPECT_TRUE(pause.timed_out);

    pause.deadline = kNoDeadline;
    pause.timed_out = false;
    int rounds = 0;
    while (status == FPDF_RENDER_TOBECONTINUED && rounds < 100'000) {
        status = FPDF_RenderPage_Continue(page.page(), &pause.base);
        ++rounds;
    }
    EXPECT_EQ(status, FPDF_RENDER_DONE);
    EXPECT_FALSE(pause.timed_out);
    FPDF_RenderPage_Close(page.page());
    FPDFBitmap_Destroy(bitmap);
}

TEST(RenderPauseCallback, PausesOnCancellationOrPassedDeadline) {
    const auto past = Clock::now() - std::chrono::seconds(1);
    const auto future = Clock::now() + std::chrono::hours(1);
    const struct {
        bool cancelled;
        Deadline deadline;
        bool pause;
        bool timed_out;
    } cases[] = {
        {false, kNoDeadline, false, false},
        {false, future, false, false},
        {false, past, true, true},
        // Cancellation is checked first and is not a timeout.
        {true, kNoDeadline, true, false},
        {true, past, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << "cancelled " << c.cancelled << ", past " << (c.deadline == past));
        const CancellationToken token;
        if (c.cancelled) {
            token.cancel();
        }
        RenderPause pause;
        pause.base.version = 1;
        pause.base.NeedToPauseNow = &need_to_pause_now;
        pause.cancelled = &token.flag();
        pause.deadline = c.deadline;
        EXPECT_EQ(pause.base.NeedToPauseNow(&pause.base) != 0, c.pause);
        EXPECT_EQ(pause.timed_out, c.timed_out);
    }
}

TEST(VersionInfo, NamesTheApplicationAndTheLinkedLibraries) {
    const VersionInfo info = version_info();
    EXPECT_EQ(info.application, "0.1.0");
    // The pinned copies, or a system library's own version when one is used.
    EXPECT_TRUE(info.pdfium.rfind("chromium/", 0) == 0 || info.pdfium.rfind("system ", 0) == 0)
        << info.pdfium;
    EXPECT_EQ(info.libjpeg_turbo.rfind("3.", 0), 0u) << info.libjpeg_turbo;
}

}  // namespace
}  // namespace bl

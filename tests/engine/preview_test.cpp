// Seeing before converting: previews are the files a conversion writes, and
// thumbnails are drawn with the settings they are asked for.
#include "bl/preview.h"

#include <gtest/gtest.h>

#include "bl/job.h"
#include "engine/converter.h"
#include "tests/support/pdf_writer.h"
#include "tests/support/test_files.h"

namespace bl {
namespace {

using test::PdfWriter;

struct Spot {
    int x;
    int y;
};

// Pages of 200 x 100 points: a black rectangle in the content, a red square
// annotation and a green form field; the rest is transparent.
std::string fixture_pdf() {
    PdfWriter writer;
    const int red = writer.add_stream("/Type /XObject /Subtype /Form /BBox [0 0 40 40]",
                                      "1 0 0 rg 0 0 40 40 re f");
    const int green = writer.add_stream("/Type /XObject /Subtype /Form /BBox [0 0 40 40]",
                                        "0 1 0 rg 0 0 40 40 re f");
    const int field = writer.add_object(
        "<< /Type /Annot /Subtype /Widget /FT /Tx /T (f) /F 4 "
        "/Rect [150 20 190 60] /AP << /N " +
        PdfWriter::ref(green) + " >> >>");
    writer.set_catalog_entries("/AcroForm << /Fields [" + PdfWriter::ref(field) + "] >>");
    for (int page_number = 1; page_number <= 3; ++page_number) {
        test::PdfPage page = test::page_of_size(200, 100);
        page.content = "0 0 0 rg 20 20 40 30 re f BT /F1 9 Tf 70 80 Td (Page " +
                       std::to_string(page_number) + ") Tj ET";
        page.annotations.push_back(
            "<< /Type /Annot /Subtype /Square /Rect [100 20 140 60] /AP << /N " +
            PdfWriter::ref(red) + " >> >>");
        page.annotation_objects = {field};
        writer.add_page(page);
    }
    return writer.build();
}

class PreviewTest : public ::testing::Test {
  protected:
    void SetUp() override {
        test::write_file(dir_ / "fixture.pdf", fixture_pdf());
        auto opened = PreviewSession::open(dir_ / "fixture.pdf", {});
        ASSERT_TRUE(opened) << opened.error().message;
        session_ = std::move(*opened);
    }

    test::TempDir dir_;
    std::unique_ptr<PreviewSession> session_;
};

TEST_F(PreviewTest, AnOutputPreviewIsTheFileAConversionWrites) {
    using I = ImageOptions&;
    void (*const settings[])(I) = {
        [](I) {},
        [](I i) { i.dpi = 72, i.jpeg_quality = 40, i.chroma = 3; },
        [](I i) { i.render_annotations = false, i.render_form_fields = false; },
        [](I i) {
            i.background = {0, 0, 255}, i.dpi = 300, i.optimize_huffman = true;
        },
    };
    std::uint64_t total = 0;
    for (int row = 0; row < 4; ++row) {
        ConvertRequest request;
        request.input = dir_ / "fixture.pdf";
        request.output_folder = dir_ / std::to_string(row);
        request.naming_template = "p{page_number}";
        settings[row](request.image);
        std::filesystem::create_directories(request.output_folder);
        ASSERT_EQ(convert(request, {}, {}).error, std::nullopt);
        for (std::uint32_t page = 1; page <= 3; ++page) {
            const std::string written =
                test::read_file(request.output_folder / ("p" + std::to_string(page) + ".jpg"));
            const auto preview = session_->output_preview(page, request.image);
            ASSERT_TRUE(preview) << preview.error().message;
            EXPECT_EQ(std::string(preview->file.begin(), preview->file.end()), written)
                << row << ", page " << page;
            total += row == 0 ? written.size() : 0;
        }
    }
    // Sampling every page, an estimate is exact.
    const auto estimate = session_->estimate({1, 2, 3}, ImageOptions{}, 3);
    ASSERT_TRUE(estimate);
    EXPECT_EQ(std::tuple(estimate->bytes, estimate->images, estimate->sampled),
              std::tuple(total, 3u, 3u));
}

TEST_F(PreviewTest, ThumbnailsFitTheirBoxAndFollowTheBackgroundAndSwitches) {
    // Halved: the content, the annotation, the field and a bare corner.
    constexpr Spot kContent{20, 32}, kAnnotation{60, 30}, kField{85, 30}, kCorner{2, 2};
    for (const auto& [annotations, forms, background] : {std::tuple{true, true, Rgb{255, 255, 255}},
                                                         {false, true, Rgb{0, 0, 255}},
                                                         {true, false, Rgb{10, 200, 30}}}) {
        ImageOptions image;
        image.render_annotations = annotations;
        image.render_form_fields = forms;
        image.background = background;
        const auto thumbnail = session_->thumbnail(2, {100, 100}, image);
        ASSERT_TRUE(thumbnail) << thumbnail.error().message;
        ASSERT_EQ(thumbnail->size, (PixelSize{100, 50}));
        const auto at = [&](Spot spot) {
            const std::uint8_t* p = thumbnail->pixels.data() + (spot.y * 100 + spot.x) * 3;
            return Rgb{p[2], p[1], p[0]};
        };
        EXPECT_EQ(at(kCorner), background);
        EXPECT_EQ(at(kContent), (Rgb{0, 0, 0}));
        EXPECT_EQ(at(kAnnotation), (annotations ? Rgb{255, 0, 0} : background));
        EXPECT_EQ(at(kField), (forms ? Rgb{0, 255, 0} : background));
    }
    EXPECT_EQ(test::error_of(session_->thumbnail(4, {100, 100}, {})).kind,
              ErrorKind::InvalidPageSelection);
}

}  // namespace
}  // namespace bl

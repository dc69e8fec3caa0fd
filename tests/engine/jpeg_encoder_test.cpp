#include "engine/jpeg_encoder.h"

#include <gtest/gtest.h>

// libjpeg's header needs the standard C declarations first.
#include <jpeglib.h>
#include <cstdio>

#include <algorithm>
#include <array>
#include <limits>
#include <string>
#include <tuple>
#include <vector>

#include "tests/support/test_files.h"

namespace bl {
namespace {

using Rgb = std::array<std::uint8_t, 3>;

// Decodes with the system libjpeg, whose default error handler ends the test
// program on a broken file; warnings (a truncated file, say) fail the test.
// Returns "width x height, each component's sampling factors, the luma table's
// first entry, density unit: x, y" and the pixels as RGB, from greyscale too.
std::pair<std::string, std::vector<std::uint8_t>> decode(const std::vector<std::uint8_t>& jpeg) {
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
    jpeg_read_header(&info, TRUE);
    std::string header = std::to_string(info.image_width) + "x" + std::to_string(info.image_height);
    for (int i = 0; i < info.num_components; ++i) {
        header += " " + std::to_string(info.comp_info[i].h_samp_factor) + "x" +
                  std::to_string(info.comp_info[i].v_samp_factor);
    }
    header += " q" + std::to_string(info.quant_tbl_ptrs[0]->quantval[0]) + " " +
              std::to_string(info.density_unit) + ": " + std::to_string(info.X_density) + ", " +
              std::to_string(info.Y_density);
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    std::vector<std::uint8_t> rgb(info.output_width * info.output_height * 3);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = &rgb[info.output_scanline * info.output_width * 3];
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    EXPECT_EQ(errors.num_warnings, 0);
    jpeg_destroy_decompress(&info);
    return {header, rgb};
}

ImageOptions options(int quality, int chroma = 0, double dpi = 150.0) {
    ImageOptions image;
    image.jpeg_quality = quality;
    image.chroma = chroma;
    image.dpi = dpi;
    return image;
}

TEST(JpegEncoder, WritesQualitySubsamplingDensityAndColours) {
    // Four flat 32 x 32 quadrants, red, green, blue and grey, each probed at its
    // centre; beside it the luminance Y = 0.299 R + 0.587 G + 0.114 B.
    const std::tuple<int, int, Rgb, std::uint8_t> probes[] = {{16, 16, {255, 0, 0}, 76},
                                                              {48, 16, {0, 255, 0}, 150},
                                                              {16, 48, {0, 0, 255}, 29},
                                                              {48, 48, {128, 128, 128}, 128}};
    // BGRx, as the renderer leaves it, in rows padded with 0xA0 bytes, a value no
    // quadrant has, so that reading the x bytes or the padding, or rows at the
    // wrong distance, would show.
    constexpr int kStride = 64 * 4 + 30;
    std::vector<std::uint8_t> pixels(kStride * 64, 0xA0);
    for (int y = 0; y < 64; ++y) {
        for (int x = 0; x < 64; ++x) {
            const Rgb& c = std::get<2>(probes[(y / 32) * 2 + x / 32]);
            std::copy(c.rbegin(), c.rend(), &pixels[static_cast<std::size_t>(y * kStride + x * 4)]);
        }
    }
    // Quality, chroma mode and DPI; the sampling factors and density that must result.
    const std::tuple<int, int, double, std::string, int> cases[] = {
        {90, 0, 150.0, "1x1 1x1 1x1", 150},  // automatic is 4:4:4 from 90 on,
        {89, 0, 72.5, "2x2 1x1 1x1", 73},    // and 4:2:0 below
        {50, 1, 72.49, "1x1 1x1 1x1", 72},  {95, 2, 65535.0, "2x2 1x1 1x1", 65535},
        {40, 3, 150.0, "1x1", 150},          // greyscale whatever the quality
        {75, 7, 150.0, "1x1 1x1 1x1", 150},  // an unknown mode is 4:4:4
    };
    for (const auto& [quality, chroma, dpi, sampling, density] : cases) {
        SCOPED_TRACE(testing::Message() << "quality " << quality << ", chroma " << chroma);
        auto encoder = create_jpeg_encoder(options(quality, chroma, dpi));
        ASSERT_TRUE(encoder) << encoder.error().message;
        const auto jpeg = encode_jpeg(**encoder, pixels.data(), 64, 64, kStride);
        ASSERT_TRUE(jpeg) << jpeg.error().message;
        const auto [header, rgb] = decode(*jpeg);
        // The quality scales libjpeg's example luma table, which begins with 16;
        // the DPI is the density in dots (unit 1) per inch.
        const int scale = quality < 50 ? 5000 / quality : 200 - 2 * quality;
        const std::string dots = std::to_string(density);
        EXPECT_EQ(header, "64x64 " + sampling + " q" + std::to_string((16 * scale + 50) / 100) +
                              " 1: " + dots + ", " + dots);
        // Greyscale keeps the luminance.
        for (const auto& [x, y, colour, grey] : probes) {
            const Rgb expected = sampling == "1x1" ? Rgb{grey, grey, grey} : colour;
            for (std::size_t i = 0; i < 3; ++i) {
                EXPECT_NEAR(rgb[(y * 64 + x) * 3 + i], expected[i], 8) << x << "," << y;
            }
        }
    }
}

TEST(JpegEncoder, RefusesSettingsTheLibraryRejects) {
    // Qualities 0 and 101, densities 0 and 65536; DPIs beyond the int range must
    // fail without an undefined conversion.
    for (const ImageOptions& image :
         {options(0), options(101), options(90, 0, 0.4), options(90, 0, 65536.0),
          options(90, 0, 1e12), options(90, 0, std::numeric_limits<double>::quiet_NaN())}) {
        EXPECT_EQ(test::error_of(create_jpeg_encoder(image)).kind, ErrorKind::EncodeFailed)
            << image.jpeg_quality << " " << image.dpi;
    }
}

}  // namespace
}  // namespace bl

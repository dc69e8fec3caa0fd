#include "engine/jpeg_encoder.h"

#include <gtest/gtest.h>

// libjpeg's header needs the standard C declarations first.
#include <jpeglib.h>
#include <csetjmp>
#include <cstddef>
#include <cstdio>

#include <algorithm>
#include <functional>
#include <limits>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace bl {
namespace {

struct Colour {
    int red, green, blue;
};

// --- Decoding with the system libjpeg ----------------------------------------

struct Decoded {
    int width = 0, height = 0, components = 0;
    std::string sampling;  // horizontal x vertical factor of each component: "2x2 1x1 1x1"
    std::tuple<bool, int, int, int> density;  // JFIF marker seen, unit, x and y density
    bool progressive = true;
    std::vector<int> quant;             // the first and last entry of each quantisation table
    std::vector<std::uint8_t> samples;  // RGB, or one grey sample per pixel

    Colour at(int x, int y) const {
        const auto at = static_cast<std::size_t>((y * width + x) * components);
        const std::size_t last = components == 1 ? 0 : 2;
        return {samples[at], samples[at + last / 2], samples[at + last]};
    }
};

struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
};

[[noreturn]] void on_error(j_common_ptr info) {
    std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->jump, 1);
}

// Decodes a whole file, which must end with EOI and decode without a warning.
// Between setjmp and longjmp only objects declared before setjmp live.
Decoded decode(const std::vector<std::uint8_t>& jpeg) {
    Decoded out;
    EXPECT_TRUE(jpeg.size() >= 4 && jpeg[jpeg.size() - 2] == 0xFF && jpeg.back() == 0xD9);
    jpeg_decompress_struct info{};
    ErrorManager errors{};
    info.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = on_error;
    errors.base.emit_message = [](j_common_ptr, int) {};  // warnings are counted instead
    if (setjmp(errors.jump) != 0) {
        jpeg_destroy_decompress(&info);
        ADD_FAILURE() << "libjpeg cannot decode the file";
        return Decoded{};
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
    jpeg_read_header(&info, TRUE);
    out.width = static_cast<int>(info.image_width);
    out.height = static_cast<int>(info.image_height);
    for (int i = 0; i < info.num_components; ++i) {
        out.sampling += (i == 0 ? "" : " ") + std::to_string(info.comp_info[i].h_samp_factor) +
                        "x" + std::to_string(info.comp_info[i].v_samp_factor);
    }
    out.density = {info.saw_JFIF_marker != 0, info.density_unit, info.X_density, info.Y_density};
    out.progressive = info.progressive_mode != 0;
    for (const JQUANT_TBL* table : info.quant_tbl_ptrs) {
        if (table != nullptr) {
            out.quant.insert(out.quant.end(), {table->quantval[0], table->quantval[63]});
        }
    }
    info.out_color_space = info.num_components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_start_decompress(&info);
    out.components = info.output_components;
    out.samples.resize(static_cast<std::size_t>(out.width * out.height * out.components));
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = out.samples.data() +
                       static_cast<std::size_t>(info.output_scanline) * out.width * out.components;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    EXPECT_EQ(errors.base.num_warnings, 0);
    jpeg_destroy_decompress(&info);
    return out;
}

// libjpeg's scaling of the example quantisation tables for a quality.
int scaled_quant(int base, int quality) {
    const int scale = quality < 50 ? 5000 / quality : 200 - 2 * quality;
    return std::clamp((base * scale + 50) / 100, 1, 255);
}

void expect_near(Colour actual, Colour expected) {
    EXPECT_NEAR(actual.red, expected.red, 8);
    EXPECT_NEAR(actual.green, expected.green, 8);
    EXPECT_NEAR(actual.blue, expected.blue, 8);
}

// --- Test images ---------------------------------------------------------------

constexpr Colour kRed{255, 0, 0};
constexpr Colour kGreen{0, 255, 0};
constexpr Colour kBlue{0, 0, 255};
constexpr Colour kGrey{128, 128, 128};

// BGRx pixels, as the renderer leaves them, with `stride` bytes per row; any
// bytes beyond a row's pixels are 0xA0, a colour no test image uses, so that
// reading the padding as pixels, or rows at the wrong distance, would show.
struct Image {
    int width, height, stride;
    std::vector<std::uint8_t> pixels;
};

Image make_image(int width, int height, const std::function<Colour(int, int)>& colour, int stride) {
    Image image{width, height, stride,
                std::vector<std::uint8_t>(static_cast<std::size_t>(stride * height), 0xA0)};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const Colour c = colour(x, y);
            std::uint8_t* p = image.pixels.data() + y * stride + x * 4;
            p[0] = static_cast<std::uint8_t>(c.blue);
            p[1] = static_cast<std::uint8_t>(c.green);
            p[2] = static_cast<std::uint8_t>(c.red);
            p[3] = 0xFF;
        }
    }
    return image;
}

// Four flat quadrants of 32 x 32 pixels, red, green, blue and grey, probed at
// their centres.
Image quadrants() {
    return make_image(
        64, 64,
        [](int x, int y) { return y < 32 ? (x < 32 ? kRed : kGreen) : (x < 32 ? kBlue : kGrey); },
        64 * 4 + 30);
}
// Each probe's place and colour, and its luminance Y = 0.299 R + 0.587 G + 0.114 B.
const std::tuple<int, int, Colour, int> kProbes[] = {
    {16, 16, kRed, 76}, {48, 16, kGreen, 150}, {16, 48, kBlue, 29}, {48, 48, kGrey, 128}};

ImageOptions options(int quality, int chroma = 0, double dpi = 150.0) {
    ImageOptions image;
    image.jpeg_quality = quality;
    image.chroma = chroma;
    image.dpi = dpi;
    return image;
}

Result<std::vector<std::uint8_t>> encode(JpegEncoder& encoder, const Image& image) {
    return encode_jpeg(encoder, image.pixels.data(), image.width, image.height, image.stride);
}

std::vector<std::uint8_t> encode(const ImageOptions& options, const Image& image) {
    auto encoder = create_jpeg_encoder(options);
    auto jpeg = encoder ? encode(**encoder, image) : tl::unexpected(encoder.error());
    EXPECT_TRUE(jpeg) << jpeg.error().message;
    return jpeg.value_or(std::vector<std::uint8_t>{});
}

// --- Settings that reach the file ----------------------------------------------

TEST(JpegEncoder, WritesQualitySubsamplingDensityAndColours) {
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
        const Decoded decoded = decode(encode(options(quality, chroma, dpi), quadrants()));
        // Baseline, at the image's size, with the DPI as dots per inch.
        EXPECT_EQ(std::tuple(decoded.width, decoded.height, decoded.progressive, decoded.sampling),
                  std::tuple(64, 64, false, sampling));
        EXPECT_EQ(decoded.density, std::tuple(true, 1, density, density));
        // The example tables of the JPEG standard begin with 16 (luma) and 17
        // (chroma) and both end with 99; the quality scales them.
        std::vector<int> quant = {scaled_quant(16, quality), scaled_quant(99, quality)};
        if (decoded.components == 3) {
            quant.insert(quant.end(), {scaled_quant(17, quality), scaled_quant(99, quality)});
        }
        EXPECT_EQ(decoded.quant, quant);
        // Greyscale keeps the luminance.
        for (const auto& [x, y, colour, grey] : kProbes) {
            expect_near(decoded.at(x, y), sampling == "1x1" ? Colour{grey, grey, grey} : colour);
        }
    }
}

TEST(JpegEncoder, RefusesSettingsTheLibraryRejects) {
    // Qualities 0 and 101, densities 0 and 65536; DPIs beyond the int range must
    // fail without an undefined conversion.
    for (const ImageOptions& image :
         {options(0), options(101), options(90, 0, 0.4), options(90, 0, 65536.0),
          options(90, 0, 1e12), options(90, 0, std::numeric_limits<double>::quiet_NaN())}) {
        const auto encoder = create_jpeg_encoder(image);
        ASSERT_FALSE(encoder.has_value()) << image.jpeg_quality << " " << image.dpi;
        EXPECT_EQ(encoder.error().kind, ErrorKind::EncodeFailed);
        EXPECT_TRUE(encoder.error().message.starts_with("Invalid JPEG encoder settings: "));
    }
}

}  // namespace
}  // namespace bl

#include "engine/jpeg_encoder.h"

#include <gtest/gtest.h>

// libjpeg's header needs the standard C declarations first.
#include <jpeglib.h>
#include <csetjmp>
#include <cstddef>
#include <cstdio>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace bl {
namespace {

// --- Decoding with the system libjpeg ----------------------------------------

struct Colour {
    int red;
    int green;
    int blue;
};

struct Decoded {
    int width = 0;
    int height = 0;
    int components = 0;
    int h_sampling[3] = {};
    int v_sampling[3] = {};
    bool jfif = false;
    int density_unit = -1;
    int x_density = 0;
    int y_density = 0;
    bool progressive = true;
    int luma_quant[2] = {};    // the first and last entry of table 0
    int chroma_quant[2] = {};  // the same of table 1, when there is one
    long warnings = 0;
    std::vector<std::uint8_t> samples;  // RGB, or one grey sample per pixel

    Colour at(int x, int y) const {
        const std::size_t at = static_cast<std::size_t>((y * width + x) * components);
        if (components == 1) {
            return {samples[at], samples[at], samples[at]};
        }
        return {samples[at], samples[at + 1], samples[at + 2]};
    }
};

struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
};

[[noreturn]] void on_error(j_common_ptr info) {
    std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->jump, 1);
}

void on_message(j_common_ptr, int) {}

// Fills `out`, or returns false when libjpeg cannot decode the data. Between
// setjmp and longjmp only objects declared before setjmp live, as the jump
// requires.
bool decode(const std::vector<std::uint8_t>& jpeg, Decoded& out) {
    jpeg_decompress_struct info{};
    ErrorManager errors{};
    info.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = on_error;
    errors.base.emit_message = on_message;  // warnings are counted instead
    if (setjmp(errors.jump) != 0) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
    jpeg_read_header(&info, TRUE);

    out.width = static_cast<int>(info.image_width);
    out.height = static_cast<int>(info.image_height);
    out.components = info.num_components;
    for (int i = 0; i < info.num_components && i < 3; ++i) {
        out.h_sampling[i] = info.comp_info[i].h_samp_factor;
        out.v_sampling[i] = info.comp_info[i].v_samp_factor;
    }
    out.jfif = info.saw_JFIF_marker != 0;
    out.density_unit = info.density_unit;
    out.x_density = info.X_density;
    out.y_density = info.Y_density;
    out.progressive = info.progressive_mode != 0;
    for (int table = 0; table < 2; ++table) {
        if (info.quant_tbl_ptrs[table] != nullptr) {
            int* target = table == 0 ? out.luma_quant : out.chroma_quant;
            target[0] = info.quant_tbl_ptrs[table]->quantval[0];
            target[1] = info.quant_tbl_ptrs[table]->quantval[63];
        }
    }

    info.out_color_space = info.num_components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_start_decompress(&info);
    out.components = info.output_components;
    out.samples.resize(static_cast<std::size_t>(out.width) * out.height * out.components);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = out.samples.data() +
                       static_cast<std::size_t>(info.output_scanline) * out.width * out.components;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    out.warnings = errors.base.num_warnings;
    jpeg_destroy_decompress(&info);
    return true;
}

// A whole file: starts with SOI, ends with EOI, and decodes without complaint.
void expect_complete(const std::vector<std::uint8_t>& jpeg, Decoded& decoded) {
    ASSERT_GE(jpeg.size(), 4u);
    EXPECT_EQ(jpeg[0], 0xFF);
    EXPECT_EQ(jpeg[1], 0xD8);
    EXPECT_EQ(jpeg[jpeg.size() - 2], 0xFF);
    EXPECT_EQ(jpeg[jpeg.size() - 1], 0xD9);
    ASSERT_TRUE(decode(jpeg, decoded));
    EXPECT_EQ(decoded.warnings, 0);
}

// libjpeg's scaling of the example quantisation tables for a quality.
int scaled_quant(int base, int quality) {
    const int scale = quality < 50 ? 5000 / quality : 200 - 2 * quality;
    const int value = (base * scale + 50) / 100;
    return value < 1 ? 1 : (value > 255 ? 255 : value);
}

// --- Test images ---------------------------------------------------------------

// BGRx pixels, as the renderer leaves them, with `stride` bytes per row; any
// bytes beyond the row's pixels are set to `padding`.
struct Image {
    int width;
    int height;
    int stride;
    std::vector<std::uint8_t> pixels;

    Image(int w, int h, int row_bytes, std::uint8_t padding = 0)
        : width(w),
          height(h),
          stride(row_bytes),
          pixels(static_cast<std::size_t>(row_bytes) * h, padding) {}

    void set(int x, int y, Colour c) {
        std::uint8_t* p = pixels.data() + static_cast<std::size_t>(y) * stride + x * 4;
        p[0] = static_cast<std::uint8_t>(c.blue);
        p[1] = static_cast<std::uint8_t>(c.green);
        p[2] = static_cast<std::uint8_t>(c.red);
        p[3] = 0xFF;
    }
};

constexpr Colour kRed{255, 0, 0};
constexpr Colour kGreen{0, 255, 0};
constexpr Colour kBlue{0, 0, 255};
constexpr Colour kGrey{128, 128, 128};

// Four flat quadrants of 32 x 32 pixels: red, green, blue and grey.
Image quadrants(int stride = 64 * 4, std::uint8_t padding = 0) {
    Image image(64, 64, stride, padding);
    for (int y = 0; y < 64; ++y) {
        for (int x = 0; x < 64; ++x) {
            image.set(x, y, y < 32 ? (x < 32 ? kRed : kGreen) : (x < 32 ? kBlue : kGrey));
        }
    }
    return image;
}

// Colour centres of the four quadrants.
struct Probe {
    int x;
    int y;
    Colour colour;
};
constexpr Probe kProbes[] = {{16, 16, kRed}, {48, 16, kGreen}, {16, 48, kBlue}, {48, 48, kGrey}};

void expect_near(Colour actual, Colour expected, int tolerance) {
    EXPECT_NEAR(actual.red, expected.red, tolerance);
    EXPECT_NEAR(actual.green, expected.green, tolerance);
    EXPECT_NEAR(actual.blue, expected.blue, tolerance);
}

ImageOptions options(int quality, int chroma = 0, double dpi = 150.0) {
    ImageOptions image;
    image.jpeg_quality = quality;
    image.chroma = chroma;
    image.dpi = dpi;
    return image;
}

std::vector<std::uint8_t> encode(const ImageOptions& options, const Image& image) {
    auto encoder = create_jpeg_encoder(options);
    if (!encoder) {
        ADD_FAILURE() << encoder.error().message;
        return {};
    }
    auto jpeg =
        encode_jpeg(**encoder, image.pixels.data(), image.width, image.height, image.stride);
    if (!jpeg) {
        ADD_FAILURE() << jpeg.error().message;
        return {};
    }
    return *jpeg;
}

// --- Settings that reach the file ----------------------------------------------

struct SamplingCase {
    const char* name;
    int quality;
    int chroma;
    int components;
    int luma_sampling;  // horizontal and vertical factor of the first component
};

void PrintTo(const SamplingCase& c, std::ostream* out) {
    *out << c.name;
}

const SamplingCase kSamplingCases[] = {
    {"automatic at 90 is 4:4:4", 90, 0, 3, 1},
    {"automatic at 100 is 4:4:4", 100, 0, 3, 1},
    {"automatic at 89 is 4:2:0", 89, 0, 3, 2},
    {"automatic at 1 is 4:2:0", 1, 0, 3, 2},
    {"4:4:4 at 50", 50, 1, 3, 1},
    {"4:2:0 at 95", 95, 2, 3, 2},
    {"greyscale at 90", 90, 3, 1, 1},
    {"greyscale at 40", 40, 3, 1, 1},
    {"unknown mode is 4:4:4", 75, 7, 3, 1},
    {"negative mode is 4:4:4", 75, -1, 3, 1},
};

class JpegSamplingTest : public ::testing::TestWithParam<SamplingCase> {};

TEST_P(JpegSamplingTest, WritesQualityAndSubsampling) {
    const SamplingCase& c = GetParam();
    const std::vector<std::uint8_t> jpeg = encode(options(c.quality, c.chroma), quadrants());
    Decoded decoded;
    expect_complete(jpeg, decoded);

    EXPECT_EQ(decoded.width, 64);
    EXPECT_EQ(decoded.height, 64);
    EXPECT_FALSE(decoded.progressive);
    ASSERT_EQ(decoded.components, c.components);
    EXPECT_EQ(decoded.h_sampling[0], c.luma_sampling);
    EXPECT_EQ(decoded.v_sampling[0], c.luma_sampling);
    for (int i = 1; i < c.components; ++i) {
        EXPECT_EQ(decoded.h_sampling[i], 1);
        EXPECT_EQ(decoded.v_sampling[i], 1);
    }
    // The example tables of the JPEG standard begin with 16 (luma) and 17
    // (chroma) and both end with 99; the quality scales them.
    EXPECT_EQ(decoded.luma_quant[0], scaled_quant(16, c.quality));
    EXPECT_EQ(decoded.luma_quant[1], scaled_quant(99, c.quality));
    if (c.components == 3) {
        EXPECT_EQ(decoded.chroma_quant[0], scaled_quant(17, c.quality));
        EXPECT_EQ(decoded.chroma_quant[1], scaled_quant(99, c.quality));
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, JpegSamplingTest, ::testing::ValuesIn(kSamplingCases));

TEST(JpegEncoder, RecordsTheDpiAsDensity) {
    const struct {
        double dpi;
        int density;
    } cases[] = {{150.0, 150}, {72.5, 73}, {72.49, 72}, {600.0, 600}, {10.0, 10}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.dpi);
        Decoded decoded;
        expect_complete(encode(options(90, 0, c.dpi), quadrants()), decoded);
        EXPECT_TRUE(decoded.jfif);
        EXPECT_EQ(decoded.density_unit, 1);  // dots per inch
        EXPECT_EQ(decoded.x_density, c.density);
        EXPECT_EQ(decoded.y_density, c.density);
    }
}

// --- Pixels ----------------------------------------------------------------------

TEST(JpegEncoder, KeepsTheColoursOfBgrxPixels) {
    for (const int quality : {90, 89}) {
        SCOPED_TRACE(quality);
        Decoded decoded;
        expect_complete(encode(options(quality), quadrants()), decoded);
        for (const Probe& probe : kProbes) {
            expect_near(decoded.at(probe.x, probe.y), probe.colour, 8);
        }
    }
}

TEST(JpegEncoder, GreyscaleKeepsTheLuminance) {
    Decoded decoded;
    expect_complete(encode(options(90, 3), quadrants()), decoded);
    ASSERT_EQ(decoded.components, 1);
    // Y = 0.299 R + 0.587 G + 0.114 B
    const int expected[] = {76, 150, 29, 128};
    for (int i = 0; i < 4; ++i) {
        EXPECT_NEAR(decoded.at(kProbes[i].x, kProbes[i].y).red, expected[i], 4);
    }
}

TEST(JpegEncoder, HonoursARowStrideWiderThanThePixels) {
    // Padding in a colour the image does not use: reading it as pixels, or rows at
    // the wrong distance, would show up at the probes.
    const Image image = quadrants(64 * 4 + 30, 0xA0);
    Decoded decoded;
    expect_complete(encode(options(90), image), decoded);
    EXPECT_EQ(decoded.width, 64);
    for (const Probe& probe : kProbes) {
        expect_near(decoded.at(probe.x, probe.y), probe.colour, 8);
    }
    expect_near(decoded.at(63, 63), kGrey, 8);
}

TEST(JpegEncoder, EncodesPageAfterPageIntoIndependentFiles) {
    auto encoder = create_jpeg_encoder(options(90));
    ASSERT_TRUE(encoder.has_value()) << encoder.error().message;

    Image first(40, 24, 40 * 4);
    Image second(56, 32, 56 * 4);
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 56; ++x) {
            if (x < 40 && y < 24) {
                first.set(x, y, kRed);
            }
            second.set(x, y, kBlue);
        }
    }
    auto a = encode_jpeg(**encoder, first.pixels.data(), 40, 24, first.stride);
    auto b = encode_jpeg(**encoder, second.pixels.data(), 56, 32, second.stride);
    ASSERT_TRUE(a.has_value()) << a.error().message;
    ASSERT_TRUE(b.has_value()) << b.error().message;
    EXPECT_NE(*a, *b);

    Decoded decoded_a;
    Decoded decoded_b;
    expect_complete(*a, decoded_a);
    expect_complete(*b, decoded_b);
    EXPECT_EQ(decoded_a.width, 40);
    EXPECT_EQ(decoded_a.height, 24);
    EXPECT_EQ(decoded_b.width, 56);
    EXPECT_EQ(decoded_b.height, 32);
    expect_near(decoded_a.at(20, 12), kRed, 8);
    expect_near(decoded_b.at(28, 16), kBlue, 8);
    // Same settings for every page of the job.
    EXPECT_EQ(decoded_b.x_density, 150);
    EXPECT_EQ(decoded_b.h_sampling[0], 1);
}

TEST(JpegEncoder, OptimizedHuffmanTablesAreValidAndNoLarger) {
    Image image(128, 128, 128 * 4);
    for (int y = 0; y < 128; ++y) {
        for (int x = 0; x < 128; ++x) {
            image.set(x, y, {x * 2, y * 2, (x * y) % 256});
        }
    }
    ImageOptions optimized = options(90);
    optimized.optimize_huffman = true;
    const std::vector<std::uint8_t> plain = encode(options(90), image);
    const std::vector<std::uint8_t> smaller = encode(optimized, image);

    Decoded decoded_plain;
    Decoded decoded_smaller;
    expect_complete(plain, decoded_plain);
    expect_complete(smaller, decoded_smaller);
    EXPECT_LE(smaller.size(), plain.size());
    EXPECT_NE(smaller, plain);  // the setting reached the library
    // Huffman coding is lossless: the same pixels come back.
    EXPECT_EQ(decoded_smaller.samples, decoded_plain.samples);
}

// --- Failures ----------------------------------------------------------------------

TEST(JpegEncoder, RefusesSettingsTheLibraryRejects) {
    const struct {
        const char* name;
        ImageOptions image;
    } cases[] = {
        {"quality 0", options(0)},
        {"quality 101", options(101)},
        {"quality -5", options(-5)},
        {"density 0", options(90, 0, 0.4)},
        {"density 65536", options(90, 0, 65536.0)},
        // Beyond the int range: must fail without an undefined conversion.
        {"dpi 1e12", options(90, 0, 1e12)},
        {"dpi -1e12", options(90, 0, -1e12)},
        {"dpi nan", options(90, 0, std::numeric_limits<double>::quiet_NaN())},
        {"dpi infinite", options(90, 0, std::numeric_limits<double>::infinity())},
    };
    const std::string prefix = "Invalid JPEG encoder settings: ";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto encoder = create_jpeg_encoder(c.image);
        ASSERT_FALSE(encoder.has_value());
        EXPECT_EQ(encoder.error().kind, ErrorKind::EncodeFailed);
        EXPECT_EQ(encoder.error().page, 0u);
        EXPECT_EQ(encoder.error().message.rfind(prefix, 0), 0u) << encoder.error().message;
        EXPECT_GT(encoder.error().message.size(), prefix.size());
    }
}

TEST(JpegEncoder, LargestDensityIsAccepted) {
    Decoded decoded;
    expect_complete(encode(options(90, 0, 65535.0), quadrants()), decoded);
    EXPECT_EQ(decoded.x_density, 65535);
}

TEST(JpegEncoder, FailedEncodeLeavesTheEncoderUsable) {
    auto encoder = create_jpeg_encoder(options(90));
    ASSERT_TRUE(encoder.has_value()) << encoder.error().message;
    const Image image = quadrants();
    const auto failed = encode_jpeg(**encoder, image.pixels.data(), 0, 64, image.stride);
    ASSERT_FALSE(failed.has_value());
    EXPECT_EQ(failed.error().kind, ErrorKind::EncodeFailed);
    EXPECT_EQ(failed.error().page, 0u);
    const std::string prefix = "JPEG encoding failed: ";
    EXPECT_EQ(failed.error().message.rfind(prefix, 0), 0u) << failed.error().message;
    EXPECT_GT(failed.error().message.size(), prefix.size());

    const auto next = encode_jpeg(**encoder, image.pixels.data(), 64, 64, image.stride);
    ASSERT_TRUE(next.has_value()) << next.error().message;
    Decoded decoded;
    expect_complete(*next, decoded);
    expect_near(decoded.at(16, 16), kRed, 8);
}

}  // namespace
}  // namespace bl

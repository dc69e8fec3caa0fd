#include "engine/image_format.h"

#include "engine/jpeg_encoder.h"

namespace bl {

namespace {

class JpegImageEncoder final : public ImageEncoder {
  public:
    explicit JpegImageEncoder(std::unique_ptr<JpegEncoder> encoder)
        : encoder_(std::move(encoder)) {}

    Result<std::vector<std::uint8_t>> encode(const std::uint8_t* pixels, std::int32_t width,
                                             std::int32_t height, std::int32_t stride,
                                             bool three_bytes) override {
        return encode_jpeg(*encoder_, pixels, width, height, stride, three_bytes);
    }

  private:
    std::unique_ptr<JpegEncoder> encoder_;
};

Result<std::unique_ptr<ImageEncoder>> create_jpeg(const ImageOptions& image) {
    auto encoder = create_jpeg_encoder(image);
    if (!encoder) {
        return tl::unexpected(std::move(encoder.error()));
    }
    return std::make_unique<JpegImageEncoder>(std::move(*encoder));
}

constexpr ImageFormat kJpeg{".jpg", &create_jpeg};

}  // namespace

const ImageFormat& image_format(const ImageOptions&) {
    return kJpeg;
}

}  // namespace bl

// JPEG encoding of rendered pages through TurboJPEG 3.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/convert_types.h"
#include "engine/turbojpeg_api.h"

namespace bl {

// One configured compressor, used for every page of a job, by one encode at a
// time.
class JpegEncoder {
  public:
    explicit JpegEncoder(tjhandle handle) : handle_(handle) {}
    JpegEncoder(const JpegEncoder&) = delete;
    JpegEncoder& operator=(const JpegEncoder&) = delete;
    ~JpegEncoder();

    tjhandle handle() const { return handle_; }

  private:
    tjhandle handle_;
};

// A compressor set up for the job's quality, subsampling, density and Huffman
// choice.
Result<std::unique_ptr<JpegEncoder>> create_jpeg_encoder(const ImageOptions& image);

// One complete JFIF file from BGRx pixels, or BGR ones with `three_bytes`; the
// pixels are only read.
Result<std::vector<std::uint8_t>> encode_jpeg(JpegEncoder& encoder, const std::uint8_t* pixels,
                                              std::int32_t width, std::int32_t height,
                                              std::int32_t stride, bool three_bytes = false);

}  // namespace bl

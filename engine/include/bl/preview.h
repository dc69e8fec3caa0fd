// Seeing pages before converting them: one document kept open in one
// sandboxed render helper, which draws thumbnails and previews of the very
// files a conversion would write, under the same limits as a conversion.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bl/convert_types.h"
#include "bl/pixel_size.h"
#include "bl/secret.h"

namespace bl {

// A page drawn small: BGR pixels, rows of exactly width * 3 bytes.
struct Thumbnail {
    PixelSize size;
    std::vector<std::uint8_t> pixels;
};

// A page as a conversion would write it, held in memory.
struct OutputPreview {
    PixelSize size;
    std::vector<std::uint8_t> file;  // the whole image file
};

// What a job's pages would come to, from a few of them converted in memory.
struct OutputEstimate {
    std::uint64_t bytes = 0;    // all selected pages together
    std::uint32_t images = 0;   // the selected pages
    std::uint32_t sampled = 0;  // the pages actually converted for it
};

class PreviewSession {
  public:
    // Checks and opens the PDF in a render helper, as an inspection does, and
    // keeps it open. The password crosses to the helper once. The token ends
    // an open that is under way within a second.
    static Result<std::unique_ptr<PreviewSession>> open(const std::filesystem::path& path,
                                                        Secret password,
                                                        const ConvertLimits& limits = {},
                                                        const CancellationToken& token = {});
    PreviewSession(const PreviewSession&) = delete;
    PreviewSession& operator=(const PreviewSession&) = delete;
    ~PreviewSession();

    const DocumentInfo& document() const;

    // Page `page` (1-based) drawn to fit a box of `box` pixels, with the
    // background and the annotation and form-field switches of `image`.
    Result<Thumbnail> thumbnail(std::uint32_t page, PixelSize box, const ImageOptions& image,
                                const CancellationToken& token = {});

    // Page `page` exactly as a conversion with `image` would write it, encoded in
    // memory. The request's checks apply: the DPI and quality ranges and the
    // page's pixel limits.
    Result<OutputPreview> output_preview(std::uint32_t page, const ImageOptions& image,
                                         const CancellationToken& token = {});

    // The output of converting `pages` with `image`: `samples` of them, spread
    // over the selection, are converted in memory and the rest scaled from
    // them by their pixel counts.
    Result<OutputEstimate> estimate(const std::vector<std::int32_t>& pages,
                                    const ImageOptions& image, std::uint32_t samples,
                                    const CancellationToken& token = {});

    // Calls run one at a time: a session belongs to one thread at a time.
    struct Parts;

  private:
    explicit PreviewSession(std::unique_ptr<Parts> parts);
    std::unique_ptr<Parts> parts_;
};

}  // namespace bl

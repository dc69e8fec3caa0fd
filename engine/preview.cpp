#include "bl/preview.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "engine/converter.h"
#include "engine/errors.h"
#include "engine/image_format.h"
#include "engine/input_file.h"
#include "engine/render_helper.h"
#include "engine/render_pool.h"

namespace bl {

namespace {

// Previews are drawn like the pages of a conversion: three bytes a pixel.
constexpr std::int32_t kPixelBytes = 3;

ConvertError invalid_page_error(std::uint32_t page) {
    return make_error(ErrorKind::InvalidPageSelection,
                      "Page " + std::to_string(page) + " does not exist.", page);
}

}  // namespace

struct PreviewSession::Parts {
    std::unique_ptr<InputFile> input;
    std::unique_ptr<ControlPage> control;
    ConvertLimits limits;
    std::unique_ptr<RenderPool> pool;
    DocumentInfo info;
    std::uint32_t renders = 0;  // each render's own index in the pool

    // Draws one page at `size` into the pool's buffer; the outcome holds the
    // buffer, which the caller releases.
    Result<RenderOutcome> render(std::uint32_t page, PixelSize size, const ImageOptions& image,
                                 const CancellationToken& token) {
        pool->set_token(token);
        pool->set_image(image);
        const auto bytes = static_cast<std::size_t>(size.width) * kPixelBytes *
                           static_cast<std::size_t>(size.height);
        if (!pool->ensure_buffers(bytes)) {
            return tl::unexpected(render_out_of_memory_error(page));
        }
        pool->dispatch(renders++, page, size, deadline_after(limits.page_timeout_ms, Clock::now()));
        for (;;) {
            for (RenderOutcome& outcome : pool->wait(kNoDeadline)) {
                if (outcome.error) {
                    return tl::unexpected(std::move(*outcome.error));
                }
                return std::move(outcome);
            }
        }
    }
};

PreviewSession::PreviewSession(std::unique_ptr<Parts> parts) : parts_(std::move(parts)) {}

PreviewSession::~PreviewSession() = default;

Result<std::unique_ptr<PreviewSession>> PreviewSession::open(const std::filesystem::path& path,
                                                             Secret password,
                                                             const ConvertLimits& limits,
                                                             const CancellationToken& token) {
    if (auto problem = check_password(password.view())) {
        return tl::unexpected(std::move(*problem));
    }
    try {
        auto parts = std::make_unique<Parts>();
        parts->limits = limits;
        auto input = open_input_file(path, limits.max_input_bytes);
        if (!input) {
            return tl::unexpected(std::move(input.error()));
        }
        parts->input = std::move(*input);
        auto control = ControlPage::create();
        if (!control) {
            return tl::unexpected(std::move(control.error()));
        }
        parts->control = std::move(*control);
        // Opened with forms, so that each drawing may have them or not.
        parts->pool = std::make_unique<RenderPool>(*parts->input, *parts->control, ImageOptions{},
                                                   parts->limits, token, true);
        parts->pool->run_in_background();
        auto info = parts->pool->open(std::move(password), open_deadline(limits, Clock::now()),
                                      kNoDeadline);
        if (!info) {
            return tl::unexpected(std::move(info.error()));
        }
        parts->info = std::move(*info);
        return std::unique_ptr<PreviewSession>(new PreviewSession(std::move(parts)));
    } catch (const std::bad_alloc&) {
        return tl::unexpected(open_out_of_memory_error());
    } catch (...) {
        return tl::unexpected(internal_error());
    }
}

const DocumentInfo& PreviewSession::document() const {
    return parts_->info;
}

Result<Thumbnail> PreviewSession::thumbnail(std::uint32_t page, PixelSize box,
                                            const ImageOptions& image,
                                            const CancellationToken& token) {
    if (page < 1 || page > parts_->info.page_sizes.size()) {
        return tl::unexpected(invalid_page_error(page));
    }
    const PageSize points = parts_->info.page_sizes[page - 1];
    if (!(points.width > 0 && points.height > 0) || box.width < 1 || box.height < 1) {
        return fail(ErrorKind::DamagedPdf, "The page has an invalid size.", page);
    }
    const double scale = std::min(box.width / points.width, box.height / points.height);
    Thumbnail thumbnail;
    thumbnail.size.width = std::clamp<std::int32_t>(
        static_cast<std::int32_t>(std::lround(points.width * scale)), 1, box.width);
    thumbnail.size.height = std::clamp<std::int32_t>(
        static_cast<std::int32_t>(std::lround(points.height * scale)), 1, box.height);
    auto rendered = parts_->render(page, thumbnail.size, image, token);
    if (!rendered) {
        return tl::unexpected(std::move(rendered.error()));
    }
    // Rows are exactly width * 3 bytes in the pool's buffers too.
    const std::size_t bytes = static_cast<std::size_t>(rendered->stride) *
                              static_cast<std::size_t>(thumbnail.size.height);
    const std::uint8_t* pixels = parts_->pool->pixels(rendered->buffer);
    thumbnail.pixels.assign(pixels, pixels + bytes);
    parts_->pool->release(rendered->buffer);
    return thumbnail;
}

Result<OutputPreview> PreviewSession::output_preview(std::uint32_t page, const ImageOptions& image,
                                                     const CancellationToken& token) {
    if (auto problem = check_image_options(image, parts_->limits)) {
        return tl::unexpected(std::move(*problem));
    }
    if (page < 1 || page > parts_->info.page_sizes.size()) {
        return tl::unexpected(invalid_page_error(page));
    }
    // As the plan of a job words it.
    auto size = page_pixel_size(parts_->info.page_sizes[page - 1], image.dpi, parts_->limits);
    if (!size) {
        ConvertError error = std::move(size.error());
        error.message = "Page " + std::to_string(page) + ": " + error.message;
        error.page = page;
        return tl::unexpected(std::move(error));
    }
    auto encoder = image_format(image).create_encoder(image);
    if (!encoder) {
        return tl::unexpected(std::move(encoder.error()));
    }
    auto rendered = parts_->render(page, *size, image, token);
    if (!rendered) {
        return tl::unexpected(std::move(rendered.error()));
    }
    auto file = (*encoder)->encode(parts_->pool->pixels(rendered->buffer), size->width,
                                   size->height, rendered->stride, kPixelBytes == 3);
    parts_->pool->release(rendered->buffer);
    if (!file) {
        return tl::unexpected(std::move(file.error()));
    }
    return OutputPreview{*size, std::move(*file)};
}

Result<OutputEstimate> PreviewSession::estimate(const std::vector<std::int32_t>& pages,
                                                const ImageOptions& image, std::uint32_t samples,
                                                const CancellationToken& token) {
    for (const std::int32_t page : pages) {
        if (page < 1 || static_cast<std::size_t>(page) > parts_->info.page_sizes.size()) {
            return tl::unexpected(invalid_page_error(static_cast<std::uint32_t>(page)));
        }
    }
    OutputEstimate estimate;
    estimate.images = static_cast<std::uint32_t>(pages.size());
    if (pages.empty()) {
        return estimate;
    }
    // The middle page of each of `count` equal stretches of the selection:
    // manuals change their kind of page along the way, and their first and last
    // pages (a title, an index) are like no other.
    const std::size_t count = std::clamp<std::size_t>(samples, 1, pages.size());
    double sampled_bytes = 0;
    double sampled_pixels = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t at = (2 * i + 1) * pages.size() / (2 * count);
        auto preview = output_preview(static_cast<std::uint32_t>(pages[at]), image, token);
        if (!preview) {
            return tl::unexpected(std::move(preview.error()));
        }
        sampled_bytes += static_cast<double>(preview->file.size());
        sampled_pixels += static_cast<double>(preview->size.width) * preview->size.height;
        ++estimate.sampled;
    }
    // The rest in proportion to their pixels, which their sizes are known by.
    double all_pixels = 0;
    for (const std::int32_t page : pages) {
        if (auto size = page_pixel_size(parts_->info.page_sizes[static_cast<std::size_t>(page - 1)],
                                        image.dpi, parts_->limits)) {
            all_pixels += static_cast<double>(size->width) * size->height;
        }
    }
    estimate.bytes = static_cast<std::uint64_t>(
        std::llround(sampled_pixels > 0 ? sampled_bytes * all_pixels / sampled_pixels : 0));
    return estimate;
}

}  // namespace bl

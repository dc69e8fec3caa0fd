#include "engine/converter.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include "bl/job.h"
#include "bl/live_checks.h"
#include "engine/errors.h"
#include "engine/image_format.h"
#include "engine/input_file.h"
#include "engine/output_file.h"
#include "engine/page_pipeline.h"
#include "engine/render_helper.h"
#include "engine/render_pool.h"

namespace bl {

namespace {

// Pages are drawn as BGR, three bytes a pixel: the background is opaque, so the
// fourth byte of BGRx would carry nothing but cost memory and its traffic. The
// JPEG files are the same bit for bit.
constexpr std::int32_t kPixelBytes = 3;

// A job from its request to its pages' plan: the checks, the open, the
// selection, every page's size and name. The pages then go their way
// (page_pipeline.h).
class Job {
  public:
    Job(ConvertRequest& request, const ProgressCallback& progress, const CancellationToken& token,
        const detail::DriverHooks& hooks)
        : request_(request),
          progress_(progress),
          token_(token),
          hooks_(hooks),
          job_deadline_(deadline_after(request.limits.job_timeout_ms, Clock::now())) {}

    ConvertResult run();

  private:
    MaybeError open_document();
    MaybeError prepare_helpers();

    ConvertRequest& request_;
    const ProgressCallback& progress_;
    const CancellationToken& token_;
    const detail::DriverHooks& hooks_;
    const Deadline job_deadline_;

    ConvertResult result_;
    std::vector<PlannedPage> pages_;
    std::size_t helpers_ = 1;
    std::unique_ptr<InputFile> input_;
    std::unique_ptr<ControlPage> control_;
    std::unique_ptr<RenderPool> pool_;
};

MaybeError Job::open_document() {
    auto input = open_input_file(request_.input, request_.limits.max_input_bytes);
    if (!input) {
        return std::move(input.error());
    }
    input_ = std::move(*input);
    auto control = ControlPage::create();
    if (!control) {
        return std::move(control.error());
    }
    control_ = std::move(*control);
    pool_ = std::make_unique<RenderPool>(*input_, *control_, request_.image, request_.limits,
                                         token_, request_.image.render_form_fields);
    // Opening is held to the limits of a page, and to the job's.
    const Deadline deadline = std::min(open_deadline(request_.limits, Clock::now()), job_deadline_);
    auto opened = pool_->open(std::move(request_.password), deadline, job_deadline_);
    if (!pool_->last_report().empty()) {
        result_.diagnostics.push_back("Opening: " + pool_->last_report());
    }
    if (!opened) {
        result_.cancelled = opened.error().kind == ErrorKind::Cancelled;
        return std::move(opened.error());
    }
    result_.document = std::move(*opened);
    return std::nullopt;
}

MaybeError Job::prepare_helpers() {
    // The encoder is checked here, so that settings it refuses fail the job
    // before any page; each encode thread then makes its own.
    if (auto encoder = image_format(request_.image).create_encoder(request_.image); !encoder) {
        return std::move(encoder.error());
    }
    // Only the pages to be rendered need helpers and buffers.
    std::size_t largest = 0;
    std::size_t to_render = 0;
    for (const PlannedPage& page : pages_) {
        if (!page.skip) {
            ++to_render;
            largest = std::max(largest, static_cast<std::size_t>(page.size.width) * kPixelBytes *
                                            static_cast<std::size_t>(page.size.height));
        }
    }
    helpers_ = static_cast<std::size_t>(render_helpers_for(request_.limits, largest));
    if (const int forced = hooks_.render_helpers; forced > 0) {
        helpers_ = static_cast<std::size_t>(forced);
    }
    // More helpers than pages would only wait.
    helpers_ = std::max<std::size_t>(std::min(helpers_, to_render), 1);
    // A page being encoded while every helper draws needs one buffer more.
    const std::size_t buffers = std::min(helpers_ + 1, to_render);
    if (!pool_->prepare(helpers_, buffers, largest, kPixelBytes)) {
        return job_out_of_memory_error();
    }
    return std::nullopt;
}

ConvertResult Job::run() {
    if (auto invalid = validate_request(request_)) {
        result_.error = std::move(invalid);
        return std::move(result_);
    }
    MaybeError problem = open_document();
    if (!problem) {
        auto selection = parse_page_selection(request_.pages, result_.document.page_count);
        if (!selection) {
            problem = std::move(selection.error());
        } else if (auto planned = plan_pages(request_, result_.document, *selection)) {
            result_.pages_selected = static_cast<std::uint32_t>(selection->size());
            pages_ = std::move(*planned);
        } else {
            result_.pages_selected = static_cast<std::uint32_t>(selection->size());
            problem = std::move(planned.error());
        }
    }
    if (!problem) {
        problem = check_taken_names(request_, pages_);
    }
    if (!problem) {
        problem = prepare_helpers();
    }
    if (problem) {
        result_.error = std::move(problem);
        return std::move(result_);
    }
    const PipelineSetup setup{
        request_,    pages_,
        *pool_,      helpers_,
        kPixelBytes, job_deadline_,
        progress_,   token_,
        hooks_,      hooks_.output != nullptr ? *hooks_.output : detail::real_output_syscalls()};
    run_pages(setup, result_);
    return std::move(result_);
}

}  // namespace

Result<std::vector<PlannedPage>> plan_pages(const ConvertRequest& request, const DocumentInfo& info,
                                            const std::vector<std::int32_t>& selection) {
    const std::string stem = sanitize_file_name(to_utf8(request.input.stem()), 200);
    // Validated to lie within the DPI limits, so it fits.
    const auto rounded_dpi = static_cast<std::int32_t>(std::lround(request.image.dpi));

    std::unordered_map<std::string, std::uint32_t> first_page_of_name;
    std::uint64_t total_pixels = 0;
    std::vector<PlannedPage> pages;
    pages.reserve(selection.size());
    for (const std::int32_t number : selection) {
        PlannedPage page;
        page.number = static_cast<std::uint32_t>(number);
        auto size = page_pixel_size(info.page_sizes[static_cast<std::size_t>(number - 1)],
                                    request.image.dpi, request.limits);
        if (!size) {
            ConvertError error = std::move(size.error());
            error.message = "Page " + std::to_string(number) + ": " + error.message;
            error.page = page.number;
            return tl::unexpected(std::move(error));
        }
        page.size = *size;

        auto name = render_file_name(request.naming_template,
                                     NamingValues{stem, number, info.page_count, rounded_dpi});
        if (!name) {
            return tl::unexpected(std::move(name.error()));
        }
        page.name = std::move(*name);
        // Names cut back to their length limit can collide; two pages must never be
        // written to one file, where the second would silently replace the first.
        const auto [known, inserted] = first_page_of_name.emplace(page.name, page.number);
        if (!inserted) {
            return fail(ErrorKind::InvalidNamingTemplate,
                        "Pages " + std::to_string(known->second) + " and " +
                            std::to_string(number) + " would both be saved as \"" + page.name +
                            image_format(request.image).extension +
                            "\". Change the naming template or use a shorter file name.");
        }

        total_pixels += static_cast<std::uint64_t>(page.size.width) *
                        static_cast<std::uint64_t>(page.size.height);
        pages.push_back(std::move(page));
    }
    if (total_pixels > request.limits.max_job_pixels) {
        return fail(ErrorKind::LimitExceeded,
                    "The selected pages exceed the total output size allowed for one job. "
                    "Select fewer pages or lower the DPI.");
    }
    return pages;
}

MaybeError check_taken_names(const ConvertRequest& request, std::vector<PlannedPage>& pages) {
    const ExistingFilePolicy policy = request.existing_files;
    if (policy != ExistingFilePolicy::Ask && policy != ExistingFilePolicy::Skip) {
        return std::nullopt;
    }
    for (PlannedPage& page : pages) {
        const std::string file_name = page.name + image_format(request.image).extension;
        // A query that fails counts as nothing there; the commit decides in the end.
        if (!name_is_taken(request.output_folder / to_path(file_name)).value_or(false)) {
            continue;
        }
        if (policy == ExistingFilePolicy::Skip) {
            page.skip = true;
            continue;
        }
        return make_error(ErrorKind::OutputExists,
                          "\"" + file_name +
                              "\" already exists in the output folder. Choose another "
                              "folder, or allow overwriting or renaming.");
    }
    return std::nullopt;
}

MaybeError check_image_options(const ImageOptions& image, const ConvertLimits& limits) {
    // Written so that NaN limits fail too.
    if (!(limits.min_dpi > 0.0) || !(limits.max_dpi >= limits.min_dpi) || limits.max_side_px <= 0 ||
        limits.max_page_pixels == 0) {
        return make_error(ErrorKind::InvalidSettings, "The configured limits are inconsistent.");
    }
    if (!std::isfinite(image.dpi) || image.dpi < limits.min_dpi || image.dpi > limits.max_dpi) {
        return make_error(ErrorKind::InvalidSettings, "DPI must be between " +
                                                          format_number(limits.min_dpi) + " and " +
                                                          format_number(limits.max_dpi) + ".");
    }
    if (image.jpeg_quality < 1 || image.jpeg_quality > 100) {
        return make_error(ErrorKind::InvalidSettings, "JPEG quality must be between 1 and 100.");
    }
    return std::nullopt;
}

Deadline open_deadline(const ConvertLimits& limits, Clock::time_point now) {
    // Opening cannot be paused, so it is held to the page limit by force; without
    // one, an inspection must still end.
    constexpr std::int64_t kUnlimitedOpenMs = 120'000;
    return deadline_after(limits.page_timeout_ms > 0 ? limits.page_timeout_ms : kUnlimitedOpenMs,
                          now);
}

ConvertResult convert(ConvertRequest request, const ProgressCallback& progress,
                      const CancellationToken& token, const detail::DriverHooks& hooks) {
    try {
        Job job(request, progress, token, hooks);
        ConvertResult result = job.run();
        request.password.clear();
        return result;
    } catch (const std::bad_alloc&) {
        request.password.clear();
        ConvertResult result;
        result.error = job_out_of_memory_error();
        return result;
    } catch (...) {
        request.password.clear();
        ConvertResult result;
        result.error = internal_error();
        return result;
    }
}

}  // namespace bl

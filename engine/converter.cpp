#include "engine/converter.h"

#include <algorithm>
#include <cmath>
#include <future>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <system_error>
#include <unordered_map>
#include <vector>

#include "engine/jpeg_encoder.h"
#include "engine/naming_template.h"
#include "engine/output_file.h"
#include "engine/page_render.h"
#include "engine/page_selection.h"
#include "engine/pdf_input.h"
#include "engine/secret.h"

namespace bl {

namespace detail {

DriverHooks& driver_hooks() {
    static DriverHooks hooks;
    return hooks;
}

}  // namespace detail

namespace {

// Pages smaller than this encode faster than a thread starts; they stay on the
// driver's thread.
constexpr std::uint64_t kOverlapMinPixels = 1'000'000;

struct PlannedPage {
    std::uint32_t number = 0;
    PixelSize size;
    std::string name;  // file name without extension
};

struct EncodeOutcome {
    PageResult page_result;
    std::optional<ConvertError> stop;  // the job must stop after this page
};

// The open document and the lock that guards it. The document is closed under
// the lock however the job ends.
struct DocumentSession {
    std::unique_lock<std::mutex> lock{pdfium_mutex, std::defer_lock};
    std::unique_ptr<PdfDocument> document;

    DocumentSession() = default;
    DocumentSession(const DocumentSession&) = delete;
    DocumentSession& operator=(const DocumentSession&) = delete;
    ~DocumentSession() {
        if (document) {
            if (!lock.owns_lock()) {
                lock.lock();
            }
            document.reset();
        }
    }
};

ConvertError cancelled_error() {
    return make_error(ErrorKind::Cancelled, "Conversion was cancelled.");
}

ConvertError job_timeout_error() {
    return make_error(ErrorKind::TimedOut, "The conversion took longer than the allowed time.");
}

ConvertError with_page(ConvertError error, std::uint32_t page) {
    error.page = page;
    return error;
}

bool stops_the_job(ErrorKind kind) {
    switch (kind) {
        case ErrorKind::OutputFolderUnavailable:
        case ErrorKind::OutputExists:
        case ErrorKind::PermissionDenied:
        case ErrorKind::DiskFull:
        case ErrorKind::WriteFailed:
            return true;
        default:
            return false;
    }
}

bool name_is_taken(const std::filesystem::path& path) {
    std::error_code error;
    const auto status = std::filesystem::symlink_status(path, error);
    // A query that fails counts as nothing there; the commit decides in the end.
    return !error && status.type() != std::filesystem::file_type::not_found;
}

class Job {
  public:
    Job(ConvertRequest& request, const ProgressCallback& progress, const CancellationToken& token)
        : request_(request), progress_(progress), token_(token) {}

    ConvertResult run();

  private:
    MaybeError plan_pages(const std::vector<std::int32_t>& selection);
    EncodeOutcome encode_and_write(const PlannedPage& page, const std::vector<std::uint8_t>& pixels,
                                   std::int32_t stride, PageResult page_result);
    void record(EncodeOutcome outcome, std::uint32_t index);
    void collect_pending();
    void send(ProgressStage stage, std::uint32_t page, std::uint32_t index) const;
    void stop_for_cancel() {
        result_.cancelled = true;
        result_.error = cancelled_error();
    }

    ConvertRequest& request_;
    const ProgressCallback& progress_;
    const CancellationToken& token_;

    ConvertResult result_;
    std::vector<PlannedPage> pages_;
    std::uint64_t bytes_produced_ = 0;  // touched by one encode step at a time
    bool stop_ = false;

    // Declared in this order so that the pending encode, which reads a buffer and
    // uses the encoder, is waited for before either goes away, and the document
    // closes last.
    DocumentSession session_;
    std::unique_ptr<JpegEncoder> encoder_;
    std::vector<std::uint8_t> buffers_[2];
    struct Pending {
        std::future<EncodeOutcome> future;
        std::uint32_t index = 0;
    };
    std::optional<Pending> pending_;
};

void Job::send(ProgressStage stage, std::uint32_t page, std::uint32_t index) const {
    if (progress_) {
        progress_(ProgressEvent{stage, page, index, result_.pages_selected});
    }
}

MaybeError Job::plan_pages(const std::vector<std::int32_t>& selection) {
    const DocumentInfo& info = result_.document;
    const std::string stem = sanitize_file_name(to_utf8(request_.input.stem()), 200);
    // Validated to lie within the DPI limits, so it fits.
    const auto rounded_dpi = static_cast<std::int32_t>(std::lround(request_.image.dpi));

    std::unordered_map<std::string, std::uint32_t> first_page_of_name;
    std::uint64_t total_pixels = 0;
    pages_.reserve(selection.size());
    for (const std::int32_t number : selection) {
        PlannedPage page;
        page.number = static_cast<std::uint32_t>(number);
        auto size = page_pixel_size(info.page_sizes[static_cast<std::size_t>(number - 1)],
                                    request_.image.dpi, request_.limits);
        if (!size) {
            ConvertError error = std::move(size.error());
            error.message = "Page " + std::to_string(number) + ": " + error.message;
            return with_page(std::move(error), page.number);
        }
        page.size = *size;

        auto name = render_file_name(request_.naming_template,
                                     NamingValues{stem, number, info.page_count, rounded_dpi});
        if (!name) {
            return std::move(name.error());
        }
        page.name = std::move(*name);
        // Names cut back to their length limit can collide; two pages must never be
        // written to one file, where the second would silently replace the first.
        const auto [known, inserted] = first_page_of_name.emplace(page.name, page.number);
        if (!inserted) {
            return make_error(ErrorKind::InvalidNamingTemplate,
                              "Pages " + std::to_string(known->second) + " and " +
                                  std::to_string(number) + " would both be saved as \"" +
                                  page.name +
                                  ".jpg\". Change the naming template or use a shorter file "
                                  "name.");
        }

        total_pixels += static_cast<std::uint64_t>(page.size.width) *
                        static_cast<std::uint64_t>(page.size.height);
        pages_.push_back(std::move(page));
    }
    if (total_pixels > request_.limits.max_job_pixels) {
        return make_error(ErrorKind::LimitExceeded,
                          "The selected pages exceed the total output size allowed for one job. "
                          "Select fewer pages or lower the DPI.");
    }
    return std::nullopt;
}

EncodeOutcome Job::encode_and_write(const PlannedPage& page,
                                    const std::vector<std::uint8_t>& pixels, std::int32_t stride,
                                    PageResult page_result) {
    if (const auto& hook = detail::driver_hooks().before_encode) {
        hook(page.number);
    }
    EncodeOutcome outcome;
    const auto start = Clock::now();
    auto jpeg = encode_jpeg(*encoder_, pixels.data(), page.size.width, page.size.height, stride);
    page_result.encode_ms = elapsed_ms(start, Clock::now());
    if (!jpeg) {
        page_result.error = with_page(std::move(jpeg.error()), page.number);
        outcome.page_result = std::move(page_result);
        return outcome;
    }

    bytes_produced_ += jpeg->size();
    if (bytes_produced_ > request_.limits.max_job_output_bytes) {
        const ConvertError error =
            make_error(ErrorKind::LimitExceeded,
                       "The output exceeds the total size allowed for one job.", page.number);
        page_result.error = error;
        outcome.stop = error;
        outcome.page_result = std::move(page_result);
        return outcome;
    }

    auto path = write_page_file(request_.output_folder, page.name, *jpeg, request_.existing_files);
    if (path) {
        page_result.output_path = std::move(*path);
        page_result.bytes = jpeg->size();
    } else {
        ConvertError error = with_page(std::move(path.error()), page.number);
        if (stops_the_job(error.kind)) {
            outcome.stop = error;
        }
        page_result.error = std::move(error);
    }
    outcome.page_result = std::move(page_result);
    return outcome;
}

void Job::record(EncodeOutcome outcome, std::uint32_t index) {
    const std::uint32_t page = outcome.page_result.page;
    const bool failed = outcome.page_result.error.has_value();
    result_.page_results.push_back(std::move(outcome.page_result));
    if (failed) {
        ++result_.pages_failed;
        send(ProgressStage::PageFailed, page, index);
    } else {
        ++result_.pages_written;
        send(ProgressStage::PageWritten, page, index);
    }
    if (outcome.stop) {
        if (!result_.error) {
            result_.error = std::move(*outcome.stop);
        }
        stop_ = true;
    }
}

void Job::collect_pending() {
    if (pending_) {
        Pending pending = std::move(*pending_);
        pending_.reset();
        // Rethrows what the encode threw; convert() turns it into the job's error.
        record(pending.future.get(), pending.index);
    }
}

ConvertResult Job::run() {
    const Deadline job_deadline = deadline_after(request_.limits.job_timeout_ms, Clock::now());

    if (auto invalid = validate_request(request_)) {
        secure_clear(request_.password);
        result_.error = std::move(invalid);
        return std::move(result_);
    }

    session_.lock.lock();
    auto opened = open_pdf(request_.input, request_.password, request_.limits);
    if (!opened) {
        result_.error = std::move(opened.error());
        return std::move(result_);
    }
    session_.document = std::move(*opened);
    PdfDocument& document = *session_.document;
    result_.document = document.info;

    if (request_.image.render_form_fields) {
        document.forms = std::make_unique<FormEnvironment>(document.document);
    }

    auto selection = parse_page_selection(request_.pages, result_.document.page_count);
    if (!selection) {
        result_.error = std::move(selection.error());
        return std::move(result_);
    }
    result_.pages_selected = static_cast<std::uint32_t>(selection->size());

    if (auto problem = plan_pages(*selection)) {
        result_.error = std::move(problem);
        return std::move(result_);
    }

    if (request_.existing_files == ExistingFilePolicy::Ask) {
        for (const PlannedPage& page : pages_) {
            const std::string file_name = page.name + ".jpg";
            if (name_is_taken(request_.output_folder / to_path(file_name))) {
                result_.error = make_error(
                    ErrorKind::OutputExists,
                    "\"" + file_name +
                        "\" already exists in the output folder. Choose another folder, or "
                        "allow overwriting or renaming.");
                return std::move(result_);
            }
        }
    }

    auto encoder = create_jpeg_encoder(request_.image);
    if (!encoder) {
        result_.error = std::move(encoder.error());
        return std::move(result_);
    }
    encoder_ = std::move(*encoder);

    send(ProgressStage::Started, 0, 0);

    const auto& hooks = detail::driver_hooks();
    int current = 0;
    for (std::uint32_t index = 0; index < pages_.size(); ++index) {
        const PlannedPage& page = pages_[index];
        if (token_.is_cancelled()) {
            stop_for_cancel();
            break;
        }
        if (Clock::now() >= job_deadline) {
            result_.error = job_timeout_error();
            break;
        }
        send(ProgressStage::Rendering, page.number, index);

        PageResult page_result;
        page_result.page = page.number;
        page_result.width_px = page.size.width;
        page_result.height_px = page.size.height;
        Deadline page_deadline =
            std::min(deadline_after(request_.limits.page_timeout_ms, Clock::now()), job_deadline);
        if (hooks.page_deadline) {
            page_deadline = hooks.page_deadline(page.number, page_deadline);
        }

        if (hooks.before_render) {
            hooks.before_render(page.number);
        }
        const auto start = Clock::now();
        if (!session_.lock.owns_lock()) {
            session_.lock.lock();
        }
        std::int32_t stride = 0;
        MaybeError render_error = render_page(document, page.number, page.size, request_.image,
                                              buffers_[current], stride, token_, page_deadline);
        session_.lock.unlock();
        page_result.render_ms = elapsed_ms(start, Clock::now());

        collect_pending();
        if (stop_) {
            break;  // the page just rendered is dropped
        }
        if (token_.is_cancelled()) {
            stop_for_cancel();
            break;
        }
        if (render_error) {
            const ErrorKind kind = render_error->kind;
            page_result.error = std::move(render_error);
            record(EncodeOutcome{std::move(page_result), std::nullopt}, index);
            if (kind == ErrorKind::Cancelled) {
                stop_for_cancel();
                break;
            }
            if (kind == ErrorKind::TimedOut && Clock::now() >= job_deadline) {
                result_.error = job_timeout_error();
                break;
            }
            continue;
        }

        const std::uint64_t pixels = static_cast<std::uint64_t>(page.size.width) *
                                     static_cast<std::uint64_t>(page.size.height);
        const bool last = index + 1 == pages_.size();
        if (!last && pixels >= kOverlapMinPixels && pixels <= request_.limits.overlap_max_pixels &&
            (!hooks.may_start_thread || hooks.may_start_thread())) {
            try {
                const auto& pixels_buffer = buffers_[current];
                pending_ = Pending{
                    std::async(std::launch::async,
                               [this, &page, &pixels_buffer, stride, page_result]() mutable {
                                   return encode_and_write(page, pixels_buffer, stride,
                                                           std::move(page_result));
                               }),
                    index};
                current = 1 - current;
                continue;
            } catch (const std::system_error&) {
                // No thread to be had: encode here instead.
            }
        }
        record(encode_and_write(page, buffers_[current], stride, std::move(page_result)), index);
        if (stop_) {
            break;
        }
    }
    // A page whose encode was under way when the loop ended is still written.
    collect_pending();

    encoder_.reset();
    return std::move(result_);
}

}  // namespace

MaybeError validate_request(const ConvertRequest& request) {
    const ConvertLimits& limits = request.limits;
    // Written so that NaN limits fail too.
    if (!(limits.min_dpi > 0.0) || !(limits.max_dpi >= limits.min_dpi) || limits.max_side_px <= 0 ||
        limits.max_page_pixels == 0) {
        return make_error(ErrorKind::InvalidSettings, "The configured limits are inconsistent.");
    }
    const double dpi = request.image.dpi;
    if (!std::isfinite(dpi) || dpi < limits.min_dpi || dpi > limits.max_dpi) {
        return make_error(ErrorKind::InvalidSettings, "DPI must be between " +
                                                          format_number(limits.min_dpi) + " and " +
                                                          format_number(limits.max_dpi) + ".");
    }
    if (request.image.jpeg_quality < 1 || request.image.jpeg_quality > 100) {
        return make_error(ErrorKind::InvalidSettings, "JPEG quality must be between 1 and 100.");
    }
    if (auto problem = validate_naming_template(request.naming_template)) {
        return problem;
    }
    if (auto problem = check_password(request.password)) {
        return problem;
    }
    return check_output_folder(request.output_folder);
}

ConvertResult convert(ConvertRequest request, const ProgressCallback& progress,
                      const CancellationToken& token) {
    try {
        Job job(request, progress, token);
        return job.run();
    } catch (const std::bad_alloc&) {
        secure_clear(request.password);
        ConvertResult result;
        result.error =
            make_error(ErrorKind::OutOfMemory, "Not enough memory to complete the conversion.");
        return result;
    } catch (...) {
        secure_clear(request.password);
        ConvertResult result;
        result.error =
            make_error(ErrorKind::InternalError, "An unexpected internal error occurred.");
        return result;
    }
}

}  // namespace bl

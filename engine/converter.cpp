#include "engine/converter.h"
#include "engine/scope_exit.h"

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

#include "bl/live_checks.h"
#include "bl/secret.h"
#include "engine/jpeg_encoder.h"
#include "engine/naming_template.h"
#include "engine/output_file.h"
#include "engine/pdf_input.h"
#include "engine/render_helper.h"
#include "engine/render_pool.h"

namespace bl {

namespace {

// Pages smaller than this encode faster than a thread starts; they stay on the
// driver's thread.
constexpr std::uint64_t kOverlapMinPixels = 1'000'000;
// Pages are drawn as BGR, three bytes a pixel: the background is opaque, so the
// fourth byte of BGRx would carry nothing but cost memory and its traffic. The
// JPEG files are the same bit for bit.
constexpr std::int32_t kPixelBytes = 3;
// Helper deaths in a row that end a job, so that a bad file cannot crash helpers
// for ever.
constexpr int kDeathsThatEndAJob = 3;

struct PlannedPage {
    std::uint32_t number = 0;
    PixelSize size;
    std::string name;  // file name without extension
};

// An encoded page on its way to the output folder: written under its temporary
// name, not yet given its final one.
struct EncodedPage {
    PageResult page_result;  // with the encode time, and the error if encoding failed
    std::uint64_t jpeg_bytes = 0;
    std::unique_ptr<OutputFile> file;
    std::optional<ConvertError> write_error;
};

struct EncodeOutcome {
    PageResult page_result;
    std::optional<ConvertError> stop;  // the job must stop after this page
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

class Job {
  public:
    Job(ConvertRequest& request, const ProgressCallback& progress, const CancellationToken& token,
        const detail::DriverHooks& hooks)
        : request_(request),
          progress_(progress),
          token_(token),
          hooks_(hooks),
          output_calls_(hooks.output != nullptr ? *hooks.output : detail::real_output_syscalls()) {}
    Job(const Job&) = delete;
    Job& operator=(const Job&) = delete;
    ~Job();

    ConvertResult run();

  private:
    MaybeError open_document(Deadline job_deadline);
    MaybeError plan_pages(const std::vector<std::int32_t>& selection);
    MaybeError check_names_are_free() const;
    void page_loop(Deadline job_deadline);
    // One page in selection order; false when the job stops here.
    bool page_step(std::uint32_t index, Deadline job_deadline);
    RenderOutcome render_in_turn(std::uint32_t index, Deadline job_deadline);
    bool record_render_failure(std::uint32_t index, const ConvertError& error, bool helper_died,
                               PageResult page_result, Deadline job_deadline);
    bool encode_in_turn(std::uint32_t index, const RenderOutcome& rendered, PageResult page_result);
    void dispatch(std::uint32_t index, Deadline job_deadline);
    bool render_ahead() const { return helper_count_ > 1; }
    void fill_ahead(Deadline job_deadline);
    void start_ready_encodes();
    bool start_encode(std::uint32_t index, const RenderOutcome& rendered, PageResult page_result);
    EncodedPage encode(std::uint32_t index, int buffer, std::int32_t stride,
                       PageResult page_result);
    EncodeOutcome commit(EncodedPage encoded);
    void record(EncodeOutcome outcome, std::uint32_t index);
    void collect_pending();
    void send(ProgressStage stage, std::uint32_t page, std::uint32_t index) const;
    void stop_for_cancel() {
        result_.cancelled = true;
        result_.error = cancelled_error();
    }
    PageResult fresh_result(std::uint32_t index) const;

    ConvertRequest& request_;
    const ProgressCallback& progress_;
    const CancellationToken& token_;
    const detail::DriverHooks& hooks_;
    const detail::OutputSyscalls& output_calls_;

    ConvertResult result_;
    std::vector<PlannedPage> pages_;
    std::uint64_t bytes_produced_ = 0;  // touched by the driver's thread only
    bool stop_ = false;
    int deaths_in_a_row_ = 0;
    std::size_t helper_count_ = 1;

    // Declared in this order so that encodes, which read the buffers and use the
    // encoders, end before the helpers and their buffers go.
    std::unique_ptr<InputFile> input_;
    std::unique_ptr<ControlPage> control_;
    std::unique_ptr<RenderPool> pool_;
    std::mutex encoders_mutex_;
    std::vector<std::unique_ptr<JpegEncoder>> idle_encoders_;
    std::vector<bool> dispatched_;
    std::vector<std::optional<RenderOutcome>> rendered_;  // taken ahead of the loop
    // An encode's result arrives through its promise, which is kept before the
    // driver is woken; the thread's own future only serves to wait for its end.
    struct Encode {
        std::future<EncodedPage> result;
        std::future<void> thread;
        bool valid() const { return result.valid(); }
    };
    std::vector<Encode> encodes_;
    std::uint32_t next_dispatch_ = 0;
    std::optional<std::uint32_t> pending_;
};

Job::~Job() {
    // Encodes started ahead of a stop are waited for and thrown away; their
    // temporary files go with them.
    for (auto& encode : encodes_) {
        if (encode.thread.valid()) {
            encode.thread.wait();
        }
    }
}

void Job::send(ProgressStage stage, std::uint32_t page, std::uint32_t index) const {
    if (progress_) {
        progress_(ProgressEvent{stage, page, index, result_.pages_selected});
    }
}

PageResult Job::fresh_result(std::uint32_t index) const {
    PageResult page_result;
    page_result.page = pages_[index].number;
    page_result.width_px = pages_[index].size.width;
    page_result.height_px = pages_[index].size.height;
    return page_result;
}

MaybeError Job::open_document(Deadline job_deadline) {
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

    // Helpers started after a crash open the document again, so an encrypted
    // document's password is kept until the job ends.
    std::string password(request_.password.view());
    // The job's limit ends an open only after the grace a page gets as well; an
    // open that finishes in time leaves the limit to the first check of the loop.
    const Deadline job_grace =
        job_deadline == kNoDeadline ? kNoDeadline : job_deadline + std::chrono::seconds(1);
    const Deadline opening = std::min(open_deadline(request_.limits, Clock::now()), job_grace);
    auto opened = open_in_helper(*input_, *control_, password, request_.image.render_form_fields,
                                 request_.limits, opening, &token_);
    if (!opened) {
        if (opened.error().kind == ErrorKind::Cancelled) {
            result_.cancelled = true;
        } else if (Clock::now() >= job_deadline) {
            return job_timeout_error();
        }
        return std::move(opened.error());
    }
    result_.document = opened->info;
    pool_ =
        std::make_unique<RenderPool>(*input_, *control_, request_.image, request_.limits, token_);
    pool_->adopt(std::move(opened->helper),
                 opened->info.encrypted ? std::move(request_.password) : Secret());
    request_.password.clear();
    return std::nullopt;
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

MaybeError Job::check_names_are_free() const {
    for (const PlannedPage& page : pages_) {
        const std::string file_name = page.name + ".jpg";
        // A query that fails counts as nothing there; the commit decides in the end.
        if (name_is_taken(request_.output_folder / to_path(file_name)).value_or(false)) {
            return make_error(ErrorKind::OutputExists,
                              "\"" + file_name +
                                  "\" already exists in the output folder. Choose another "
                                  "folder, or allow overwriting or renaming.");
        }
    }
    return std::nullopt;
}

EncodedPage Job::encode(std::uint32_t index, int buffer, std::int32_t stride,
                        PageResult page_result) {
    const PlannedPage& page = pages_[index];
    // The buffer goes back to the pool however the step ends.
    const ScopeExit release([this, buffer] { pool_->release(buffer); });
    if (const auto& hook = hooks_.before_encode) {
        hook(page.number);
    }
    std::unique_ptr<JpegEncoder> encoder;
    {
        const std::lock_guard lock(encoders_mutex_);
        if (!idle_encoders_.empty()) {
            encoder = std::move(idle_encoders_.back());
            idle_encoders_.pop_back();
        }
    }
    EncodedPage encoded;
    if (!encoder) {
        auto created = create_jpeg_encoder(request_.image);
        if (!created) {
            page_result.error = with_page(std::move(created.error()), page.number);
            encoded.page_result = std::move(page_result);
            return encoded;
        }
        encoder = std::move(*created);
    }
    const auto start = Clock::now();
    auto jpeg = encode_jpeg(*encoder, pool_->pixels(buffer), page.size.width, page.size.height,
                            stride, kPixelBytes == 3);
    page_result.encode_ms = elapsed_ms(start, Clock::now());
    {
        const std::lock_guard lock(encoders_mutex_);
        idle_encoders_.push_back(std::move(encoder));
    }
    if (!jpeg) {
        page_result.error = with_page(std::move(jpeg.error()), page.number);
        encoded.page_result = std::move(page_result);
        return encoded;
    }
    encoded.jpeg_bytes = jpeg->size();
    encoded.page_result = std::move(page_result);
    // Written and synced here, beside the other work; only the final name is
    // given in page order.
    auto file = prepare_page_file(request_.output_folder, page.name, *jpeg, output_calls_);
    if (!file) {
        encoded.write_error = std::move(file.error());
        return encoded;
    }
    encoded.file = std::move(*file);
    return encoded;
}

EncodeOutcome Job::commit(EncodedPage encoded) {
    EncodeOutcome outcome;
    PageResult& page_result = encoded.page_result;
    const std::uint32_t page = page_result.page;
    if (!page_result.error) {
        bytes_produced_ += encoded.jpeg_bytes;
        std::optional<ConvertError> error;
        if (bytes_produced_ > request_.limits.max_job_output_bytes) {
            error = make_error(ErrorKind::LimitExceeded,
                               "The output exceeds the total size allowed for one job.", page);
            outcome.stop = error;
        } else if (encoded.write_error) {
            error = with_page(std::move(*encoded.write_error), page);
        } else if (auto path = commit_output_file(*encoded.file, request_.existing_files)) {
            page_result.output_path = std::move(*path);
            page_result.bytes = encoded.jpeg_bytes;
        } else {
            error = with_page(std::move(path.error()), page);
        }
        if (error && !outcome.stop && stops_the_job(error->kind)) {
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
    if (!pending_) {
        return;
    }
    const std::uint32_t index = *pending_;
    pending_.reset();
    auto& future = encodes_[index].result;
    pool_->wait_until([&future] {
        return future.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
    });
    // Rethrows what the encode threw; convert() turns it into the job's error.
    record(commit(future.get()), index);
}

bool Job::start_encode(std::uint32_t index, const RenderOutcome& rendered, PageResult page_result) {
    const auto& hooks = hooks_;
    if (hooks.may_start_thread && !hooks.may_start_thread()) {
        return false;
    }
    auto promise = std::make_shared<std::promise<EncodedPage>>();
    try {
        encodes_[index].thread =
            std::async(std::launch::async, [this, promise, index, buffer = rendered.buffer,
                                            stride = rendered.stride, page_result]() mutable {
                try {
                    promise->set_value(encode(index, buffer, stride, std::move(page_result)));
                } catch (...) {
                    promise->set_exception(std::current_exception());
                }
                pool_->notify();
            });
    } catch (const std::system_error&) {
        return false;  // no thread to be had: the driver encodes it
    }
    encodes_[index].result = promise->get_future();
    return true;
}

void Job::dispatch(std::uint32_t index, Deadline job_deadline) {
    const auto& hooks = hooks_;
    const PlannedPage& page = pages_[index];
    Deadline page_deadline =
        std::min(deadline_after(request_.limits.page_timeout_ms, Clock::now()), job_deadline);
    if (hooks.page_deadline) {
        page_deadline = hooks.page_deadline(page.number, page_deadline);
    }
    if (hooks.before_render) {
        hooks.before_render(page.number);
    }
    pool_->wait_until([this] { return pool_->can_dispatch(); });
    pool_->dispatch(index, page.number, page.size, page_deadline);
    dispatched_[index] = true;
    if (hooks.render_started) {
        hooks.render_started(page.number, pool_->helper_pid(index));
    }
}

// With several helpers, pages are rendered ahead of the loop and encoded as soon
// as they are drawn; the loop still records them in selection order.
void Job::fill_ahead(Deadline job_deadline) {
    while (render_ahead() && next_dispatch_ < pages_.size() && !stop_ && !token_.is_cancelled() &&
           Clock::now() < job_deadline && pool_->can_dispatch()) {
        dispatch(next_dispatch_++, job_deadline);
    }
}

void Job::start_ready_encodes() {
    if (!render_ahead()) {
        return;
    }
    for (std::uint32_t index = 0; index < next_dispatch_; ++index) {
        if (rendered_[index] || encodes_[index].valid() || !pool_->has_outcome(index)) {
            continue;
        }
        rendered_[index] = pool_->take(index);
        if (!rendered_[index]->error && !stop_ && !token_.is_cancelled()) {
            PageResult page_result = fresh_result(index);
            page_result.render_ms = rendered_[index]->render_ms;
            start_encode(index, *rendered_[index], std::move(page_result));
        }
    }
}

RenderOutcome Job::render_in_turn(std::uint32_t index, Deadline job_deadline) {
    const auto progress = [this, job_deadline] {
        start_ready_encodes();
        fill_ahead(job_deadline);
    };
    if (!dispatched_[index]) {
        next_dispatch_ = std::max(next_dispatch_, index + 1);
        dispatch(index, job_deadline);
    }
    progress();
    pool_->wait_until([this, index] { return rendered_[index] || pool_->has_outcome(index); },
                      progress);
    RenderOutcome rendered =
        rendered_[index] ? std::move(*rendered_[index]) : std::move(*pool_->take(index));
    rendered_[index].reset();
    return rendered;
}

bool Job::record_render_failure(std::uint32_t index, const ConvertError& error, bool helper_died,
                                PageResult page_result, Deadline job_deadline) {
    page_result.error = error;
    record(EncodeOutcome{std::move(page_result), std::nullopt}, index);
    deaths_in_a_row_ = helper_died ? deaths_in_a_row_ + 1 : deaths_in_a_row_;
    if (error.kind == ErrorKind::Cancelled) {
        stop_for_cancel();
        return false;
    }
    if (error.kind == ErrorKind::TimedOut && Clock::now() >= job_deadline) {
        result_.error = job_timeout_error();
        return false;
    }
    if (deaths_in_a_row_ >= kDeathsThatEndAJob) {
        result_.error = error;
        return false;
    }
    return true;
}

bool Job::encode_in_turn(std::uint32_t index, const RenderOutcome& rendered,
                         PageResult page_result) {
    // Where one helper would overlap this page's encode with the next render,
    // its outcome is recorded after that render; otherwise before it. Helpers
    // working ahead change when pages are drawn, never what a caller sees.
    const PlannedPage& page = pages_[index];
    const std::uint64_t pixels =
        static_cast<std::uint64_t>(page.size.width) * static_cast<std::uint64_t>(page.size.height);
    const bool last = index + 1 == pages_.size();
    const bool overlapped =
        !last && pixels >= kOverlapMinPixels && pixels <= request_.limits.overlap_max_pixels;
    if (encodes_[index].valid() || (overlapped && start_encode(index, rendered, page_result))) {
        pending_ = index;
        if (!overlapped) {
            collect_pending();
        }
        return !stop_;
    }
    record(commit(encode(index, rendered.buffer, rendered.stride, std::move(page_result))), index);
    return !stop_;
}

bool Job::page_step(std::uint32_t index, Deadline job_deadline) {
    const PlannedPage& page = pages_[index];
    if (token_.is_cancelled()) {
        stop_for_cancel();
        return false;
    }
    if (Clock::now() >= job_deadline) {
        result_.error = job_timeout_error();
        return false;
    }
    send(ProgressStage::Rendering, page.number, index);
    RenderOutcome rendered = render_in_turn(index, job_deadline);
    PageResult page_result = fresh_result(index);
    page_result.render_ms = rendered.render_ms;

    collect_pending();
    if (stop_ || token_.is_cancelled()) {
        // The page just rendered is dropped.
        if (!encodes_[index].valid()) {
            pool_->release(rendered.buffer);
        }
        if (!stop_) {
            stop_for_cancel();
        }
        return false;
    }
    if (rendered.error) {
        return record_render_failure(index, *rendered.error, rendered.helper_died,
                                     std::move(page_result), job_deadline);
    }
    deaths_in_a_row_ = 0;
    return encode_in_turn(index, rendered, std::move(page_result));
}

void Job::page_loop(Deadline job_deadline) {
    dispatched_.assign(pages_.size(), false);
    rendered_.assign(pages_.size(), std::nullopt);
    encodes_.resize(pages_.size());
    for (std::uint32_t index = 0; index < pages_.size(); ++index) {
        if (!page_step(index, job_deadline)) {
            break;
        }
    }
    // A page whose encode was under way when the loop ended is still written.
    collect_pending();
}

ConvertResult Job::run() {
    const Deadline job_deadline = deadline_after(request_.limits.job_timeout_ms, Clock::now());
    const ScopeExit wipe([this] { request_.password.clear(); });

    if (auto invalid = validate_request(request_)) {
        result_.error = std::move(invalid);
        return std::move(result_);
    }
    if (auto problem = open_document(job_deadline)) {
        result_.error = std::move(problem);
        return std::move(result_);
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
        if (auto problem = check_names_are_free()) {
            result_.error = std::move(problem);
            return std::move(result_);
        }
    }
    auto encoder = create_jpeg_encoder(request_.image);
    if (!encoder) {
        result_.error = std::move(encoder.error());
        return std::move(result_);
    }
    idle_encoders_.push_back(std::move(*encoder));

    std::size_t largest = 0;
    for (const PlannedPage& page : pages_) {
        largest = std::max(largest, static_cast<std::size_t>(page.size.width) * kPixelBytes *
                                        static_cast<std::size_t>(page.size.height));
    }
    helper_count_ = static_cast<std::size_t>(render_helpers_for(request_.limits, largest));
    if (const int forced = hooks_.render_helpers; forced > 0) {
        helper_count_ = static_cast<std::size_t>(forced);
    }
    if (!pool_->prepare(helper_count_, largest, kPixelBytes)) {
        result_.error =
            make_error(ErrorKind::OutOfMemory, "Not enough memory to complete the conversion.");
        return std::move(result_);
    }

    send(ProgressStage::Started, 0, 0);
    page_loop(job_deadline);
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
    if (auto problem = check_password(request.password.view())) {
        return problem;
    }
    return check_output_folder(request.output_folder);
}

ConvertResult convert(ConvertRequest request, const ProgressCallback& progress,
                      const CancellationToken& token, const detail::DriverHooks& hooks) {
    try {
        Job job(request, progress, token, hooks);
        return job.run();
    } catch (const std::bad_alloc&) {
        request.password.clear();
        ConvertResult result;
        result.error =
            make_error(ErrorKind::OutOfMemory, "Not enough memory to complete the conversion.");
        return result;
    } catch (...) {
        request.password.clear();
        ConvertResult result;
        result.error =
            make_error(ErrorKind::InternalError, "An unexpected internal error occurred.");
        return result;
    }
}

}  // namespace bl

#include "engine/page_pipeline.h"

#include <exception>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <utility>

#include "engine/encode_pool.h"
#include "engine/errors.h"
#include "engine/image_format.h"

namespace bl {

namespace {

// Pages smaller than this encode faster than a hand-over to another thread is
// worth; their outcome comes before the next page is begun.
constexpr std::uint64_t kOverlapMinPixels = 1'000'000;
// Helper deaths in a row that end a job, so that a bad file cannot crash helpers
// for ever.
constexpr int kDeathsThatEndAJob = 3;

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

std::uint64_t pixels_of(const PlannedPage& page) {
    return static_cast<std::uint64_t>(page.size.width) *
           static_cast<std::uint64_t>(page.size.height);
}

// An encoded page on its way to the output folder: written under its temporary
// name, not yet given its final one.
struct EncodedPage {
    PageResult page_result;  // with the encode time, and the error if encoding failed
    std::uint64_t bytes = 0;
    std::unique_ptr<OutputFile> file;
    std::optional<ConvertError> write_error;
    std::exception_ptr thrown;  // rethrown at the commit, where the job ends with it
};

// Where one page is between its dispatch and its commit.
struct PageRecord {
    std::optional<RenderOutcome> rendered;
    bool encoding = false;  // handed to an encode thread
    std::optional<EncodedPage> encoded;
};

// What the caller sees of the job: its result, its progress and the rule that a
// failure of the output stops it. Only the commit step talks to it.
class Recorder {
  public:
    Recorder(ConvertResult& result, const ProgressCallback& progress)
        : result_(result), progress_(progress) {}

    void send(ProgressStage stage, std::uint32_t page, std::uint32_t index) const {
        if (progress_) {
            progress_(ProgressEvent{stage, page, index, result_.pages_selected});
        }
    }
    // Appends a page's outcome; `stop` ends the job after it and becomes the
    // job's error unless it has one.
    void record(PageResult page_result, std::uint32_t index, std::optional<ConvertError> stop) {
        const std::uint32_t page = page_result.page;
        const bool failed = page_result.error.has_value();
        const bool skipped = page_result.skipped;
        result_.page_results.push_back(std::move(page_result));
        if (failed) {
            ++result_.pages_failed;
            send(ProgressStage::PageFailed, page, index);
        } else if (skipped) {
            ++result_.pages_skipped;
            send(ProgressStage::PageSkipped, page, index);
        } else {
            ++result_.pages_written;
            send(ProgressStage::PageWritten, page, index);
        }
        if (stop) {
            if (!result_.error) {
                result_.error = std::move(*stop);
            }
            stopped_ = true;
        }
    }
    // A cancel or the job's time limit: these replace an earlier error.
    void end(ConvertError error) {
        result_.cancelled = result_.cancelled || error.kind == ErrorKind::Cancelled;
        result_.error = std::move(error);
    }
    void note(std::uint32_t page, const std::string& report) {
        if (!report.empty()) {
            result_.diagnostics.push_back("Page " + std::to_string(page) + ": " + report);
        }
    }
    bool stopped() const { return stopped_; }

  private:
    ConvertResult& result_;
    const ProgressCallback& progress_;
    bool stopped_ = false;
};

class PagePipeline {
  public:
    PagePipeline(const PipelineSetup& setup, ConvertResult& result)
        : s_(setup),
          recorder_(result, setup.progress),
          window_(2 * setup.helpers + 2),
          encoders_(setup.request.image, setup.helpers, setup.hooks.may_start_thread) {}

    void run();

  private:
    enum class Step { Top, AwaitRender, AwaitEncode, Skip, Drain, Done };

    // Stages 1 and 2: the next pages in selection order, each to a free helper.
    void dispatch_pages();
    bool may_dispatch(std::uint32_t index) const;
    void dispatch(std::uint32_t index);
    // Stage 3: rendered pages to the encode threads.
    void on_rendered(RenderOutcome outcome);
    void start_encode(std::uint32_t index);
    // On whichever thread encodes; it touches no record.
    EncodedPage encode(std::uint32_t index, const RenderOutcome& rendered, ImageEncoder& encoder,
                       PageResult page_result) const;
    void take_encoded();
    void settle(std::uint32_t index);
    // Stage 4: the commit, in selection order.
    void commit_ready();
    bool step_top();
    bool step_await_render();
    bool step_await_encode();
    bool step_skip();
    bool step_drain();
    bool commit_pending();
    bool ends_before_cursor();
    bool rendered(std::uint32_t index) const;
    bool encoded(std::uint32_t index) const;
    bool overlapped(std::uint32_t index) const;
    void commit(std::uint32_t index);
    void commit_render_failure(std::uint32_t index);
    void drop(std::uint32_t index);
    void encode_here(std::uint32_t index);
    PageResult fresh_result(std::uint32_t index, double render_ms) const;
    // The job has stopped or its last page is committed: nothing more is begun.
    bool ending() const { return step_ == Step::Drain || step_ == Step::Done; }
    std::filesystem::path existing_path(std::uint32_t index) const;

    const PipelineSetup& s_;
    Recorder recorder_;
    const std::size_t window_;  // pages ahead of the commit that may be under way
    std::map<std::uint32_t, PageRecord> records_;
    std::uint32_t next_dispatch_ = 0;
    std::uint32_t cursor_ = 0;  // the page the commit is at
    std::optional<std::uint32_t> pending_;
    Step step_ = Step::Top;
    int deaths_in_a_row_ = 0;
    std::uint64_t bytes_produced_ = 0;
    std::uint32_t in_flight_ = 0;  // dispatched, and neither encoded nor failed
    std::optional<std::uint32_t> exclusive_;
    std::unique_ptr<ImageEncoder> own_encoder_;  // for pages no encode thread took
    std::mutex done_mutex_;
    std::vector<std::pair<std::uint32_t, EncodedPage>> done_;
    // Last, so that its threads end before anything they use goes.
    EncodePool encoders_;
};

void PagePipeline::run() {
    recorder_.send(ProgressStage::Started, 0, 0);
    for (;;) {
        take_encoded();
        commit_ready();
        if (step_ == Step::Done) {
            return;
        }
        dispatch_pages();
        for (RenderOutcome& outcome : s_.pool.wait(kNoDeadline)) {
            on_rendered(std::move(outcome));
        }
    }
}

bool PagePipeline::may_dispatch(std::uint32_t index) const {
    if (index >= s_.pages.size() || ending() || recorder_.stopped()) {
        return false;
    }
    // The page the commit waits for always goes; it meets the cancel or the
    // job's limit itself.
    if (index != cursor_ && (s_.token.is_cancelled() || Clock::now() >= s_.job_deadline ||
                             index >= cursor_ + window_)) {
        return false;
    }
    // A page too large to share the machine's memory with another goes alone.
    if (exclusive_ ||
        (pixels_of(s_.pages[index]) > s_.request.limits.overlap_max_pixels && in_flight_ > 0)) {
        return false;
    }
    return s_.pool.can_dispatch();
}

void PagePipeline::dispatch_pages() {
    for (;;) {
        // A page whose file is there already is never rendered.
        while (next_dispatch_ < s_.pages.size() && s_.pages[next_dispatch_].skip) {
            ++next_dispatch_;
        }
        if (!may_dispatch(next_dispatch_)) {
            return;
        }
        dispatch(next_dispatch_++);
    }
}

void PagePipeline::dispatch(std::uint32_t index) {
    const PlannedPage& page = s_.pages[index];
    Deadline deadline =
        std::min(deadline_after(s_.request.limits.page_timeout_ms, Clock::now()), s_.job_deadline);
    if (s_.hooks.page_deadline) {
        deadline = s_.hooks.page_deadline(page.number, deadline);
    }
    if (s_.hooks.before_render) {
        s_.hooks.before_render(page.number);
    }
    records_[index];
    ++in_flight_;
    if (pixels_of(page) > s_.request.limits.overlap_max_pixels) {
        exclusive_ = index;
    }
    s_.pool.dispatch(index, page.number, page.size, deadline);
    if (s_.hooks.render_started) {
        s_.hooks.render_started(page.number, s_.pool.helper_pid(index));
    }
}

void PagePipeline::settle(std::uint32_t index) {
    --in_flight_;
    if (exclusive_ == index) {
        exclusive_.reset();
    }
}

void PagePipeline::on_rendered(RenderOutcome outcome) {
    const std::uint32_t index = outcome.index;
    const auto found = records_.find(index);
    if (found == records_.end()) {
        s_.pool.release(outcome.buffer);  // dropped while it rendered
        settle(index);
        return;
    }
    const bool failed = outcome.error.has_value();
    if (!failed && ending()) {
        s_.pool.release(outcome.buffer);  // the job ended: nobody will commit it
        records_.erase(found);
        settle(index);
        return;
    }
    found->second.rendered = std::move(outcome);
    if (failed) {
        settle(index);
    } else if (index + 1 < s_.pages.size() || cursor_ != index) {
        start_encode(index);
    }
    // The last page, with nothing before it left to commit, is encoded by the
    // commit itself: no thread would run beside it.
}

void PagePipeline::start_encode(std::uint32_t index) {
    PageRecord& record = records_.at(index);
    PageResult page_result = fresh_result(index, record.rendered->render_ms);
    RenderOutcome rendered;
    rendered.buffer = record.rendered->buffer;
    rendered.stride = record.rendered->stride;
    record.encoding = encoders_.submit(
        [this, index, rendered, page_result](Result<ImageEncoder*> encoder) mutable {
            EncodedPage encoded;
            try {
                if (encoder) {
                    encoded = encode(index, rendered, **encoder, std::move(page_result));
                } else {
                    page_result.error = with_page(encoder.error(), page_result.page);
                    encoded.page_result = std::move(page_result);
                }
            } catch (...) {
                encoded.thrown = std::current_exception();
            }
            {
                const std::lock_guard lock(done_mutex_);
                done_.emplace_back(index, std::move(encoded));
            }
            s_.pool.notify();
        });
}

EncodedPage PagePipeline::encode(std::uint32_t index, const RenderOutcome& rendered,
                                 ImageEncoder& encoder, PageResult page_result) const {
    const PlannedPage& page = s_.pages[index];
    if (s_.hooks.before_encode) {
        s_.hooks.before_encode(page.number);
    }
    EncodedPage encoded;
    const auto start = Clock::now();
    auto image = encoder.encode(s_.pool.pixels(rendered.buffer), page.size.width, page.size.height,
                                rendered.stride, s_.pixel_bytes == 3);
    page_result.encode_ms = elapsed_ms(start, Clock::now());
    // The pixels are used: the buffer may take the next page while this one is saved.
    s_.pool.release(rendered.buffer);
    if (!image) {
        page_result.error = with_page(std::move(image.error()), page.number);
        encoded.page_result = std::move(page_result);
        return encoded;
    }
    encoded.bytes = image->size();
    encoded.page_result = std::move(page_result);
    // Written and synced here, beside the other work; only the final name is
    // given in page order.
    auto file = prepare_page_file(s_.request.output_folder, page.name,
                                  image_format(s_.request.image).extension, *image, s_.output);
    if (file) {
        encoded.file = std::move(*file);
    } else {
        encoded.write_error = std::move(file.error());
    }
    return encoded;
}

void PagePipeline::take_encoded() {
    std::vector<std::pair<std::uint32_t, EncodedPage>> done;
    {
        const std::lock_guard lock(done_mutex_);
        done.swap(done_);
    }
    for (auto& [index, encoded] : done) {
        settle(index);
        const auto found = records_.find(index);
        if (found != records_.end()) {
            found->second.encoded = std::move(encoded);
        }
        // A page dropped meanwhile goes with its temporary file.
    }
}

void PagePipeline::encode_here(std::uint32_t index) {
    // No thread took the page: it is encoded on this one, as in turn.
    PageResult page_result = fresh_result(index, records_.at(index).rendered->render_ms);
    if (!own_encoder_) {
        auto created = image_format(s_.request.image).create_encoder(s_.request.image);
        if (!created) {
            s_.pool.release(records_.at(index).rendered->buffer);
            page_result.error = with_page(std::move(created.error()), page_result.page);
            records_.at(index).encoded = EncodedPage{std::move(page_result), 0, {}, {}, {}};
            settle(index);
            return;
        }
        own_encoder_ = std::move(*created);
    }
    records_.at(index).encoded =
        encode(index, *records_.at(index).rendered, *own_encoder_, std::move(page_result));
    settle(index);
}

PageResult PagePipeline::fresh_result(std::uint32_t index, double render_ms) const {
    PageResult page_result;
    page_result.page = s_.pages[index].number;
    page_result.width_px = s_.pages[index].size.width;
    page_result.height_px = s_.pages[index].size.height;
    page_result.render_ms = render_ms;
    return page_result;
}

bool PagePipeline::rendered(std::uint32_t index) const {
    const auto found = records_.find(index);
    return found != records_.end() && found->second.rendered.has_value();
}

bool PagePipeline::encoded(std::uint32_t index) const {
    const auto found = records_.find(index);
    return found != records_.end() && found->second.encoded.has_value();
}

bool PagePipeline::overlapped(std::uint32_t index) const {
    // As one helper would: the encode runs beside the next page's rendering, so
    // its outcome comes after that page is begun.
    const std::uint64_t pixels = pixels_of(s_.pages[index]);
    return index + 1 < s_.pages.size() && pixels >= kOverlapMinPixels &&
           pixels <= s_.request.limits.overlap_max_pixels && records_.at(index).encoding;
}

void PagePipeline::drop(std::uint32_t index) {
    const auto found = records_.find(index);
    if (found == records_.end()) {
        return;
    }
    const PageRecord& record = found->second;
    if (record.rendered && !record.rendered->error && !record.encoding && !record.encoded) {
        s_.pool.release(record.rendered->buffer);
        settle(index);
    }
    records_.erase(found);
}

void PagePipeline::commit(std::uint32_t index) {
    EncodedPage encoded = std::move(*records_.at(index).encoded);
    records_.erase(index);
    if (encoded.thrown) {
        std::rethrow_exception(encoded.thrown);  // convert() makes it the job's error
    }
    PageResult& page_result = encoded.page_result;
    const std::uint32_t page = page_result.page;
    std::optional<ConvertError> stop;
    if (!page_result.error) {
        bytes_produced_ += encoded.bytes;
        std::optional<ConvertError> error;
        if (bytes_produced_ > s_.request.limits.max_job_output_bytes) {
            error = make_error(ErrorKind::LimitExceeded,
                               "The output exceeds the total size allowed for one job.", page);
            stop = error;
        } else if (encoded.write_error) {
            error = with_page(std::move(*encoded.write_error), page);
        } else if (auto path = commit_output_file(*encoded.file, s_.request.existing_files)) {
            page_result.output_path = std::move(*path);
            page_result.bytes = encoded.bytes;
        } else if (path.error().kind == ErrorKind::OutputExists &&
                   s_.request.existing_files == ExistingFilePolicy::Skip) {
            // Taken since the plan: left as it is, like the names taken then.
            bytes_produced_ -= encoded.bytes;
            page_result.skipped = true;
            page_result.output_path = existing_path(index);
        } else {
            error = with_page(std::move(path.error()), page);
        }
        if (error && !stop && stops_the_job(error->kind)) {
            stop = error;
        }
        page_result.error = std::move(error);
    }
    recorder_.record(std::move(page_result), index, std::move(stop));
}

void PagePipeline::commit_render_failure(std::uint32_t index) {
    const RenderOutcome rendered = std::move(*records_.at(index).rendered);
    records_.erase(index);
    PageResult page_result = fresh_result(index, rendered.render_ms);
    page_result.error = rendered.error;
    recorder_.note(page_result.page, rendered.report);
    recorder_.record(std::move(page_result), index, std::nullopt);
    deaths_in_a_row_ = rendered.helper_died ? deaths_in_a_row_ + 1 : deaths_in_a_row_;
    const ErrorKind kind = rendered.error->kind;
    if (kind == ErrorKind::Cancelled) {
        recorder_.end(cancelled_error());
    } else if (kind == ErrorKind::TimedOut && Clock::now() >= s_.job_deadline) {
        recorder_.end(job_timeout_error());
    } else if (deaths_in_a_row_ >= kDeathsThatEndAJob) {
        recorder_.end(*rendered.error);
    } else {
        ++cursor_;
        step_ = Step::Top;
        return;
    }
    step_ = Step::Drain;
}

void PagePipeline::commit_ready() {
    bool moved = true;
    while (moved) {
        switch (step_) {
            case Step::Top:
                moved = step_top();
                break;
            case Step::AwaitRender:
                moved = step_await_render();
                break;
            case Step::AwaitEncode:
                moved = step_await_encode();
                break;
            case Step::Skip:
                moved = step_skip();
                break;
            case Step::Drain:
                moved = step_drain();
                break;
            case Step::Done:
                moved = false;
                break;
        }
    }
}

bool PagePipeline::step_top() {
    if (cursor_ == s_.pages.size()) {
        step_ = Step::Drain;
    } else if (s_.token.is_cancelled()) {
        recorder_.end(cancelled_error());
        step_ = Step::Drain;
    } else if (Clock::now() >= s_.job_deadline) {
        recorder_.end(job_timeout_error());
        step_ = Step::Drain;
    } else if (s_.pages[cursor_].skip) {
        step_ = Step::Skip;
    } else {
        recorder_.send(ProgressStage::Rendering, s_.pages[cursor_].number, cursor_);
        step_ = Step::AwaitRender;
    }
    return true;
}

bool PagePipeline::step_await_render() {
    if (!rendered(cursor_) || !commit_pending()) {
        return false;
    }
    if (ends_before_cursor()) {
        drop(cursor_);  // the page just rendered
    } else if (records_.at(cursor_).rendered->error) {
        commit_render_failure(cursor_);
    } else {
        deaths_in_a_row_ = 0;
        if (overlapped(cursor_)) {
            pending_ = cursor_++;
            step_ = Step::Top;
        } else {
            step_ = Step::AwaitEncode;
        }
    }
    return true;
}

bool PagePipeline::step_await_encode() {
    if (!encoded(cursor_)) {
        if (records_.at(cursor_).encoding) {
            return false;
        }
        encode_here(cursor_);
    }
    commit(cursor_);
    if (recorder_.stopped()) {
        step_ = Step::Drain;
    } else {
        ++cursor_;
        step_ = Step::Top;
    }
    return true;
}

bool PagePipeline::step_skip() {
    // The page before is recorded first; its encode may still be running.
    if (!commit_pending()) {
        return false;
    }
    if (!ends_before_cursor()) {
        PageResult page_result;  // not rendered, so no size or times
        page_result.page = s_.pages[cursor_].number;
        page_result.skipped = true;
        page_result.output_path = existing_path(cursor_);
        recorder_.record(std::move(page_result), cursor_, std::nullopt);
        ++cursor_;
        step_ = Step::Top;
    }
    return true;
}

bool PagePipeline::step_drain() {
    // A page whose encode was under way when the job ended is still written.
    if (!commit_pending()) {
        return false;
    }
    step_ = Step::Done;
    return true;
}

bool PagePipeline::commit_pending() {
    if (pending_) {
        if (!encoded(*pending_)) {
            return false;
        }
        commit(*std::exchange(pending_, std::nullopt));
    }
    return true;
}

bool PagePipeline::ends_before_cursor() {
    // The page before may have stopped the job, or a cancel came meanwhile.
    if (!recorder_.stopped() && !s_.token.is_cancelled()) {
        return false;
    }
    if (!recorder_.stopped()) {
        recorder_.end(cancelled_error());
    }
    step_ = Step::Drain;
    return true;
}

std::filesystem::path PagePipeline::existing_path(std::uint32_t index) const {
    return s_.request.output_folder /
           to_path(s_.pages[index].name + image_format(s_.request.image).extension);
}

}  // namespace

void run_pages(const PipelineSetup& setup, ConvertResult& result) {
    PagePipeline pipeline(setup, result);
    pipeline.run();
}

}  // namespace bl

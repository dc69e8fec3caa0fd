// The engine's shared vocabulary: what a conversion job asks for, how it fails,
// what it reports while it runs and what it returns.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <tl/expected.hpp>

#include "bl/secret.h"

namespace bl {

// The numbers are a contract with the desktop application, which branches on
// them; never renumber.
enum class ErrorKind : std::uint32_t {
    InvalidSettings = 0,
    InvalidPageSelection = 1,
    InvalidNamingTemplate = 2,
    InputNotFound = 3,
    InputUnreadable = 4,
    NotAPdf = 5,
    DamagedPdf = 6,
    NoPages = 7,
    PasswordRequired = 8,
    WrongPassword = 9,
    UnsupportedEncryption = 10,
    LimitExceeded = 11,
    RenderFailed = 12,
    EncodeFailed = 13,
    OutputFolderUnavailable = 14,
    OutputExists = 15,
    PermissionDenied = 16,
    DiskFull = 17,
    WriteFailed = 18,
    Cancelled = 19,
    TimedOut = 20,
    OutOfMemory = 21,
    InternalError = 22,
};

struct ConvertError {
    ErrorKind kind = ErrorKind::InternalError;
    std::string message;     // a complete sentence, shown to the user unchanged
    std::uint32_t page = 0;  // 1-based page the failure belongs to; 0 for none

    friend bool operator==(const ConvertError&, const ConvertError&) = default;
};

// A value or the error that prevented it.
template <class T>
using Result = tl::expected<T, ConvertError>;
// Empty on success.
using MaybeError = std::optional<ConvertError>;

inline tl::unexpected<ConvertError> fail(ErrorKind kind, std::string message,
                                         std::uint32_t page = 0) {
    return tl::unexpected<ConvertError>(ConvertError{kind, std::move(message), page});
}
inline ConvertError make_error(ErrorKind kind, std::string message, std::uint32_t page = 0) {
    return ConvertError{kind, std::move(message), page};
}

// Passwords reach PDFium as C strings, where a NUL byte would silently end
// them early; such a password is refused instead.
MaybeError check_password(std::string_view password);

// The numbers are stored in settings and passed between programs; never renumber.
enum class ExistingFilePolicy : std::int32_t {
    Ask = 0,
    Replace = 1,
    KeepBoth = 2,
    // A page whose name is taken is neither rendered nor written: it is the
    // file already there. What resuming an interrupted batch needs.
    Skip = 3,
};

struct Rgb {
    std::uint8_t red = 255;
    std::uint8_t green = 255;
    std::uint8_t blue = 255;

    friend bool operator==(const Rgb&, const Rgb&) = default;
};

struct ImageOptions {
    double dpi = 150.0;
    std::int32_t jpeg_quality = 90;
    std::int32_t chroma = 0;  // 0 automatic, 1 4:4:4, 2 4:2:0, 3 greyscale
    Rgb background;
    bool render_annotations = true;
    bool render_form_fields = true;
    bool optimize_huffman = false;
};

struct ConvertLimits {
    std::uint64_t max_input_bytes = 1'073'741'824;
    std::int32_t max_pages = 10'000;
    double min_dpi = 10.0;
    double max_dpi = 600.0;
    std::uint64_t max_page_pixels = 100'000'000;
    std::int32_t max_side_px = 32'767;
    std::uint64_t max_job_pixels = 20'000'000'000;
    std::uint64_t max_job_output_bytes = 17'179'869'184;
    std::uint64_t overlap_max_pixels = 50'000'000;
    std::int64_t page_timeout_ms = 120'000;  // 0 or less: no limit
    std::int64_t job_timeout_ms = 0;         // 0 or less: no limit
    // The address space a render helper may use; it is ended when it needs more.
    std::uint64_t max_helper_memory_bytes = 4'294'967'296;
    // Render helpers working on one job at once; 0 or less: one per core, at most 8.
    std::int32_t render_helpers = 0;
    // What the page buffers of one job's helpers may take together; fewer helpers
    // work at once where their buffers would need more. One always works.
    std::uint64_t render_memory_budget_bytes = 536'870'912;
};

// The render helpers a job uses when `render_helpers` is 0: one per core, at most 8.
std::int32_t default_render_helpers();

// The render helpers a job uses whose largest page needs `page_bytes` per buffer
// (a buffer a helper and one more).
std::int32_t render_helpers_for(const ConvertLimits& limits, std::uint64_t page_bytes);

inline constexpr const char* kDefaultNamingTemplate = "{original}_page_{page_number:0001}";

struct ConvertRequest {
    std::filesystem::path input;
    Secret password;  // UTF-8; wiped by the engine once used
    std::string pages = "all";
    ImageOptions image;
    std::filesystem::path output_folder;
    std::string naming_template = kDefaultNamingTemplate;
    ExistingFilePolicy existing_files = ExistingFilePolicy::Ask;
    ConvertLimits limits;
};

struct PageSize {
    double width = 0.0;  // points, as displayed
    double height = 0.0;

    friend bool operator==(const PageSize&, const PageSize&) = default;
};

struct DocumentInfo {
    std::uint64_t file_size = 0;
    std::int32_t page_count = 0;
    std::int32_t pdf_version = 0;  // 14 for PDF 1.4; 0 when unknown
    bool encrypted = false;
    std::int32_t security_revision = -1;  // -1 without encryption
    std::vector<PageSize> page_sizes;     // one per page, page 1 first
};

struct PageResult {
    std::uint32_t page = 0;
    std::filesystem::path output_path;  // empty if nothing was written
    std::uint64_t bytes = 0;
    std::int32_t width_px = 0;
    std::int32_t height_px = 0;
    double render_ms = 0.0;
    double encode_ms = 0.0;
    std::optional<ConvertError> error;
    // Under ExistingFilePolicy::Skip: the name was taken, so `output_path` is the
    // file that was there and is left as it is; nothing was written.
    bool skipped = false;
};

struct ConvertResult {
    DocumentInfo document;
    std::vector<PageResult> page_results;  // in the order the pages finished
    std::uint32_t pages_selected = 0;
    std::uint32_t pages_written = 0;
    std::uint32_t pages_failed = 0;
    bool cancelled = false;
    std::optional<ConvertError> error;  // what stopped the job, if anything did
    // What render helpers that ended badly said of why ("Page 3: ..."), for a
    // debug log; the user's messages are in the errors.
    std::vector<std::string> diagnostics;
    // Pages whose file was there already (ExistingFilePolicy::Skip). A job that
    // nothing stopped has written + failed + skipped = selected.
    std::uint32_t pages_skipped = 0;
};

enum class ProgressStage : std::uint32_t {
    Started = 0,
    Rendering = 1,
    PageWritten = 2,
    PageFailed = 3,
    // Under ExistingFilePolicy::Skip, a page whose file was there already; it
    // comes instead of Rendering and PageWritten.
    PageSkipped = 4,
};

struct ProgressEvent {
    ProgressStage stage = ProgressStage::Started;
    std::uint32_t page = 0;   // 1-based; 0 for Started
    std::uint32_t index = 0;  // position in the selection; 0 for Started
    std::uint32_t total = 0;  // pages selected

    friend bool operator==(const ProgressEvent&, const ProgressEvent&) = default;
};

// Receives a job's progress events, on the thread that runs the job.
using ProgressCallback = std::function<void(const ProgressEvent&)>;

// A shared flag: every copy sees the same value. It is never reset, so each run
// uses a fresh token.
class CancellationToken {
  public:
    CancellationToken() : flag_(std::make_shared<std::atomic<bool>>(false)) {}

    void cancel() const { flag_->store(true, std::memory_order_release); }
    bool is_cancelled() const { return flag_->load(std::memory_order_acquire); }
    const std::atomic<bool>& flag() const { return *flag_; }

  private:
    std::shared_ptr<std::atomic<bool>> flag_;
};

// Deadlines and timings all use this clock.
using Clock = std::chrono::steady_clock;
using Deadline = Clock::time_point;
inline constexpr Deadline kNoDeadline = Deadline::max();

// A limit of ms milliseconds from `now`; ms <= 0 means no limit.
Deadline deadline_after(std::int64_t ms, Clock::time_point now);

// Milliseconds between two instants, as a double.
double elapsed_ms(Clock::time_point start, Clock::time_point end);

// Numbers inside messages: whole numbers in plain decimal, others as "%f".
std::string format_number(double x);

}  // namespace bl

// The render helpers of one document and the shared page buffers they render
// into. A helper is started when a page needs one; every limit (a page's or an
// open's deadline, a cancel, a death) is enforced here, while the owner waits.
// Only the owner's thread calls in, except for release() and notify().
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "bl/convert_types.h"
#include "bl/live_checks.h"
#include "bl/secret.h"
#include "bl/unique_fd.h"
#include "engine/input_file.h"
#include "engine/render_helper.h"
#include "engine/shared_memory.h"

namespace bl {

// One page's rendering, once it has ended.
struct RenderOutcome {
    std::uint32_t index = 0;
    std::optional<ConvertError> error;  // none: the pixels are in `buffer`
    bool helper_died = false;  // a crash, the memory limit or a protocol breach; not a kill of ours
    std::string report;        // what the helper, or its breach of the protocol, told of why
    int buffer = -1;
    std::int32_t stride = 0;
    double render_ms = 0.0;
};

class RenderPool {
  public:
    RenderPool(const InputFile& input, const ControlPage& control, const ImageOptions& image,
               const ConvertLimits& limits, const CancellationToken& token, bool forms);
    RenderPool(const RenderPool&) = delete;
    RenderPool& operator=(const RenderPool&) = delete;
    ~RenderPool();

    // Opens the document in a first helper and waits until it has, at most until
    // `deadline` and a grace; `job_deadline` tells the job's time-out from the
    // open's own. The password is kept for helpers started later when the
    // document needs one, and wiped with the pool.
    Result<DocumentInfo> open(Secret password, Deadline deadline, Deadline job_deadline);
    // Makes the helpers started from now on yield the processor to everything
    // else: previews and estimates must not slow a conversion beside them.
    void run_in_background() { background_ = true; }

    // What the last helper that ended badly reported; empty if nothing.
    const std::string& last_report() const { return last_report_; }

    // Sets how many helpers may work at once and makes `buffers` shared buffers
    // of `bytes`, for pixels of `pixel_bytes` (3: BGR, 4: BGRx); false when the
    // memory is not to be had. One more buffer than helpers lets a page be
    // encoded while every helper draws.
    bool prepare(std::size_t helpers, std::size_t buffers, std::size_t bytes,
                 std::int32_t pixel_bytes);

    // True when a helper (running or to be started) and a buffer are free.
    bool can_dispatch() const;
    // Starts rendering a page; `deadline` is the page's own, and bounds the
    // start of a new helper too.
    void dispatch(std::uint32_t index, std::uint32_t page, PixelSize size, Deadline deadline);

    // Serves every helper until a render ends, notify() is called or `until`
    // passes; returns the renders that ended.
    std::vector<RenderOutcome> wait(Deadline until);

    const std::uint8_t* pixels(int buffer) const {
        return buffers_[static_cast<std::size_t>(buffer)].map.data();
    }
    // A buffer's pixels have been used. Any thread.
    void release(int buffer);
    // Wakes wait(). Any thread.
    void notify() const;

    // The helper now rendering page `index`, or -1 (tests steer helpers through it).
    pid_t helper_pid(std::uint32_t index) const;

    // For a pool that serves one request after another (a preview session): the
    // token and drawing options of the next pages, and buffers of at least
    // `bytes`. Only while no page is under way; false when memory is short.
    void set_token(const CancellationToken& token);
    void set_image(const ImageOptions& image) { image_ = image; }
    bool ensure_buffers(std::size_t bytes);

  private:
    struct Buffer {
        UniqueFd fd;
        MemoryMap map;
        bool busy = false;
    };
    struct InFlight {
        std::uint32_t index = 0;
        std::uint32_t page = 0;
        int buffer = -1;
        std::int32_t stride = 0;
        Clock::time_point started;
    };
    struct Slot {
        std::unique_ptr<RenderHelper> helper;
        std::deque<std::size_t> awaiting;  // the replies due, in order, as ToEngine indices
        std::vector<bool> mapped;          // by buffer
        std::optional<InFlight> job;
        Deadline kill_at = kNoDeadline;
        bool cancel_kill = false;  // kill_at comes from a cancellation
        bool opening = false;      // the first open of the document
    };
    // Why a helper's work ended without its answer.
    enum class Cause { TimeUp, Cancel, Died, Breach };
    friend struct ReplyHandler;

    bool start_helper(Slot& slot);
    int take_buffer();
    void finish(Slot& slot, RenderOutcome outcome);
    void fail(Slot& slot, Cause cause, HelperEnd end, std::string report);
    void breach(Slot& slot, std::string report);
    void on_opened(Slot& slot, protocol::Opened opened);
    void on_rendered(Slot& slot, const protocol::Rendered& rendered);
    void serve(Slot& slot);
    void enforce_limits();
    bool poll_once(Deadline until);

    const InputFile& input_;
    const ControlPage& control_;
    ImageOptions image_;
    const ConvertLimits limits_;
    CancellationToken token_;
    const bool forms_;
    Secret password_;
    bool had_password_ = false;
    Deadline job_deadline_ = kNoDeadline;
    std::optional<Result<DocumentInfo>> opened_;
    std::string last_report_;
    // Declared before the slots, so that the helpers end before their buffers go.
    std::vector<Buffer> buffers_;
    mutable std::mutex buffers_mutex_;  // guards Buffer::busy
    std::vector<Slot> slots_;
    std::vector<RenderOutcome> outcomes_;
    UniqueFd wake_fd_;
    bool cancel_seen_ = false;
    bool background_ = false;
    std::int32_t pixel_bytes_ = 3;
};

}  // namespace bl

// The render helpers of one job and the shared page buffers they render into.
// Only the job's driver thread calls in, except for release() and notify(),
// which encode threads use.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "bl/convert_types.h"
#include "bl/live_checks.h"
#include "bl/unique_fd.h"
#include "engine/pdf_input.h"
#include "engine/render_helper.h"

namespace bl {

// One page's rendering, once it has ended.
struct RenderOutcome {
    std::optional<ConvertError> error;  // none: the pixels are in `buffer`
    bool helper_died = false;           // from a crash or the memory limit, not a kill of ours
    int buffer = -1;
    std::int32_t stride = 0;
    double render_ms = 0.0;
};

class RenderPool {
  public:
    RenderPool(const InputFile& input, const ControlPage& control, const ImageOptions& image,
               const ConvertLimits& limits, const CancellationToken& token);
    RenderPool(const RenderPool&) = delete;
    RenderPool& operator=(const RenderPool&) = delete;
    ~RenderPool();

    // Takes the helper that opened the document. Helpers started later open it
    // again, with `password` when the document needs it; it is wiped with the pool.
    void adopt(std::unique_ptr<RenderHelper> first, Secret password);

    // Sets how many helpers may work at once (the first is the one adopted), and
    // makes two shared buffers of `bytes` for each, for pixels of `pixel_bytes`
    // (3: BGR, 4: BGRx); false when the memory is not to be had.
    bool prepare(std::size_t helpers, std::size_t bytes, std::int32_t pixel_bytes);

    // True when a helper and a buffer are free for another page.
    bool can_dispatch() const;
    // Starts rendering a page; `deadline` is the page's own. A helper that had to
    // be started again and could not open the document gives the page its
    // outcome at once.
    void dispatch(std::uint32_t index, std::uint32_t page, PixelSize size, Deadline deadline);

    // Serves every helper until `done()` holds. `progress` runs on this thread
    // after anything has happened, so that the caller can start more work.
    void wait_until(const std::function<bool()>& done, const std::function<void()>& progress = {});

    bool has_outcome(std::uint32_t index) const { return outcomes_.count(index) != 0; }
    // The page's outcome, once; nothing if it has not come in.
    std::optional<RenderOutcome> take(std::uint32_t index);

    const std::uint8_t* pixels(int buffer) const { return buffers_[buffer].data; }
    // A buffer's pixels have been used. Any thread.
    void release(int buffer);
    // Wakes wait_until. Any thread.
    void notify();

    // The helper now rendering page `index` (tests steer helpers through it).
    pid_t helper_pid(std::uint32_t index) const;

  private:
    // A shared page buffer, mapped for reading; unmapped when it goes.
    struct Buffer {
        UniqueFd fd;
        const std::uint8_t* data = nullptr;
        std::size_t size = 0;
        bool busy = false;

        Buffer(UniqueFd memory, const std::uint8_t* mapped, std::size_t bytes)
            : fd(std::move(memory)), data(mapped), size(bytes) {}
        Buffer(Buffer&& other) noexcept
            : fd(std::move(other.fd)),
              data(std::exchange(other.data, nullptr)),
              size(other.size),
              busy(other.busy) {}
        Buffer& operator=(Buffer&&) = delete;
        ~Buffer();
    };
    struct InFlight {
        std::uint32_t index = 0;
        std::uint32_t page = 0;
        int buffer = -1;
        std::int32_t stride = 0;
        Clock::time_point started;
        Deadline kill_at = kNoDeadline;
        bool cancel_kill = false;  // kill_at comes from a cancellation
    };
    struct Slot {
        std::unique_ptr<RenderHelper> helper;
        std::vector<bool> mapped;  // by buffer
        std::optional<InFlight> job;
    };

    bool restart(Slot& slot);
    void finish(Slot& slot, RenderOutcome outcome);
    void finish_with_end(Slot& slot);
    void serve(Slot& slot);
    void enforce_limits();

    const InputFile& input_;
    const ControlPage& control_;
    const ImageOptions& image_;
    const ConvertLimits& limits_;
    const CancellationToken& token_;
    Secret password_;
    std::vector<Slot> slots_;
    std::vector<Buffer> buffers_;
    mutable std::mutex buffers_mutex_;  // guards Buffer::busy
    std::map<std::uint32_t, RenderOutcome> outcomes_;
    UniqueFd wake_fd_;
    bool cancel_seen_ = false;
    std::int32_t pixel_bytes_ = 4;
};

}  // namespace bl

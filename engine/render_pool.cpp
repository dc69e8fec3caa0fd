#include "engine/render_pool.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>

namespace bl {

namespace proto = protocol;

namespace {

// A render still running this long after its deadline, or after a cancel, is
// ended by force.
constexpr auto kGrace = std::chrono::seconds(1);
// How often the cancellation token is looked at while helpers work.
constexpr auto kTokenPoll = std::chrono::milliseconds(20);

ConvertError death_error(HelperEnd end, std::uint32_t page) {
    if (end == HelperEnd::OutOfMemory) {
        return make_error(ErrorKind::OutOfMemory, "Not enough memory to render this page.", page);
    }
    return make_error(ErrorKind::RenderFailed, "The page could not be rendered.", page);
}

std::int64_t deadline_ns(Deadline deadline) {
    if (deadline == kNoDeadline) {
        return 0;
    }
    const auto ns =
        std::chrono::duration_cast<std::chrono::nanoseconds>(deadline.time_since_epoch()).count();
    return std::max<std::int64_t>(ns, 1);
}

}  // namespace

RenderPool::RenderPool(const InputFile& input, const ControlPage& control,
                       const ImageOptions& image, const ConvertLimits& limits,
                       const CancellationToken& token)
    : input_(input), control_(control), image_(image), limits_(limits), token_(token), slots_(1) {
    wake_fd_.reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
}

RenderPool::Buffer::~Buffer() {
    if (data != nullptr) {
        ::munmap(const_cast<std::uint8_t*>(data), size);
    }
}

RenderPool::~RenderPool() {
    slots_.clear();  // ends the helpers before their buffers go
}

void RenderPool::adopt(std::unique_ptr<RenderHelper> first, Secret password) {
    slots_.front().helper = std::move(first);
    password_ = std::move(password);
}

bool RenderPool::prepare(std::size_t helpers, std::size_t bytes, std::int32_t pixel_bytes) {
    pixel_bytes_ = pixel_bytes;
    slots_.resize(std::max<std::size_t>(helpers, 1));
    bytes = std::max<std::size_t>(bytes, 1);
    for (std::size_t i = 0; i < 2 * slots_.size(); ++i) {
        UniqueFd fd(::memfd_create("brightleaf-page", MFD_CLOEXEC | MFD_ALLOW_SEALING));
        if (!fd) {
            return false;
        }
        // Sealed, so that a helper cannot shrink the memory under our reading of it.
        void* data = MAP_FAILED;
        if (::ftruncate(fd.get(), static_cast<off_t>(bytes)) == 0 &&
            ::fcntl(fd.get(), F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL) == 0) {
            // The engine only reads what the helpers draw.
            data = ::mmap(nullptr, bytes, PROT_READ, MAP_SHARED, fd.get(), 0);
        }
        if (data == MAP_FAILED) {
            return false;
        }
        buffers_.emplace_back(std::move(fd), static_cast<const std::uint8_t*>(data), bytes);
    }
    for (Slot& slot : slots_) {
        slot.mapped.assign(buffers_.size(), false);
    }
    return true;
}

bool RenderPool::can_dispatch() const {
    const bool helper_free =
        std::any_of(slots_.begin(), slots_.end(), [](const Slot& slot) { return !slot.job; });
    const std::lock_guard lock(buffers_mutex_);
    return helper_free && std::any_of(buffers_.begin(), buffers_.end(),
                                      [](const Buffer& buffer) { return !buffer.busy; });
}

bool RenderPool::restart(Slot& slot) {
    slot.helper.reset();
    slot.mapped.assign(buffers_.size(), false);
    std::string password(password_.view());
    auto opened = open_in_helper(input_, control_, password, image_.render_form_fields, limits_,
                                 open_deadline(limits_, Clock::now()), &token_);
    if (!opened) {
        return false;
    }
    slot.helper = std::move(opened->helper);
    return true;
}

void RenderPool::dispatch(std::uint32_t index, std::uint32_t page, PixelSize size,
                          Deadline deadline) {
    auto free_slot = std::find_if(slots_.begin(), slots_.end(),
                                  [](const Slot& slot) { return !slot.job && slot.helper; });
    if (free_slot == slots_.end()) {
        free_slot =
            std::find_if(slots_.begin(), slots_.end(), [](const Slot& slot) { return !slot.job; });
    }
    Slot& slot = *free_slot;
    int buffer = -1;
    {
        const std::lock_guard lock(buffers_mutex_);
        for (std::size_t i = 0; i < buffers_.size(); ++i) {
            if (!buffers_[i].busy) {
                buffers_[i].busy = true;
                buffer = static_cast<int>(i);
                break;
            }
        }
    }
    InFlight job;
    job.index = index;
    job.page = page;
    job.buffer = buffer;
    job.stride = size.width * pixel_bytes_;
    slot.job = job;

    if (!slot.helper && !restart(slot)) {
        if (token_.is_cancelled()) {
            finish(slot,
                   RenderOutcome{
                       make_error(ErrorKind::Cancelled, "Conversion was cancelled.", page), false});
        } else {
            finish(slot, RenderOutcome{death_error(HelperEnd::Crashed, page), true});
        }
        return;
    }
    RenderHelper& helper = *slot.helper;
    bool sent = true;
    if (!slot.mapped[buffer]) {
        sent =
            helper.send(proto::MapBuffer{static_cast<std::uint32_t>(buffer), buffers_[buffer].size},
                        buffers_[buffer].fd.get());
        slot.mapped[buffer] = sent;
    }
    proto::Render request;
    request.page = page;
    request.width = size.width;
    request.height = size.height;
    request.stride = job.stride;
    request.slot = static_cast<std::uint32_t>(buffer);
    request.flags =
        static_cast<std::uint8_t>((image_.render_annotations ? proto::kAnnotations : 0) |
                                  (pixel_bytes_ == 3 ? proto::kThreeBytes : 0));
    request.background = image_.background;
    request.deadline_ns = deadline_ns(deadline);
    slot.job->started = Clock::now();
    if (deadline != kNoDeadline) {
        // A deadline already past when the page starts still gets the whole grace.
        slot.job->kill_at = std::max(deadline, slot.job->started) + kGrace;
    }
    if (cancel_seen_) {
        slot.job->kill_at = std::min(slot.job->kill_at, slot.job->started + kGrace);
        slot.job->cancel_kill = true;
    }
    if (!sent || !helper.send(request)) {
        helper.kill();
        finish_with_end(slot);
    }
}

void RenderPool::finish(Slot& slot, RenderOutcome outcome) {
    const InFlight job = *slot.job;
    slot.job.reset();
    outcome.render_ms = elapsed_ms(job.started, Clock::now());
    outcome.stride = job.stride;
    if (outcome.error) {
        release(job.buffer);
    } else {
        outcome.buffer = job.buffer;
    }
    outcomes_[job.index] = std::move(outcome);
}

void RenderPool::finish_with_end(Slot& slot) {
    const HelperEnd end = slot.helper->end();
    slot.helper.reset();
    finish(slot, RenderOutcome{death_error(end, slot.job->page), end != HelperEnd::Killed});
}

void RenderPool::serve(Slot& slot) {
    for (;;) {
        std::optional<proto::Message> message;
        const RenderHelper::Read read = slot.helper->read(message);
        if (read == RenderHelper::Read::Pending) {
            return;
        }
        const auto* reply =
            read == RenderHelper::Read::Message ? std::get_if<proto::Rendered>(&*message) : nullptr;
        if (reply == nullptr || !slot.job || reply->page != slot.job->page) {
            // Dead, or saying what it was not asked.
            if (read == RenderHelper::Read::Message) {
                slot.helper->kill();
                slot.helper->end();
                slot.helper.reset();
                if (slot.job) {
                    finish(slot,
                           RenderOutcome{death_error(HelperEnd::Crashed, slot.job->page), true});
                }
            } else if (slot.job) {
                finish_with_end(slot);
            } else {
                slot.helper.reset();
            }
            return;
        }
        RenderOutcome outcome;
        if (reply->status != proto::RenderStatus::Done) {
            outcome.error = proto::render_error(reply->status, reply->page);
        }
        finish(slot, std::move(outcome));
    }
}

void RenderPool::enforce_limits() {
    const auto now = Clock::now();
    if (!cancel_seen_ && token_.is_cancelled()) {
        // Pages pause at the flag; any still running a second later are ended.
        cancel_seen_ = true;
        control_.cancel();
        for (Slot& slot : slots_) {
            if (slot.job && slot.job->kill_at > now + kGrace) {
                slot.job->kill_at = now + kGrace;
                slot.job->cancel_kill = true;
            }
        }
    }
    for (Slot& slot : slots_) {
        if (!slot.job || now < slot.job->kill_at) {
            continue;
        }
        const std::uint32_t page = slot.job->page;
        slot.helper->kill();
        slot.helper->end();
        slot.helper.reset();
        finish(slot, RenderOutcome{
                         slot.job->cancel_kill
                             ? make_error(ErrorKind::Cancelled, "Conversion was cancelled.", page)
                             : proto::render_error(proto::RenderStatus::TimedOut, page),
                         false});
    }
}

void RenderPool::wait_until(const std::function<bool()>& done,
                            const std::function<void()>& progress) {
    std::vector<pollfd> waiting;
    std::vector<Slot*> owners;
    while (!done()) {
        waiting.clear();
        owners.clear();
        waiting.push_back(pollfd{wake_fd_.get(), POLLIN, 0});
        Deadline next = kNoDeadline;
        for (Slot& slot : slots_) {
            if (slot.job && slot.helper) {
                waiting.push_back(pollfd{slot.helper->socket(), POLLIN, 0});
                owners.push_back(&slot);
                next = std::min(next, slot.job->kill_at);
            }
        }
        if (!cancel_seen_) {
            next = std::min(next, Clock::now() + kTokenPoll);
        }
        int timeout = -1;
        if (next != kNoDeadline) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(next - Clock::now()).count();
            timeout = static_cast<int>(std::clamp<long long>(left + 1, 0, INT_MAX));
        }
        const int ready = ::poll(waiting.data(), waiting.size(), timeout);
        if (ready < 0 && errno != EINTR) {
            // Cannot happen with valid descriptors; avoid spinning if it does.
            ::usleep(1000);
        }
        if (waiting[0].revents != 0) {
            std::uint64_t count = 0;
            [[maybe_unused]] const ssize_t drained = ::read(wake_fd_.get(), &count, sizeof count);
        }
        for (std::size_t i = 1; i < waiting.size(); ++i) {
            if (waiting[i].revents != 0) {
                serve(*owners[i - 1]);
            }
        }
        enforce_limits();
        if (progress) {
            progress();
        }
    }
}

std::optional<RenderOutcome> RenderPool::take(std::uint32_t index) {
    const auto found = outcomes_.find(index);
    if (found == outcomes_.end()) {
        return std::nullopt;
    }
    RenderOutcome outcome = std::move(found->second);
    outcomes_.erase(found);
    return outcome;
}

void RenderPool::release(int buffer) {
    if (buffer < 0) {
        return;
    }
    {
        const std::lock_guard lock(buffers_mutex_);
        buffers_[static_cast<std::size_t>(buffer)].busy = false;
    }
    notify();
}

void RenderPool::notify() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(wake_fd_.get(), &one, sizeof one);
}

pid_t RenderPool::helper_pid(std::uint32_t index) const {
    for (const Slot& slot : slots_) {
        if (slot.job && slot.job->index == index && slot.helper) {
            return slot.helper->pid();
        }
    }
    return -1;
}

}  // namespace bl

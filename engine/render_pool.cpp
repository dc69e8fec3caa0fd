#include "engine/render_pool.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>

#include "engine/document_facts.h"
#include "engine/errors.h"

namespace bl {

namespace proto = protocol;

namespace {

// Work still running this long after its deadline, or after a cancel, is ended
// by force: pages pause at both, but opening a document cannot.
constexpr auto kGrace = std::chrono::seconds(1);
// How often the cancellation token is looked at while helpers work.
constexpr auto kTokenPoll = std::chrono::milliseconds(20);

template <class M>
constexpr std::size_t kReply = proto::index_in<proto::ToEngine, M>;

std::int64_t deadline_ns(Deadline deadline) {
    if (deadline == kNoDeadline) {
        return 0;
    }
    const auto ns =
        std::chrono::duration_cast<std::chrono::nanoseconds>(deadline.time_since_epoch()).count();
    return std::max<std::int64_t>(ns, 1);
}

Deadline with_grace(Deadline deadline, Clock::time_point now) {
    // A deadline already past when the work starts still gets the whole grace.
    return deadline == kNoDeadline ? kNoDeadline : std::max(deadline, now) + kGrace;
}

std::string end_report(HelperEnd end, const std::string& said) {
    if (!said.empty()) {
        return said;
    }
    switch (end) {
        case HelperEnd::OutOfMemory:
            return "the render helper ran out of memory";
        case HelperEnd::SandboxViolation:
            return "the render helper broke its sandbox";
        case HelperEnd::Crashed:
            return "the render helper crashed";
        case HelperEnd::Killed:
            break;
    }
    return std::string();
}

}  // namespace

// Every message a helper may send has its handler here: a new one fails to
// compile until it is handled.
struct ReplyHandler {
    RenderPool& pool;
    RenderPool::Slot& slot;

    void operator()(const proto::Hello&) const {}
    void operator()(proto::Opened& opened) const { pool.on_opened(slot, std::move(opened)); }
    void operator()(const proto::Rendered& rendered) const { pool.on_rendered(slot, rendered); }
    void operator()(const proto::SelfTestResult&) const {
        pool.breach(slot, "the render helper answered a self-test nobody asked for");
    }
};

RenderPool::RenderPool(const InputFile& input, const ControlPage& control,
                       const ImageOptions& image, const ConvertLimits& limits,
                       const CancellationToken& token, bool forms)
    : input_(input),
      control_(control),
      image_(image),
      limits_(limits),
      token_(token),
      forms_(forms),
      slots_(1),
      wake_fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

RenderPool::~RenderPool() {
    slots_.clear();  // ends the helpers before their buffers go
}

Result<DocumentInfo> RenderPool::open(Secret password, Deadline deadline, Deadline job_deadline) {
    cap_password(password);
    had_password_ = !password.empty();
    password_ = std::move(password);
    job_deadline_ = job_deadline;
    Slot& slot = slots_.front();
    slot.opening = true;
    slot.kill_at = with_grace(deadline, Clock::now());
    if (!start_helper(slot)) {
        password_.clear();
        return tl::unexpected(internal_error());
    }
    while (!opened_) {
        wait(kNoDeadline);
    }
    slot.opening = false;
    slot.kill_at = kNoDeadline;
    // Only helpers started again for an encrypted document need the password.
    if (!*opened_ || !opened_->value().encrypted) {
        password_.clear();
    }
    return std::move(*opened_);
}

bool RenderPool::start_helper(Slot& slot) {
    slot.mapped.assign(buffers_.size(), false);
    slot.awaiting.clear();
    auto spawned = RenderHelper::spawn(&input_, control_, limits_.max_helper_memory_bytes);
    if (!spawned) {
        return false;
    }
    slot.helper = std::move(*spawned);
    if (background_) {
        // The lowest priority there is; it only matters while the processors are busy.
        ::setpriority(PRIO_PROCESS, static_cast<id_t>(slot.helper->pid()), 19);
    }
    // The limit itself is applied here; the helper only needs to know when to
    // leave the page sizes out.
    const proto::Open request{input_.size, std::max(limits_.max_pages, 0), forms_, password_};
    slot.awaiting = {kReply<proto::Hello>, kReply<proto::Opened>};
    if (!slot.helper->send(request)) {
        slot.helper->kill();
        fail(slot, Cause::Died, slot.helper->end(), "the render helper did not take the document");
    }
    return true;
}

bool RenderPool::prepare(std::size_t helpers, std::size_t buffers, std::size_t bytes,
                         std::int32_t pixel_bytes) {
    pixel_bytes_ = pixel_bytes;
    slots_.resize(std::max<std::size_t>(helpers, 1));
    bytes = std::max<std::size_t>(bytes, 1);
    for (std::size_t i = 0; i < std::max<std::size_t>(buffers, 1); ++i) {
        Buffer buffer;
        buffer.fd = sealed_memory_file("brightleaf-page", bytes, true);
        // The engine only reads what the helpers draw.
        buffer.map = buffer.fd ? MemoryMap(buffer.fd.get(), bytes, false, true) : MemoryMap();
        if (!buffer.map) {
            return false;
        }
        buffers_.push_back(std::move(buffer));
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

int RenderPool::take_buffer() {
    const std::lock_guard lock(buffers_mutex_);
    for (std::size_t i = 0; i < buffers_.size(); ++i) {
        if (!buffers_[i].busy) {
            buffers_[i].busy = true;
            return static_cast<int>(i);
        }
    }
    return -1;
}

void RenderPool::dispatch(std::uint32_t index, std::uint32_t page, PixelSize size,
                          Deadline deadline) {
    // A running helper first; a new one only when none is free.
    auto free_slot = std::find_if(slots_.begin(), slots_.end(),
                                  [](const Slot& slot) { return !slot.job && slot.helper; });
    if (free_slot == slots_.end()) {
        free_slot =
            std::find_if(slots_.begin(), slots_.end(), [](const Slot& slot) { return !slot.job; });
    }
    Slot& slot = *free_slot;
    const int buffer = take_buffer();
    const auto now = Clock::now();
    slot.job = InFlight{index, page, buffer, size.width * pixel_bytes_, now};
    slot.kill_at = with_grace(deadline, now);
    slot.cancel_kill = cancel_seen_;
    if (cancel_seen_) {
        slot.kill_at = std::min(slot.kill_at, now + kGrace);
    }
    if (!slot.helper && !start_helper(slot)) {
        finish(slot, RenderOutcome{index, render_failed_error(page), true,
                                   "no render helper could be started"});
        return;
    }
    if (!slot.job) {
        return;  // the new helper failed at once
    }
    const auto at = static_cast<std::size_t>(buffer);
    bool sent = true;
    if (!slot.mapped[at]) {
        sent = slot.helper->send(
            proto::MapBuffer{static_cast<std::uint32_t>(buffer), buffers_[at].map.size()},
            buffers_[at].fd.get());
        slot.mapped[at] = sent;
    }
    proto::Render request;
    request.page = page;
    request.width = size.width;
    request.height = size.height;
    request.stride = slot.job->stride;
    request.slot = static_cast<std::uint32_t>(buffer);
    request.flags =
        static_cast<std::uint8_t>((image_.render_annotations ? proto::kAnnotations : 0) |
                                  (image_.render_form_fields ? proto::kFormFields : 0) |
                                  (pixel_bytes_ == 3 ? proto::kThreeBytes : 0));
    request.background = image_.background;
    request.deadline_ns = deadline_ns(deadline);
    slot.awaiting.push_back(kReply<proto::Rendered>);
    if (!sent || !slot.helper->send(request)) {
        slot.helper->kill();
        fail(slot, Cause::Died, slot.helper->end(), "the render helper did not take the page");
    }
}

void RenderPool::finish(Slot& slot, RenderOutcome outcome) {
    const InFlight job = *slot.job;
    slot.job.reset();
    slot.kill_at = kNoDeadline;
    slot.cancel_kill = false;
    outcome.index = job.index;
    outcome.render_ms = elapsed_ms(job.started, Clock::now());
    outcome.stride = job.stride;
    if (outcome.error) {
        release(job.buffer);
    } else {
        outcome.buffer = job.buffer;
    }
    outcomes_.push_back(std::move(outcome));
}

void RenderPool::fail(Slot& slot, Cause cause, HelperEnd end, std::string report) {
    slot.helper.reset();
    slot.awaiting.clear();
    if (cause == Cause::Died) {
        report = end_report(end, report);
    }
    if (!report.empty()) {
        last_report_ = report;
    }
    const bool died = cause == Cause::Breach || (cause == Cause::Died && end != HelperEnd::Killed);
    if (slot.job) {
        const std::uint32_t page = slot.job->page;
        ConvertError error = render_failed_error(page);
        if (cause == Cause::Cancel) {
            error = cancelled_error(page);
        } else if (cause == Cause::TimeUp) {
            error = proto::render_error(proto::RenderStatus::TimedOut, page);
        } else if (cause == Cause::Died && end == HelperEnd::OutOfMemory) {
            error = render_out_of_memory_error(page);
        }
        finish(slot, RenderOutcome{slot.job->index, std::move(error), died, std::move(report)});
    } else if (slot.opening && !opened_) {
        ConvertError error = damaged_error();
        if (cause == Cause::Cancel) {
            error = cancelled_error();
        } else if (cause == Cause::TimeUp && Clock::now() >= job_deadline_) {
            error = job_timeout_error();  // only an open the job's limit cut off
        } else if (cause == Cause::Died && end == HelperEnd::OutOfMemory) {
            error = open_out_of_memory_error();
        }
        opened_ = tl::unexpected(std::move(error));
    }
}

void RenderPool::breach(Slot& slot, std::string report) {
    slot.helper->kill();
    slot.helper->end();
    fail(slot, Cause::Breach, HelperEnd::Killed, std::move(report));
}

void RenderPool::on_opened(Slot& slot, proto::Opened opened) {
    if (slot.opening && !opened_) {
        opened_ = document_info(std::move(opened), input_.size, had_password_, limits_);
        return;
    }
    // A helper started again must find the document as the first one did.
    if (opened.load != proto::LoadStatus::Loaded) {
        breach(slot, "the document did not open again in a new render helper");
    }
}

void RenderPool::on_rendered(Slot& slot, const proto::Rendered& rendered) {
    if (!slot.job || rendered.page != slot.job->page) {
        breach(slot, "the render helper answered for a page it was not asked for");
        return;
    }
    RenderOutcome outcome;
    if (rendered.status != proto::RenderStatus::Done) {
        outcome.error = proto::render_error(rendered.status, rendered.page);
    }
    finish(slot, std::move(outcome));
}

void RenderPool::serve(Slot& slot) {
    while (slot.helper) {
        std::optional<proto::ToEngine> message;
        const RenderHelper::Read read = slot.helper->read(message);
        if (read == RenderHelper::Read::Pending) {
            return;
        }
        if (read == RenderHelper::Read::Broken) {
            const HelperEnd end = slot.helper->end();
            const bool busy = slot.job || (slot.opening && !opened_);
            fail(slot, Cause::Died, end, busy ? slot.helper->report() : std::string());
            continue;
        }
        if (slot.awaiting.empty() || message->index() != slot.awaiting.front()) {
            breach(slot, std::string("the render helper sent ") + proto::name_of(*message) +
                             " where nothing of the kind was due");
            return;
        }
        slot.awaiting.pop_front();
        std::visit(ReplyHandler{*this, slot}, *message);
    }
}

void RenderPool::enforce_limits() {
    const auto now = Clock::now();
    if (!cancel_seen_ && token_.is_cancelled()) {
        // Pages pause at the flag; any still running a second later are ended.
        cancel_seen_ = true;
        control_.cancel();
        for (Slot& slot : slots_) {
            if (slot.kill_at > now + kGrace) {
                slot.kill_at = now + kGrace;
                slot.cancel_kill = true;
            }
        }
    }
    for (Slot& slot : slots_) {
        const bool busy = slot.job || (slot.opening && !opened_);
        if (!busy || !slot.helper || now < slot.kill_at) {
            continue;
        }
        slot.helper->kill();
        slot.helper->end();
        fail(slot, slot.cancel_kill ? Cause::Cancel : Cause::TimeUp, HelperEnd::Killed, {});
    }
}

bool RenderPool::poll_once(Deadline until) {
    std::vector<pollfd> waiting{pollfd{wake_fd_.get(), POLLIN, 0}};
    std::vector<Slot*> owners;
    Deadline next = until;
    for (Slot& slot : slots_) {
        if (slot.helper) {
            waiting.push_back(pollfd{slot.helper->socket(), POLLIN, 0});
            owners.push_back(&slot);
            next = std::min(next, slot.kill_at);
        }
    }
    if (!cancel_seen_) {
        next = std::min(next, Clock::now() + kTokenPoll);
    }
    const int ready = ::poll(waiting.data(), waiting.size(), milliseconds_until(next));
    if (ready < 0 && errno != EINTR) {
        // Cannot happen with valid descriptors; avoid spinning if it does.
        ::usleep(1000);
    }
    bool woken = false;
    if (waiting[0].revents != 0) {
        std::uint64_t count = 0;
        woken = ::read(wake_fd_.get(), &count, sizeof count) > 0;
    }
    for (std::size_t i = 1; i < waiting.size(); ++i) {
        if (waiting[i].revents != 0) {
            serve(*owners[i - 1]);
        }
    }
    enforce_limits();
    return woken;
}

std::vector<RenderOutcome> RenderPool::wait(Deadline until) {
    bool woken = false;
    while (!woken && outcomes_.empty() && !(slots_.front().opening && opened_) &&
           Clock::now() < until) {
        woken = poll_once(until);
    }
    return std::exchange(outcomes_, {});
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

void RenderPool::notify() const {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(wake_fd_.get(), &one, sizeof one);
}

void RenderPool::set_token(const CancellationToken& token) {
    token_ = token;
    cancel_seen_ = false;
    control_.reset();
}

bool RenderPool::ensure_buffers(std::size_t bytes) {
    if (!buffers_.empty() && buffers_.front().map.size() >= bytes) {
        return true;
    }
    const std::size_t count = std::max<std::size_t>(buffers_.size(), 1);
    buffers_.clear();
    return prepare(slots_.size(), count, bytes, pixel_bytes_);
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

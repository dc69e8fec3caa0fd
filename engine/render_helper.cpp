#include "engine/render_helper.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <filesystem>
#include <thread>

#include "bl/secret.h"
#include "bl/version.h"

extern char** environ;

namespace bl {

namespace proto = protocol;

namespace {

constexpr std::size_t kControlBytes = 4096;
// How long a helper that closed its socket is given to exit on its own, so that
// its exit status can say why it ended.
constexpr auto kExitWait = std::chrono::milliseconds(200);
// A helper that does not take a small message within this time is stuck.
constexpr auto kSendWait = std::chrono::seconds(10);

ConvertError internal_error() {
    return make_error(ErrorKind::InternalError, "An unexpected internal error occurred.");
}

ConvertError damaged_error() {
    return make_error(ErrorKind::DamagedPdf, "The PDF is damaged or not a valid PDF document.");
}

int milliseconds_until(Deadline deadline) {
    if (deadline == kNoDeadline) {
        return -1;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left + 1, 0, INT_MAX));
}

// A descriptor of ours above the three the helper starts with, so that placing
// them at 3, 4 and 5 cannot overwrite one another.
int high_copy(int fd) {
    return ::fcntl(fd, F_DUPFD_CLOEXEC, 10);
}

bool is_helper_message(const proto::Message& message) {
    return std::holds_alternative<proto::Hello>(message) ||
           std::holds_alternative<proto::Opened>(message) ||
           std::holds_alternative<proto::Rendered>(message) ||
           std::holds_alternative<proto::SelfTestResult>(message);
}

}  // namespace

Result<std::unique_ptr<ControlPage>> ControlPage::create() {
    const int fd = ::memfd_create("brightleaf-control", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (fd < 0) {
        return tl::unexpected(internal_error());
    }
    UniqueFd owner(fd);
    // Sealed, so that a helper cannot shrink it under the engine's mapping.
    if (::ftruncate(fd, kControlBytes) != 0 ||
        ::fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL) != 0) {
        return tl::unexpected(internal_error());
    }
    void* data = ::mmap(nullptr, kControlBytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (data == MAP_FAILED) {
        return tl::unexpected(internal_error());
    }
    return std::unique_ptr<ControlPage>(
        new ControlPage(std::move(owner), new (data) std::atomic<std::uint32_t>(0)));
}

ControlPage::~ControlPage() {
    ::munmap(flag_, kControlBytes);
}

const std::string& render_helper_path() {
    static const std::string path = [] {
        std::error_code error;
        const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
        if (error) {
            return std::string();
        }
        const auto folder = self.parent_path();
        for (const auto& candidate :
             {folder / "brightleaf-render", folder / "../lib/brightleaf/brightleaf-render"}) {
            if (::access(candidate.c_str(), X_OK) == 0) {
                return candidate.lexically_normal().string();
            }
        }
        return std::string();
    }();
    return path;
}

Result<std::unique_ptr<RenderHelper>> RenderHelper::start(const InputFile* input,
                                                          const ControlPage& control,
                                                          std::uint64_t memory_limit,
                                                          Deadline deadline) {
    const std::string& program = render_helper_path();
    if (program.empty()) {
        return tl::unexpected(internal_error());
    }
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        return tl::unexpected(internal_error());
    }
    UniqueFd ours(pair[0]);
    UniqueFd theirs(pair[1]);
    const UniqueFd socket_copy(high_copy(theirs.get()));
    const UniqueFd input_copy(high_copy(input != nullptr ? input->fd.get() : control.fd()));
    const UniqueFd control_copy(high_copy(control.fd()));
    if (socket_copy.get() < 0 || input_copy.get() < 0 || control_copy.get() < 0) {
        return tl::unexpected(internal_error());
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, socket_copy.get(), proto::kSocketFd);
    posix_spawn_file_actions_adddup2(&actions, input_copy.get(), proto::kInputFd);
    posix_spawn_file_actions_adddup2(&actions, control_copy.get(), proto::kControlFd);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // A group of its own, so that a Ctrl+C at the terminal reaches the engine,
    // which decides, and not the helper.
    posix_spawnattr_setflags(
        &attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    posix_spawnattr_setpgroup(&attributes, 0);
    sigset_t signals;
    sigemptyset(&signals);
    posix_spawnattr_setsigmask(&attributes, &signals);
    sigfillset(&signals);
    posix_spawnattr_setsigdefault(&attributes, &signals);

    std::string limit_argument = "--memory-limit=" + std::to_string(memory_limit);
    std::string parent_argument = "--parent=" + std::to_string(::getpid());
    std::string program_argument = program;
    char* arguments[] = {program_argument.data(), limit_argument.data(), parent_argument.data(),
                         nullptr};
    pid_t pid = -1;
    const int spawned =
        ::posix_spawn(&pid, program.c_str(), &actions, &attributes, arguments, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (spawned != 0) {
        return tl::unexpected(internal_error());
    }

    const int flags = ::fcntl(ours.get(), F_GETFL);
    ::fcntl(ours.get(), F_SETFL, flags | O_NONBLOCK);
    std::unique_ptr<RenderHelper> helper(new RenderHelper(pid, std::move(ours)));
    bool timed_out = false;
    auto hello = helper->receive(deadline, timed_out);
    if (!hello || !std::holds_alternative<proto::Hello>(*hello)) {
        return tl::unexpected(internal_error());
    }
    helper->hello_ = std::get<proto::Hello>(*hello);
    return helper;
}

RenderHelper::~RenderHelper() {
    socket_.reset();
    if (!end_) {
        kill();
        end();
    }
}

bool RenderHelper::send(const proto::Message& message, int fd) {
    std::vector<std::uint8_t> frame = proto::encode(message);
    std::size_t done = 0;
    const Deadline give_up = Clock::now() + kSendWait;
    bool ok = true;
    while (ok && done < frame.size()) {
        iovec part{frame.data() + done, frame.size() - done};
        msghdr header{};
        header.msg_iov = &part;
        header.msg_iovlen = 1;
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
        if (fd >= 0 && done == 0) {
            header.msg_control = control;
            header.msg_controllen = sizeof control;
            cmsghdr* c = CMSG_FIRSTHDR(&header);
            c->cmsg_level = SOL_SOCKET;
            c->cmsg_type = SCM_RIGHTS;
            c->cmsg_len = CMSG_LEN(sizeof(int));
            std::memcpy(CMSG_DATA(c), &fd, sizeof fd);
        }
        const ssize_t sent = ::sendmsg(socket_.get(), &header, MSG_NOSIGNAL);
        if (sent > 0) {
            done += static_cast<std::size_t>(sent);
        } else if (sent < 0 && errno == EINTR) {
            continue;
        } else if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd wait{socket_.get(), POLLOUT, 0};
            ok = ::poll(&wait, 1, milliseconds_until(give_up)) > 0;
        } else {
            ok = false;
        }
    }
    // A frame may carry a password.
    ::explicit_bzero(frame.data(), frame.size());
    return ok;
}

RenderHelper::Read RenderHelper::read(std::optional<proto::Message>& message) {
    for (;;) {
        if (incoming_.size() >= proto::kHeaderSize) {
            const auto header =
                proto::decode_header(std::span(incoming_).first<proto::kHeaderSize>());
            if (!header) {
                return Read::Broken;
            }
            const std::size_t total = proto::kHeaderSize + header->length;
            if (incoming_.size() >= total) {
                message = proto::decode_payload(
                    header->type, std::span(incoming_).subspan(proto::kHeaderSize, header->length));
                incoming_.erase(incoming_.begin(),
                                incoming_.begin() + static_cast<std::ptrdiff_t>(total));
                if (!message || !is_helper_message(*message)) {
                    return Read::Broken;
                }
                return Read::Message;
            }
        }
        std::array<std::uint8_t, 65536> chunk;
        const ssize_t got = ::recv(socket_.get(), chunk.data(), chunk.size(), 0);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return Read::Pending;
        }
        if (got <= 0) {
            return Read::Broken;
        }
        incoming_.insert(incoming_.end(), chunk.begin(), chunk.begin() + got);
    }
}

std::optional<proto::Message> RenderHelper::receive(Deadline deadline, bool& timed_out) {
    timed_out = false;
    for (;;) {
        std::optional<proto::Message> message;
        const Read result = read(message);
        if (result == Read::Message) {
            return message;
        }
        if (result == Read::Broken) {
            return std::nullopt;
        }
        pollfd wait{socket_.get(), POLLIN, 0};
        const int ready = ::poll(&wait, 1, milliseconds_until(deadline));
        if (ready == 0) {
            timed_out = true;
            return std::nullopt;
        }
        if (ready < 0 && errno != EINTR) {
            return std::nullopt;
        }
    }
}

void RenderHelper::kill() {
    if (!end_ && !killed_) {
        ::kill(pid_, SIGKILL);
        killed_ = true;
    }
}

HelperEnd RenderHelper::end() {
    if (end_) {
        return *end_;
    }
    int status = 0;
    pid_t reaped = 0;
    if (!killed_) {
        const Deadline give_up = Clock::now() + kExitWait;
        while ((reaped = ::waitpid(pid_, &status, WNOHANG)) == 0 && Clock::now() < give_up) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        if (reaped == 0) {
            // It closed its end but lives on: not a helper to be trusted.
            ::kill(pid_, SIGKILL);
            reaped = ::waitpid(pid_, &status, 0);
            end_ = HelperEnd::Crashed;
            return *end_;
        }
    } else {
        while ((reaped = ::waitpid(pid_, &status, 0)) < 0 && errno == EINTR) {
        }
    }
    if (killed_) {
        end_ = HelperEnd::Killed;
    } else if (reaped > 0 && WIFEXITED(status) && WEXITSTATUS(status) == proto::kExitOutOfMemory) {
        end_ = HelperEnd::OutOfMemory;
    } else if (reaped > 0 && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) {
        // Not by us: the system ran out of memory and chose this process.
        end_ = HelperEnd::OutOfMemory;
    } else {
        end_ = HelperEnd::Crashed;
    }
    return *end_;
}

Deadline open_deadline(const ConvertLimits& limits, Clock::time_point now) {
    // Opening reads the cross-reference data and every page's size, which takes a
    // while for large files, so a short page limit does not apply in full. Without
    // any limit, inspections must still end.
    constexpr std::int64_t kShortestOpenMs = 30'000;
    constexpr std::int64_t kUnlimitedOpenMs = 120'000;
    const std::int64_t ms = limits.page_timeout_ms > 0
                                ? std::max(limits.page_timeout_ms, kShortestOpenMs)
                                : kUnlimitedOpenMs;
    return deadline_after(ms, now);
}

Result<OpenedDocument> open_in_helper(const InputFile& input, const ControlPage& control,
                                      std::string& password, bool forms,
                                      const ConvertLimits& limits, Deadline deadline,
                                      const CancellationToken* token) {
    cap_password(password);
    const bool had_password = !password.empty();
    auto started = RenderHelper::start(&input, control, limits.max_helper_memory_bytes, deadline);
    if (!started) {
        secure_clear(password);
        return tl::unexpected(std::move(started.error()));
    }
    OpenedDocument opened;
    opened.helper = std::move(*started);
    RenderHelper& helper = *opened.helper;

    // The limit itself is applied here; the helper only needs to know when to
    // leave the page sizes out.
    proto::Open request{input.size, std::max(limits.max_pages, 0), forms, std::move(password)};
    const bool sent = helper.send(request);
    secure_clear(request.password);
    secure_clear(password);
    if (!sent) {
        return tl::unexpected(damaged_error());
    }

    // Opening cannot be paused: a cancelled open is given a second, then ended.
    std::optional<Deadline> cancel_by;
    for (;;) {
        Deadline wait_until = deadline;
        if (token != nullptr && !cancel_by) {
            if (token->is_cancelled()) {
                cancel_by = Clock::now() + std::chrono::seconds(1);
            } else {
                wait_until = std::min(wait_until, Clock::now() + std::chrono::milliseconds(20));
            }
        }
        if (cancel_by) {
            wait_until = std::min(wait_until, *cancel_by);
        }
        bool timed_out = false;
        auto reply = helper.receive(wait_until, timed_out);
        if (reply && std::holds_alternative<proto::Opened>(*reply)) {
            auto info = document_info(std::move(std::get<proto::Opened>(*reply)), input.size,
                                      had_password, limits);
            if (!info) {
                return tl::unexpected(std::move(info.error()));
            }
            opened.info = std::move(*info);
            return opened;
        }
        if (!timed_out) {
            return tl::unexpected(damaged_error());  // died, or said something else
        }
        if (cancel_by && Clock::now() >= *cancel_by) {
            return fail(ErrorKind::Cancelled, "Conversion was cancelled.");
        }
        if (Clock::now() >= deadline) {
            return tl::unexpected(damaged_error());
        }
    }
}

std::optional<proto::Hello> probe_helper() {
    auto control = ControlPage::create();
    if (!control) {
        return std::nullopt;
    }
    auto helper = RenderHelper::start(nullptr, **control, ConvertLimits{}.max_helper_memory_bytes,
                                      Clock::now() + std::chrono::seconds(30));
    if (!helper) {
        return std::nullopt;
    }
    return (*helper)->hello();
}

std::string sandbox_summary() {
    const auto hello = probe_helper();
    if (!hello) {
        return "unavailable";
    }
    const bool seccomp = (hello->sandbox & proto::kSeccomp) != 0;
    const bool landlock = (hello->sandbox & proto::kLandlock) != 0;
    const std::string landlock_text = "Landlock ABI " + std::to_string(hello->landlock_abi);
    if (seccomp && landlock) {
        return "seccomp, " + landlock_text;
    }
    if (seccomp) {
        return "seccomp only";
    }
    if (landlock) {
        return landlock_text + " only";
    }
    return "none";
}

}  // namespace bl

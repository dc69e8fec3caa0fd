#include "engine/render_helper.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
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

#include "engine/errors.h"

extern char** environ;

namespace bl {

namespace proto = protocol;

namespace {

// How long a helper that closed its socket is given to exit on its own, so that
// its exit status can say why it ended.
constexpr auto kExitWait = std::chrono::milliseconds(200);
// A helper that does not take a small message within this time is stuck.
constexpr auto kSendWait = std::chrono::seconds(10);
// The most of a helper's report that is kept.
constexpr std::size_t kMaxReport = 4096;

// A descriptor of ours above the ones the helper starts with, so that placing
// them at 3 to 6 cannot overwrite one another.
UniqueFd high_copy(int fd) {
    return UniqueFd(::fcntl(fd, F_DUPFD_CLOEXEC, 10));
}

class SpawnSetup {
  public:
    SpawnSetup() {
        posix_spawn_file_actions_init(&actions_);
        posix_spawnattr_init(&attributes_);
        // A group of its own, so that a Ctrl+C at the terminal reaches the engine,
        // which decides, and not the helper.
        posix_spawnattr_setflags(
            &attributes_, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
        posix_spawnattr_setpgroup(&attributes_, 0);
        sigset_t signals;
        sigemptyset(&signals);
        posix_spawnattr_setsigmask(&attributes_, &signals);
        sigfillset(&signals);
        posix_spawnattr_setsigdefault(&attributes_, &signals);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;
    ~SpawnSetup() {
        posix_spawn_file_actions_destroy(&actions_);
        posix_spawnattr_destroy(&attributes_);
    }
    void place(int fd, int at) { posix_spawn_file_actions_adddup2(&actions_, fd, at); }
    pid_t spawn(const std::string& program, std::uint64_t memory_limit) {
        std::string limit_argument = "--memory-limit=" + std::to_string(memory_limit);
        std::string parent_argument = "--parent=" + std::to_string(::getpid());
        std::string program_argument = program;
        char* arguments[] = {program_argument.data(), limit_argument.data(), parent_argument.data(),
                             nullptr};
        pid_t pid = -1;
        if (::posix_spawn(&pid, program.c_str(), &actions_, &attributes_, arguments, environ) !=
            0) {
            return -1;
        }
        return pid;
    }

  private:
    posix_spawn_file_actions_t actions_;
    posix_spawnattr_t attributes_;
};

}  // namespace

int milliseconds_until(Deadline deadline) {
    if (deadline == kNoDeadline) {
        return -1;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left + 1, 0, INT_MAX));
}

Result<std::unique_ptr<ControlPage>> ControlPage::create() {
    UniqueFd fd = sealed_memory_file("brightleaf-control", proto::kControlBytes);
    if (!fd) {
        return tl::unexpected(internal_error());
    }
    MemoryMap map(fd.get(), proto::kControlBytes, true);
    if (!map) {
        return tl::unexpected(internal_error());
    }
    new (map.data()) std::atomic<std::uint32_t>(0);
    return std::unique_ptr<ControlPage>(new ControlPage(std::move(fd), std::move(map)));
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

Result<std::unique_ptr<RenderHelper>> RenderHelper::spawn(const InputFile* input,
                                                          const ControlPage& control,
                                                          std::uint64_t memory_limit) {
    const std::string& program = render_helper_path();
    int pair[2];
    int pipe_ends[2];
    if (program.empty() || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        return tl::unexpected(internal_error());
    }
    UniqueFd ours(pair[0]);
    const UniqueFd theirs(pair[1]);
    if (::pipe2(pipe_ends, O_CLOEXEC | O_NONBLOCK) != 0) {
        return tl::unexpected(internal_error());
    }
    UniqueFd report(pipe_ends[0]);
    const UniqueFd report_end(pipe_ends[1]);
    const UniqueFd socket_copy = high_copy(theirs.get());
    const UniqueFd input_copy = high_copy(input != nullptr ? input->fd.get() : control.fd());
    const UniqueFd control_copy = high_copy(control.fd());
    const UniqueFd report_copy = high_copy(report_end.get());
    if (!socket_copy || !input_copy || !control_copy || !report_copy) {
        return tl::unexpected(internal_error());
    }
    SpawnSetup setup;
    setup.place(socket_copy.get(), proto::kSocketFd);
    setup.place(input_copy.get(), proto::kInputFd);
    setup.place(control_copy.get(), proto::kControlFd);
    setup.place(report_copy.get(), proto::kReportFd);
    const pid_t pid = setup.spawn(program, memory_limit);
    if (pid < 0) {
        return tl::unexpected(internal_error());
    }
    const int flags = ::fcntl(ours.get(), F_GETFL);
    ::fcntl(ours.get(), F_SETFL, flags | O_NONBLOCK);
    return std::unique_ptr<RenderHelper>(new RenderHelper(pid, std::move(ours), std::move(report)));
}

RenderHelper::~RenderHelper() {
    socket_.reset();
    if (!end_) {
        kill();
        end();
    }
}

bool RenderHelper::send_frame(std::vector<std::uint8_t>& frame, int fd) {
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

RenderHelper::Read RenderHelper::read(std::optional<proto::ToEngine>& message) {
    for (;;) {
        if (incoming_.size() >= proto::kHeaderSize) {
            const auto header =
                proto::decode_header(std::span(incoming_).first<proto::kHeaderSize>());
            if (!header) {
                return Read::Broken;
            }
            const std::size_t total = proto::kHeaderSize + header->length;
            if (incoming_.size() >= total) {
                message = proto::decode_payload<proto::ToEngine>(
                    header->code, std::span(incoming_).subspan(proto::kHeaderSize, header->length));
                incoming_.erase(incoming_.begin(),
                                incoming_.begin() + static_cast<std::ptrdiff_t>(total));
                return message ? Read::Message : Read::Broken;
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

std::optional<proto::ToEngine> RenderHelper::receive(Deadline deadline) {
    for (;;) {
        std::optional<proto::ToEngine> message;
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

void RenderHelper::collect_report() {
    std::array<char, 1024> chunk;
    ssize_t got = 0;
    while (report_.size() < kMaxReport &&
           (got = ::read(report_fd_.get(), chunk.data(), chunk.size())) > 0) {
        report_.append(chunk.data(), static_cast<std::size_t>(got));
    }
    report_.resize(std::min(report_.size(), kMaxReport));
    while (!report_.empty() && (report_.back() == '\n' || report_.back() == '\0')) {
        report_.pop_back();
    }
    report_fd_.reset();
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
            collect_report();
            return *end_;
        }
    } else {
        while ((reaped = ::waitpid(pid_, &status, 0)) < 0 && errno == EINTR) {
        }
    }
    const bool exited = reaped > 0 && WIFEXITED(status);
    if (killed_) {
        end_ = HelperEnd::Killed;
    } else if (exited && WEXITSTATUS(status) == proto::kExitOutOfMemory) {
        end_ = HelperEnd::OutOfMemory;
    } else if (exited && WEXITSTATUS(status) == proto::kExitSandboxViolation) {
        end_ = HelperEnd::SandboxViolation;
    } else if (reaped > 0 && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) {
        // Not by us: the system ran out of memory and chose this process.
        end_ = HelperEnd::OutOfMemory;
    } else {
        end_ = HelperEnd::Crashed;
    }
    collect_report();
    return *end_;
}

std::optional<proto::Hello> probe_helper() {
    auto control = ControlPage::create();
    if (!control) {
        return std::nullopt;
    }
    auto helper = RenderHelper::spawn(nullptr, **control, ConvertLimits{}.max_helper_memory_bytes);
    if (!helper) {
        return std::nullopt;
    }
    const auto hello = (*helper)->receive(Clock::now() + std::chrono::seconds(30));
    if (!hello || !std::holds_alternative<proto::Hello>(*hello)) {
        return std::nullopt;
    }
    return std::get<proto::Hello>(*hello);
}

}  // namespace bl

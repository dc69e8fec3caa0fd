#include "render/render_server.h"

#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>

#include "engine/pdf_input.h"
#include "engine/render_protocol.h"
#include "render/page_render.h"
#include "render/pdf_document.h"
#include "render/sandbox.h"

namespace bl {

namespace {

namespace proto = protocol;

constexpr std::size_t kControlBytes = 4096;

// One shared page buffer, mapped for writing.
struct Mapping {
    std::uint8_t* data = nullptr;
    std::size_t size = 0;

    Mapping() = default;
    Mapping(const Mapping&) = delete;
    Mapping& operator=(const Mapping&) = delete;
    ~Mapping() { reset(); }
    void reset() {
        if (data != nullptr) {
            ::munmap(data, size);
        }
        data = nullptr;
        size = 0;
    }
};

class Server {
  public:
    Server(const sandbox::Report& report, const std::atomic<std::uint32_t>* cancelled)
        : report_(report), cancelled_(cancelled) {}

    int run();

  private:
    enum class Received { Message, End, Invalid };

    bool send(const proto::Message& message);
    Received receive(proto::Message& message, int& passed_fd);
    bool read_exactly(std::uint8_t* data, std::size_t size, int* passed_fd);
    bool open(proto::Open& request);
    bool map(const proto::MapBuffer& request, int fd);
    bool render(const proto::Render& request);

    sandbox::Report report_;
    const std::atomic<std::uint32_t>* cancelled_;
    PdfiumLibrary library_;
    bool opened_ = false;
    // Declared after the library, so that the document closes first.
    std::unique_ptr<PdfDocument> document_;
    std::array<Mapping, proto::kMaxBufferSlots> buffers_;
    std::vector<std::uint8_t> frame_;
};

bool Server::send(const proto::Message& message) {
    const std::vector<std::uint8_t> frame = proto::encode(message);
    std::size_t done = 0;
    while (done < frame.size()) {
        const ssize_t sent =
            ::send(proto::kSocketFd, frame.data() + done, frame.size() - done, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(sent);
    }
    return true;
}

// Reads `size` bytes; a descriptor that arrives with them is kept in `passed_fd`
// when asked for, and closed otherwise.
bool Server::read_exactly(std::uint8_t* data, std::size_t size, int* passed_fd) {
    std::size_t done = 0;
    while (done < size) {
        iovec part{data + done, size - done};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
        msghdr header{};
        header.msg_iov = &part;
        header.msg_iovlen = 1;
        header.msg_control = control;
        header.msg_controllen = sizeof control;
        const ssize_t got = ::recvmsg(proto::kSocketFd, &header, MSG_CMSG_CLOEXEC);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return false;
        }
        for (cmsghdr* c = CMSG_FIRSTHDR(&header); c != nullptr; c = CMSG_NXTHDR(&header, c)) {
            if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS) {
                continue;
            }
            const std::size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
            for (std::size_t i = 0; i < count; ++i) {
                int fd = -1;
                std::memcpy(&fd, CMSG_DATA(c) + i * sizeof(int), sizeof fd);
                if (passed_fd != nullptr && *passed_fd < 0) {
                    *passed_fd = fd;
                } else {
                    ::close(fd);
                }
            }
        }
        if ((header.msg_flags & MSG_CTRUNC) != 0) {
            return false;
        }
        done += static_cast<std::size_t>(got);
    }
    return true;
}

Server::Received Server::receive(proto::Message& message, int& passed_fd) {
    std::array<std::uint8_t, proto::kHeaderSize> head{};
    if (!read_exactly(head.data(), head.size(), &passed_fd)) {
        return Received::End;
    }
    const auto header = proto::decode_header(head);
    if (!header) {
        return Received::Invalid;
    }
    frame_.assign(header->length, 0);
    if (!read_exactly(frame_.data(), frame_.size(), &passed_fd)) {
        return Received::Invalid;
    }
    auto decoded = proto::decode_payload(header->type, frame_);
    // The frame may have carried the password.
    if (!frame_.empty()) {
        ::explicit_bzero(frame_.data(), frame_.size());
    }
    if (!decoded) {
        return Received::Invalid;
    }
    message = std::move(*decoded);
    return Received::Message;
}

bool Server::open(proto::Open& request) {
    if (opened_) {
        return false;
    }
    opened_ = true;
    auto file = std::make_unique<InputFile>();
    file->fd.reset(proto::kInputFd);
    file->size = request.file_size;
    proto::Opened facts;
    {
        const auto lock = library_.lock();
        document_ = load_pdf(library_, std::move(file), request.password, request.max_pages, facts);
        if (document_ && request.forms) {
            document_->forms = std::make_unique<FormEnvironment>(document_->document.get());
        }
    }
    return send(facts);
}

bool Server::map(const proto::MapBuffer& request, int fd) {
    if (fd < 0) {
        return false;
    }
    Mapping& mapping = buffers_[request.slot];
    mapping.reset();
    void* data = ::mmap(nullptr, request.size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    ::close(fd);
    if (data == MAP_FAILED) {
        return false;
    }
    mapping.data = static_cast<std::uint8_t*>(data);
    mapping.size = request.size;
    return true;
}

bool Server::render(const proto::Render& request) {
    const Mapping& mapping = buffers_[request.slot];
    if (!document_ || mapping.data == nullptr) {
        return false;
    }
    ImageOptions image;
    image.background = request.background;
    image.render_annotations = (request.flags & proto::kAnnotations) != 0;
    const PixelTarget target{mapping.data, mapping.size, request.stride,
                             (request.flags & proto::kThreeBytes) != 0};
    const Deadline deadline = request.deadline_ns == 0
                                  ? kNoDeadline
                                  : Deadline(std::chrono::nanoseconds(request.deadline_ns));
    proto::RenderStatus status;
    {
        const auto lock = library_.lock();
        status = render_page(*document_, request.page, PixelSize{request.width, request.height},
                             image, target, cancelled_, deadline);
    }
    return send(proto::Rendered{request.page, status});
}

int Server::run() {
    if (!send(proto::Hello{proto::kVersion, report_.flags, report_.landlock_abi})) {
        return 0;
    }
    for (;;) {
        proto::Message message;
        int passed_fd = -1;
        const Received received = receive(message, passed_fd);
        if (received == Received::End) {
            return 0;  // the engine is done with us
        }
        bool ok = received == Received::Message;
        if (ok && std::holds_alternative<proto::MapBuffer>(message)) {
            ok = map(std::get<proto::MapBuffer>(message), passed_fd);
            passed_fd = -1;
        } else if (passed_fd >= 0) {
            ::close(passed_fd);
            ok = false;
        } else if (ok && std::holds_alternative<proto::Open>(message)) {
            ok = open(std::get<proto::Open>(message));
        } else if (ok && std::holds_alternative<proto::Render>(message)) {
            ok = render(std::get<proto::Render>(message));
        } else if (ok && std::holds_alternative<proto::SelfTest>(message)) {
            ok = send(proto::SelfTestResult{sandbox::self_test()});
        } else {
            ok = false;  // only the helper sends the other messages
        }
        if (!ok) {
            return proto::kExitProtocolError;
        }
    }
}

bool parse_number(std::string_view text, std::uint64_t& value) {
    if (text.empty() || text.size() > 19) {
        return false;
    }
    value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return true;
}

}  // namespace

int run_render_helper(int argc, char** argv) {
    std::uint64_t memory_limit = 0;
    std::uint64_t parent = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        const bool known =
            (argument.starts_with("--memory-limit=") &&
             parse_number(argument.substr(15), memory_limit)) ||
            (argument.starts_with("--parent=") && parse_number(argument.substr(9), parent));
        if (!known) {
            return 2;
        }
    }
    // The helper must not outlive the engine that started it.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0);
    if (parent != 0 && static_cast<std::uint64_t>(::getppid()) != parent) {
        return 1;
    }
    ::close_range(proto::kControlFd + 1, ~0u, 0);
    ::signal(SIGPIPE, SIG_IGN);

    const std::atomic<std::uint32_t>* cancelled = nullptr;
    void* control = ::mmap(nullptr, kControlBytes, PROT_READ, MAP_SHARED, proto::kControlFd, 0);
    if (control != MAP_FAILED) {
        cancelled = static_cast<const std::atomic<std::uint32_t>*>(control);
    }

    sandbox::install_crash_handler(memory_limit);
    const sandbox::Report report = sandbox::lock_down(memory_limit);
    try {
        Server server(report, cancelled);
        return server.run();
    } catch (const std::bad_alloc&) {
        return proto::kExitOutOfMemory;
    }
}

}  // namespace bl

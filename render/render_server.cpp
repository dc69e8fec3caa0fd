#include "render/render_server.h"

#include <signal.h>
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

#include "bl/unique_fd.h"
#include "engine/input_file.h"
#include "engine/render_protocol.h"
#include "engine/shared_memory.h"
#include "render/page_render.h"
#include "render/pdf_document.h"
#include "render/sandbox.h"

namespace bl {

namespace {

namespace proto = protocol;

class Server {
  public:
    Server(const sandbox::Report& report, const std::atomic<std::uint32_t>* cancelled)
        : report_(report), cancelled_(cancelled) {}

    int run();

    // One handler for each request of the protocol; a request without one
    // fails to compile. False: the helper ends with a protocol error.
    bool handle(proto::Open& request);
    bool handle(const proto::MapBuffer& request, UniqueFd memory);
    bool handle(const proto::Render& request);
    bool handle(const proto::SelfTest& request);
    bool handle(const proto::UnknownCall& request);

  private:
    enum class Received { Message, End, Invalid };

    template <class M>
    bool send(const M& message) {
        static_assert(proto::sender_of<M> == proto::Side::Helper);
        return send_frame(proto::encode(message));
    }
    bool send_frame(const std::vector<std::uint8_t>& frame);
    Received receive(std::optional<proto::ToHelper>& message, UniqueFd& passed);
    bool read_exactly(std::uint8_t* data, std::size_t size, UniqueFd& passed);

    sandbox::Report report_;
    const std::atomic<std::uint32_t>* cancelled_;
    PdfiumLibrary library_;
    bool opened_ = false;
    // Declared after the library, so that the document closes first.
    std::unique_ptr<PdfDocument> document_;
    std::array<MemoryMap, proto::kMaxBufferSlots> buffers_;
    std::vector<std::uint8_t> frame_;
};

// Only MapBuffer comes with a descriptor.
struct RequestHandler {
    Server& server;
    UniqueFd& passed;

    bool operator()(proto::Open& m) const { return !passed && server.handle(m); }
    bool operator()(const proto::MapBuffer& m) const {
        return passed && server.handle(m, std::move(passed));
    }
    bool operator()(const proto::Render& m) const { return !passed && server.handle(m); }
    bool operator()(const proto::SelfTest& m) const { return !passed && server.handle(m); }
    bool operator()(const proto::UnknownCall& m) const { return !passed && server.handle(m); }
};

bool Server::send_frame(const std::vector<std::uint8_t>& frame) {
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

// Reads `size` bytes; the first descriptor that arrives with them is kept in
// `passed`, any other is closed.
bool Server::read_exactly(std::uint8_t* data, std::size_t size, UniqueFd& passed) {
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
                UniqueFd received(fd);
                if (!passed) {
                    passed = std::move(received);
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

Server::Received Server::receive(std::optional<proto::ToHelper>& message, UniqueFd& passed) {
    std::array<std::uint8_t, proto::kHeaderSize> head{};
    if (!read_exactly(head.data(), head.size(), passed)) {
        return Received::End;
    }
    const auto header = proto::decode_header(head);
    if (!header) {
        return Received::Invalid;
    }
    frame_.assign(header->length, 0);
    if (!read_exactly(frame_.data(), frame_.size(), passed)) {
        return Received::Invalid;
    }
    message = proto::decode_payload<proto::ToHelper>(header->code, frame_);
    // The frame may have carried the password.
    if (!frame_.empty()) {
        ::explicit_bzero(frame_.data(), frame_.size());
    }
    return message ? Received::Message : Received::Invalid;
}

bool Server::handle(proto::Open& request) {
    if (opened_) {
        return false;
    }
    opened_ = true;
    auto file = std::make_unique<InputFile>();
    file->fd.reset(proto::kInputFd);
    file->size = request.file_size;
    proto::reply_of<proto::Open> facts;
    {
        const auto lock = library_.lock();
        document_ = load_pdf(library_, std::move(file), std::move(request.password),
                             request.max_pages, facts);
        if (document_ && request.forms) {
            document_->forms = std::make_unique<FormEnvironment>(document_->document.get());
        }
    }
    return send(facts);
}

bool Server::handle(const proto::MapBuffer& request, UniqueFd memory) {
    MemoryMap& mapping = buffers_[request.slot];
    mapping.reset();
    mapping = MemoryMap(memory.get(), request.size, true, true);
    return static_cast<bool>(mapping);
}

bool Server::handle(const proto::Render& request) {
    const MemoryMap& mapping = buffers_[request.slot];
    if (!document_ || !mapping) {
        return false;
    }
    ImageOptions image;
    image.background = request.background;
    image.render_annotations = (request.flags & proto::kAnnotations) != 0;
    image.render_form_fields = (request.flags & proto::kFormFields) != 0;
    const PixelTarget target{mapping.data(), mapping.size(), request.stride,
                             (request.flags & proto::kThreeBytes) != 0};
    const Deadline deadline = request.deadline_ns == 0
                                  ? kNoDeadline
                                  : Deadline(std::chrono::nanoseconds(request.deadline_ns));
    proto::reply_of<proto::Render> reply{request.page};
    {
        const auto lock = library_.lock();
        reply.status =
            render_page(*document_, request.page, PixelSize{request.width, request.height}, image,
                        target, cancelled_, deadline);
    }
    return send(reply);
}

bool Server::handle(const proto::SelfTest&) {
    return send(proto::reply_of<proto::SelfTest>{sandbox::self_test()});
}

bool Server::handle(const proto::UnknownCall&) {
    sandbox::make_unknown_call();
    return false;  // not reached under the sandbox
}

int Server::run() {
    if (!send(proto::Hello{proto::kVersion, report_.flags, report_.landlock_abi})) {
        return 0;
    }
    for (;;) {
        std::optional<proto::ToHelper> message;
        UniqueFd passed;
        const Received received = receive(message, passed);
        if (received == Received::End) {
            return 0;  // the engine is done with us
        }
        if (received == Received::Invalid || !std::visit(RequestHandler{*this, passed}, *message)) {
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
    ::close_range(proto::kReportFd + 1, ~0u, 0);
    ::signal(SIGPIPE, SIG_IGN);

    // Mapped for the helper's whole life.
    static const MemoryMap control(proto::kControlFd, proto::kControlBytes, false);
    const auto* cancelled =
        control ? reinterpret_cast<const std::atomic<std::uint32_t>*>(control.data()) : nullptr;

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

// The engine's side of one render helper process: starting it, talking to it,
// and ending it by force when it runs over its limits.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bl/convert_types.h"
#include "bl/unique_fd.h"
#include "engine/input_file.h"
#include "engine/render_protocol.h"
#include "engine/shared_memory.h"

namespace bl {

// How a helper ended.
enum class HelperEnd {
    Killed,            // by us, over a limit or on cancellation
    OutOfMemory,       // its memory limit, or the system's, ended it
    SandboxViolation,  // it made a system call its sandbox does not know
    Crashed,           // any other death
};

// One shared page the engine writes and every helper of a job reads: the cancel
// flag.
class ControlPage {
  public:
    static Result<std::unique_ptr<ControlPage>> create();

    int fd() const { return fd_.get(); }
    void cancel() const { flag()->store(1, std::memory_order_release); }
    void reset() const { flag()->store(0, std::memory_order_release); }
    bool cancelled() const { return flag()->load(std::memory_order_acquire) != 0; }

  private:
    ControlPage(UniqueFd fd, MemoryMap map) : fd_(std::move(fd)), map_(std::move(map)) {}
    std::atomic<std::uint32_t>* flag() const {
        return reinterpret_cast<std::atomic<std::uint32_t>*>(map_.data());
    }

    UniqueFd fd_;
    MemoryMap map_;
};

class RenderHelper {
  public:
    // Starts a helper on `input` (the control page stands in when there is
    // none). Its greeting, protocol::Hello, is its first message.
    static Result<std::unique_ptr<RenderHelper>> spawn(const InputFile* input,
                                                       const ControlPage& control,
                                                       std::uint64_t memory_limit);
    RenderHelper(const RenderHelper&) = delete;
    RenderHelper& operator=(const RenderHelper&) = delete;
    // Ends the helper by force if it still runs, and reaps it.
    ~RenderHelper();

    pid_t pid() const { return pid_; }
    int socket() const { return socket_.get(); }

    // Sends a message, with a descriptor attached if `fd` >= 0. False when the
    // helper is gone or does not take it in time. The frame is wiped after
    // sending, since it may carry a password.
    template <class M>
    bool send(const M& message, int fd = -1) {
        static_assert(protocol::sender_of<M> == protocol::Side::Engine);
        std::vector<std::uint8_t> frame = protocol::encode(message);
        return send_frame(frame, fd);
    }

    enum class Read { Message, Pending, Broken };
    // Takes in what the socket holds; a complete, valid message comes back in
    // `message`. Broken: end of stream or an invalid message.
    Read read(std::optional<protocol::ToEngine>& message);

    // Waits for one message until `deadline`; nothing when the helper broke or the
    // time ran out.
    std::optional<protocol::ToEngine> receive(Deadline deadline);

    void kill();
    // Once the helper broke or was killed: why it ended. Waits for it to exit.
    HelperEnd end();
    // What the helper wrote on its report descriptor before it ended: the
    // system call its sandbox refused, say. Empty until end().
    const std::string& report() const { return report_; }

  private:
    RenderHelper(pid_t pid, UniqueFd socket, UniqueFd report)
        : pid_(pid), socket_(std::move(socket)), report_fd_(std::move(report)) {}
    bool send_frame(std::vector<std::uint8_t>& frame, int fd);
    void collect_report();

    pid_t pid_;
    UniqueFd socket_;
    UniqueFd report_fd_;
    bool killed_ = false;
    std::optional<HelperEnd> end_;
    std::string report_;
    std::vector<std::uint8_t> incoming_;
};

// A poll() timeout that ends just after `deadline`; -1 for none.
int milliseconds_until(Deadline deadline);

// The helper program beside the running one (or in ../lib/brightleaf); empty
// when there is none.
const std::string& render_helper_path();

// The sandbox bits a fresh helper reports; nothing when no helper starts.
std::optional<protocol::Hello> probe_helper();

}  // namespace bl

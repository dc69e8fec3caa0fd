// The engine's side of a render helper: starting the helper program, talking to
// it, and ending it by force when it runs over its limits.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bl/convert_types.h"
#include "engine/pdf_input.h"
#include "engine/render_protocol.h"

namespace bl {

// How a helper ended.
enum class HelperEnd {
    Killed,       // by us, over a limit or on cancellation
    OutOfMemory,  // its memory limit, or the system's, ended it
    Crashed,      // any other death, or a message it should not have sent
};

// One shared page the engine writes and every helper of a job reads: the cancel
// flag.
class ControlPage {
  public:
    static Result<std::unique_ptr<ControlPage>> create();
    ControlPage(const ControlPage&) = delete;
    ControlPage& operator=(const ControlPage&) = delete;
    ~ControlPage();

    int fd() const { return fd_.get(); }
    void cancel() const { flag_->store(1, std::memory_order_release); }
    bool cancelled() const { return flag_->load(std::memory_order_acquire) != 0; }

  private:
    ControlPage(UniqueFd fd, std::atomic<std::uint32_t>* flag) : fd_(std::move(fd)), flag_(flag) {}
    UniqueFd fd_;
    std::atomic<std::uint32_t>* flag_;
};

class RenderHelper {
  public:
    // Starts a helper on `input` (the control page's descriptor stands in when
    // there is none) and waits for its greeting until `deadline`.
    static Result<std::unique_ptr<RenderHelper>> start(const InputFile* input,
                                                       const ControlPage& control,
                                                       std::uint64_t memory_limit,
                                                       Deadline deadline);
    RenderHelper(const RenderHelper&) = delete;
    RenderHelper& operator=(const RenderHelper&) = delete;
    // Ends the helper by force if it still runs, and reaps it.
    ~RenderHelper();

    pid_t pid() const { return pid_; }
    int socket() const { return socket_.get(); }
    const protocol::Hello& hello() const { return hello_; }

    // Sends a message, with a descriptor attached if `fd` >= 0. False when the
    // helper is gone or does not take it in time.
    bool send(const protocol::Message& message, int fd = -1);

    enum class Read { Message, Pending, Broken };
    // Takes in what the socket holds; a complete, valid message comes back in
    // `message`. Broken: end of stream or an invalid message.
    Read read(std::optional<protocol::Message>& message);

    // Waits for one message until `deadline`; nothing when the helper broke or the
    // time ran out (then `timed_out` is set).
    std::optional<protocol::Message> receive(Deadline deadline, bool& timed_out);

    void kill();
    // Once the helper broke or was killed: why it ended. Waits for it to exit.
    HelperEnd end();

  private:
    RenderHelper(pid_t pid, UniqueFd socket) : pid_(pid), socket_(std::move(socket)) {}

    pid_t pid_;
    UniqueFd socket_;
    bool killed_ = false;
    std::optional<HelperEnd> end_;
    protocol::Hello hello_;
    std::vector<std::uint8_t> incoming_;
};

// The helper program beside the running one (or in ../lib/brightleaf); empty
// when there is none.
const std::string& render_helper_path();

// Opens a document in a fresh helper; the password crosses once and is wiped
// here. Opening may take until `deadline`; the token, when given, ends it early.
// On success the helper stays open for rendering.
struct OpenedDocument {
    std::unique_ptr<RenderHelper> helper;
    DocumentInfo info;
};
Result<OpenedDocument> open_in_helper(const InputFile& input, const ControlPage& control,
                                      std::string& password, bool forms,
                                      const ConvertLimits& limits, Deadline deadline,
                                      const CancellationToken* token);

// The time opening a document may take: the page limit, but at least half a
// minute, or two minutes without a page limit.
Deadline open_deadline(const ConvertLimits& limits, Clock::time_point now);

// The sandbox bits a fresh helper reports; nothing when no helper starts.
std::optional<protocol::Hello> probe_helper();

}  // namespace bl

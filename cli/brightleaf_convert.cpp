// brightleaf-convert: converts PDF pages into JPEG files from the command line.

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include "bl/inspection.h"
#include "bl/secret.h"
#include "bl/unique_fd.h"
#include "cli/command_line.h"
#include "cli/conversion_run.h"

namespace {

using bl::cli::kExitInterrupted;
using bl::cli::kExitUsage;
using bl::cli::kProgramName;

// Written to by the signal handler, read by the watcher thread.
int g_signal_pipe[2] = {-1, -1};
std::atomic<int> g_signals_seen{0};
static_assert(std::atomic<int>::is_always_lock_free);

constexpr char kCancelByte = 'c';
constexpr char kQuitByte = 'q';

extern "C" void on_stop_signal(int) {
    const int saved = errno;
    if (g_signals_seen.fetch_add(1) >= 1) {
        // The second Ctrl+C: the user does not want to wait for the page in hand.
        ::_exit(kExitInterrupted);
    }
    const char byte = kCancelByte;
    [[maybe_unused]] const ssize_t written = ::write(g_signal_pipe[1], &byte, 1);
    errno = saved;
}

// Turns SIGINT and SIGTERM into a cancellation of the run. The handler may do
// next to nothing, so a thread of ours sets the token.
class StopSignals {
  public:
    explicit StopSignals(bl::CancellationToken token) : token_(std::move(token)) {
        if (::pipe2(g_signal_pipe, O_CLOEXEC) != 0) {
            return;
        }
        // The handler must never block, even on a full pipe.
        ::fcntl(g_signal_pipe[1], F_SETFL, O_NONBLOCK);
        watcher_ = std::thread([this] { watch(); });
        struct sigaction action {};
        action.sa_handler = on_stop_signal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(SIGINT, &action, nullptr);
        ::sigaction(SIGTERM, &action, nullptr);
    }

    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    ~StopSignals() {
        if (!watcher_.joinable()) {
            return;
        }
        const char byte = kQuitByte;
        while (::write(g_signal_pipe[1], &byte, 1) < 0 && errno == EINTR) {
        }
        watcher_.join();
    }

  private:
    void watch() {
        for (;;) {
            char byte = 0;
            const ssize_t count = ::read(g_signal_pipe[0], &byte, 1);
            if (count < 0 && errno == EINTR) {
                continue;
            }
            if (count <= 0 || byte == kQuitByte) {
                return;
            }
            token_.cancel();
        }
    }

    bl::CancellationToken token_;
    std::thread watcher_;
};

// The terminal's settings while the password prompt hides the typing.
termios g_prompt_saved{};

extern "C" void on_signal_at_prompt(int) {
    // Never leave the user's terminal without echo.
    ::tcsetattr(STDIN_FILENO, TCSANOW, &g_prompt_saved);
    [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, "\n", 1);
    ::_exit(kExitInterrupted);
}

// Reads the password from the terminal without echoing it.
bl::cli::SecretLine read_password_from_terminal(bl::Secret& password) {
    const bool can_hide = ::tcgetattr(STDIN_FILENO, &g_prompt_saved) == 0;
    struct sigaction previous_int {};
    struct sigaction previous_term {};
    if (can_hide) {
        struct sigaction action {};
        action.sa_handler = on_signal_at_prompt;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGINT, &action, &previous_int);
        ::sigaction(SIGTERM, &action, &previous_term);
        termios hidden = g_prompt_saved;
        hidden.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &hidden);
    }
    std::fputs("Password: ", stderr);
    std::fflush(stderr);
    const bl::cli::SecretLine read = bl::cli::read_secret_line(STDIN_FILENO, password);
    const int error = errno;
    if (can_hide) {
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_prompt_saved);
        ::sigaction(SIGINT, &previous_int, nullptr);
        ::sigaction(SIGTERM, &previous_term, nullptr);
    }
    std::fputs("\n", stderr);
    errno = error;
    return read;
}

// Reads the password that the options name. Returns false when it cannot be
// used, after saying why.
bool read_password(const bl::cli::Options& options, bl::Secret& password) {
    using bl::cli::SecretLine;
    // From here on the process holds a password, which no core dump may carry.
    bl::disable_core_dumps();
    SecretLine read = SecretLine::Failed;
    int error = 0;
    std::string source;
    if (options.password_stdin) {
        read = ::isatty(STDIN_FILENO) ? read_password_from_terminal(password)
                                      : bl::cli::read_secret_line(STDIN_FILENO, password);
        error = errno;
        source = "standard input";
        if (read == SecretLine::Failed) {
            std::fprintf(stderr, "%s: could not read the password from standard input: %s\n",
                         kProgramName, std::strerror(error));
            return false;
        }
    } else {
        const bl::UniqueFd file(::open(options.password_file.c_str(), O_RDONLY | O_CLOEXEC));
        if (file) {
            read = bl::cli::read_secret_line(file.get(), password);
        }
        error = errno;
        source = "the password file \"" + options.password_file + "\"";
        if (read == SecretLine::Failed) {
            std::fprintf(stderr, "%s: could not read %s: %s\n", kProgramName, source.c_str(),
                         std::strerror(error));
            return false;
        }
    }
    if (read == SecretLine::TooLong) {
        std::fprintf(stderr,
                     "%s: the first line of %s is longer than %zu bytes, too long for a password "
                     "(PDF passwords use at most 127 bytes).\n",
                     kProgramName, source.c_str(), bl::cli::kMaxPasswordLine);
        return false;
    }
    if (const bl::MaybeError problem = bl::check_password(password.view())) {
        std::fprintf(stderr, "%s: %s\n", kProgramName, problem->message.c_str());
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    bl::cli::ParsedCommandLine parsed = bl::cli::parse_command_line(argc, argv);
    if (!parsed.options) {
        std::fputs(parsed.output.c_str(), stdout);
        std::fputs(parsed.error.c_str(), stderr);
        return parsed.exit_status;
    }
    const bl::cli::Options& options = *parsed.options;

    bl::Secret password;
    if ((options.password_stdin || !options.password_file.empty()) &&
        !read_password(options, password)) {
        return kExitUsage;
    }

    const bl::CancellationToken token;
    const StopSignals signals(token);
    bl::cli::Console console;
    console.show_progress = ::isatty(STDERR_FILENO) != 0;
    return bl::cli::run_inputs(options, password, token, console);
}

#include "render/sandbox.h"

#include <dirent.h>
#include <fcntl.h>
#include <seccomp.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>

#include <utility>
#include "bl/unique_fd.h"

namespace bl::sandbox {

namespace {

// Landlock's interface, from the kernel's documentation; no header of the
// build system declares it for every ABI we use.
constexpr long kSysLandlockCreateRuleset = 444;
constexpr long kSysLandlockAddRule = 445;
constexpr long kSysLandlockRestrictSelf = 446;
constexpr unsigned kLandlockCreateRulesetVersion = 1u << 0;
constexpr int kLandlockRulePathBeneath = 1;

struct LandlockRulesetAttr {
    std::uint64_t handled_access_fs;
    std::uint64_t handled_access_net;  // ABI 4
    std::uint64_t scoped;              // ABI 6
};

struct __attribute__((packed)) LandlockPathBeneathAttr {
    std::uint64_t allowed_access;
    std::int32_t parent_fd;
};
static_assert(sizeof(LandlockPathBeneathAttr) == 12);

constexpr std::uint64_t kAccessFsReadFile = 1ull << 2;
constexpr std::uint64_t kAccessFsReadDir = 1ull << 3;
constexpr std::uint64_t kAccessFsAbi1 = (1ull << 13) - 1;  // execute .. make_sym
constexpr std::uint64_t kAccessFsRefer = 1ull << 13;       // ABI 2
constexpr std::uint64_t kAccessFsTruncate = 1ull << 14;    // ABI 3
constexpr std::uint64_t kAccessFsIoctlDev = 1ull << 15;    // ABI 5
constexpr std::uint64_t kAccessNetBindTcp = 1ull << 0;
constexpr std::uint64_t kAccessNetConnectTcp = 1ull << 1;
constexpr std::uint64_t kScopeAbstractUnixSocket = 1ull << 0;
constexpr std::uint64_t kScopeSignal = 1ull << 1;

// The folders PDFium looks for system fonts in.
constexpr const char* kFontFolders[] = {"/usr/share/fonts", "/usr/share/X11/fonts/Type1",
                                        "/usr/share/X11/fonts/TTF", "/usr/local/share/fonts"};

std::uint64_t g_probe_bytes = 0;

extern "C" void on_fatal_signal(int signal_number) {
    // Allocation failures under the address-space limit end in a crash inside the
    // library. If a modest mapping no longer fits either, that limit was the cause.
    if (g_probe_bytes > 0) {
        void* probe = ::mmap(nullptr, g_probe_bytes, PROT_NONE,
                             MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (probe == MAP_FAILED) {
            ::_exit(protocol::kExitOutOfMemory);
        }
        ::munmap(probe, g_probe_bytes);
    }
    ::signal(signal_number, SIG_DFL);
    ::raise(signal_number);
}

int landlock_abi() {
    const long abi =
        ::syscall(kSysLandlockCreateRuleset, nullptr, 0, kLandlockCreateRulesetVersion);
    return abi > 0 ? static_cast<int>(abi) : 0;
}

int apply_landlock() {
    const int abi = landlock_abi();
    if (abi <= 0) {
        return 0;
    }
    LandlockRulesetAttr ruleset{};
    ruleset.handled_access_fs = kAccessFsAbi1;
    if (abi >= 2) {
        ruleset.handled_access_fs |= kAccessFsRefer;
    }
    if (abi >= 3) {
        ruleset.handled_access_fs |= kAccessFsTruncate;
    }
    if (abi >= 4) {
        ruleset.handled_access_net = kAccessNetBindTcp | kAccessNetConnectTcp;
    }
    if (abi >= 5) {
        ruleset.handled_access_fs |= kAccessFsIoctlDev;
    }
    if (abi >= 6) {
        ruleset.scoped = kScopeAbstractUnixSocket | kScopeSignal;
    }
    const long fd = ::syscall(kSysLandlockCreateRuleset, &ruleset, sizeof ruleset, 0);
    if (fd < 0) {
        return 0;
    }
    const UniqueFd ruleset_fd(static_cast<int>(fd));
    for (const char* folder : kFontFolders) {
        const UniqueFd folder_fd(::open(folder, O_PATH | O_CLOEXEC | O_DIRECTORY));
        if (!folder_fd) {
            continue;
        }
        LandlockPathBeneathAttr rule{};
        rule.allowed_access = kAccessFsReadFile | kAccessFsReadDir;
        rule.parent_fd = folder_fd.get();
        ::syscall(kSysLandlockAddRule, ruleset_fd.get(), kLandlockRulePathBeneath, &rule, 0);
    }
    const bool applied = ::syscall(kSysLandlockRestrictSelf, ruleset_fd.get(), 0) == 0;
    return applied ? abi : 0;
}

// Everything opening, rendering and the protocol need, unconditionally.
const int kAllowedCalls[] = {
    SCMP_SYS(read),
    SCMP_SYS(readv),
    SCMP_SYS(pread64),
    SCMP_SYS(write),
    SCMP_SYS(writev),
    SCMP_SYS(close),
    SCMP_SYS(fstat),
    SCMP_SYS(newfstatat),
    SCMP_SYS(stat),
    SCMP_SYS(lstat),
    SCMP_SYS(statx),
    SCMP_SYS(lseek),
    SCMP_SYS(access),
    SCMP_SYS(faccessat),
    SCMP_SYS(faccessat2),
    SCMP_SYS(getdents64),
    SCMP_SYS(fcntl),
    SCMP_SYS(mmap),
    SCMP_SYS(munmap),
    SCMP_SYS(mremap),
    SCMP_SYS(mprotect),
    SCMP_SYS(madvise),
    SCMP_SYS(brk),
    SCMP_SYS(futex),
    SCMP_SYS(sendmsg),
    SCMP_SYS(recvmsg),
    SCMP_SYS(sendto),
    SCMP_SYS(recvfrom),
    SCMP_SYS(clock_gettime),
    SCMP_SYS(clock_getres),
    SCMP_SYS(gettimeofday),
    SCMP_SYS(clock_nanosleep),
    SCMP_SYS(nanosleep),
    SCMP_SYS(getrandom),
    SCMP_SYS(sched_yield),
    SCMP_SYS(getpid),
    SCMP_SYS(gettid),
    SCMP_SYS(sysinfo),
    SCMP_SYS(uname),
    SCMP_SYS(rt_sigaction),
    SCMP_SYS(rt_sigprocmask),
    SCMP_SYS(rt_sigreturn),
    SCMP_SYS(sigaltstack),
    SCMP_SYS(restart_syscall),
    SCMP_SYS(exit),
    SCMP_SYS(exit_group),
};

// Calls refused with EPERM, which their callers handle: writing and changing
// files, sockets, new processes and programs, and the like. Any call on neither
// list ends the helper with a report that names it.
const int kRefusedCalls[] = {
    SCMP_SYS(creat),
    SCMP_SYS(mkdir),
    SCMP_SYS(mkdirat),
    SCMP_SYS(rmdir),
    SCMP_SYS(unlink),
    SCMP_SYS(unlinkat),
    SCMP_SYS(rename),
    SCMP_SYS(renameat),
    SCMP_SYS(renameat2),
    SCMP_SYS(link),
    SCMP_SYS(linkat),
    SCMP_SYS(symlink),
    SCMP_SYS(symlinkat),
    SCMP_SYS(chmod),
    SCMP_SYS(fchmod),
    SCMP_SYS(fchmodat),
    SCMP_SYS(chown),
    SCMP_SYS(fchown),
    SCMP_SYS(lchown),
    SCMP_SYS(fchownat),
    SCMP_SYS(truncate),
    SCMP_SYS(ftruncate),
    SCMP_SYS(fallocate),
    SCMP_SYS(utimensat),
    SCMP_SYS(socket),
    SCMP_SYS(socketpair),
    SCMP_SYS(connect),
    SCMP_SYS(bind),
    SCMP_SYS(listen),
    SCMP_SYS(accept),
    SCMP_SYS(accept4),
    SCMP_SYS(execve),
    SCMP_SYS(execveat),
    SCMP_SYS(fork),
    SCMP_SYS(vfork),
    SCMP_SYS(clone),
    SCMP_SYS(clone3),
    SCMP_SYS(ptrace),
    SCMP_SYS(process_vm_readv),
    SCMP_SYS(process_vm_writev),
    SCMP_SYS(memfd_create),
    SCMP_SYS(prctl),
    SCMP_SYS(ioctl),
    SCMP_SYS(readlink),
    SCMP_SYS(readlinkat),
    SCMP_SYS(getcwd),
    SCMP_SYS(prlimit64),
    SCMP_SYS(getrlimit),
    SCMP_SYS(setrlimit),
    SCMP_SYS(sched_getaffinity),
    SCMP_SYS(sched_setaffinity),
    SCMP_SYS(getuid),
    SCMP_SYS(geteuid),
    SCMP_SYS(getgid),
    SCMP_SYS(getegid),
    SCMP_SYS(getppid),
    SCMP_SYS(rseq),
    SCMP_SYS(set_robust_list),
    SCMP_SYS(membarrier),
    SCMP_SYS(mincore),
    SCMP_SYS(fadvise64),
    SCMP_SYS(getrusage),
    SCMP_SYS(times),
    SCMP_SYS(inotify_init1),
    SCMP_SYS(statfs),
    SCMP_SYS(fstatfs),
};

// The names of system calls by number, read before the filter goes in: the
// report is written from a signal handler, which must not look anything up.
constexpr int kNamedCalls = 512;
const char* g_call_names[kNamedCalls] = {};

void name_system_calls() {
    for (int number = 0; number < kNamedCalls; ++number) {
        // Kept for the helper's whole life.
        g_call_names[number] = seccomp_syscall_resolve_num_arch(SCMP_ARCH_NATIVE, number);
    }
}

// Appends text to a fixed buffer; usable in a signal handler.
struct ReportLine {
    char text[160] = {};
    std::size_t length = 0;
    void add(const char* part) {
        for (; *part != '\0' && length + 1 < sizeof text; ++part) {
            text[length++] = *part;
        }
    }
    void add(long number) {
        char digits[24];
        int count = 0;
        unsigned long value = number < 0 ? 0UL - static_cast<unsigned long>(number)
                                         : static_cast<unsigned long>(number);
        do {
            digits[count++] = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value != 0 && count < 23);
        if (number < 0) {
            digits[count++] = '-';
        }
        while (count > 0 && length + 1 < sizeof text) {
            text[length++] = digits[--count];
        }
    }
};

extern "C" void on_refused_call(int, siginfo_t* info, void*) {
    const int number = info->si_syscall;
    const char* name = number >= 0 && number < kNamedCalls && g_call_names[number] != nullptr
                           ? g_call_names[number]
                           : "unknown";
    ReportLine line;
    line.add("brightleaf-render: the sandbox does not allow system call ");
    line.add(name);
    line.add(" (");
    line.add(static_cast<long>(number));
    line.add(")\n");
    // Raw system calls: a sanitizer's wrappers of write and _exit would inspect
    // this thread's stack, which the sandbox no longer lets them read.
    ::syscall(SYS_write, STDERR_FILENO, line.text, line.length);
    ::syscall(SYS_write, protocol::kReportFd, line.text, line.length);
    ::syscall(SYS_exit_group, protocol::kExitSandboxViolation);
}

void install_refused_call_handler() {
    name_system_calls();
    struct sigaction action {};
    action.sa_sigaction = on_refused_call;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    ::sigaction(SIGSYS, &action, nullptr);
}

// What the library's SCMP_A* macros build, without their C99 compound literals.
scmp_arg_cmp condition(unsigned argument, scmp_compare op, scmp_datum_t a, scmp_datum_t b) {
    return scmp_arg_cmp{argument, op, a, b};
}

bool allow(scmp_filter_ctx filter, int call) {
    return seccomp_rule_add(filter, SCMP_ACT_ALLOW, call, 0) == 0;
}

// Opens for reading only: no access mode but read, no creating, truncating or
// appending; any of those is refused. O_TMPFILE includes O_DIRECTORY, which
// listing a font folder needs.
bool add_open_rules(scmp_filter_ctx filter, int call, unsigned flags_argument) {
    const scmp_datum_t write_flags[] = {O_WRONLY, O_RDWR,   O_CREAT,
                                        O_TRUNC,  O_APPEND, O_TMPFILE & ~O_DIRECTORY};
    scmp_datum_t all = 0;
    bool ok = true;
    for (const scmp_datum_t flag : write_flags) {
        all |= flag;
        ok = ok && seccomp_rule_add(filter, SCMP_ACT_ERRNO(EPERM), call, 1,
                                    condition(flags_argument, SCMP_CMP_MASKED_EQ, flag, flag)) == 0;
    }
    return ok && seccomp_rule_add(filter, SCMP_ACT_ALLOW, call, 1,
                                  condition(flags_argument, SCMP_CMP_MASKED_EQ, all, 0)) == 0;
}

// Everything opening, rendering and the protocol need is allowed, the named
// families are refused with EPERM, and any other call ends the helper through
// SIGSYS with a report. Signals go to the helper itself only.
bool apply_seccomp() {
    scmp_filter_ctx filter = seccomp_init(SCMP_ACT_TRAP);
    if (filter == nullptr) {
        return false;
    }
    bool ok = true;
    for (const int call : kAllowedCalls) {
        ok = ok && allow(filter, call);
    }
    for (const int call : kRefusedCalls) {
        ok = ok && seccomp_rule_add(filter, SCMP_ACT_ERRNO(EPERM), call, 0) == 0;
    }
    ok = ok && add_open_rules(filter, SCMP_SYS(openat), 2) &&
         add_open_rules(filter, SCMP_SYS(open), 1);
    // abort() and raise() signal the helper itself; nothing else.
    const auto self = static_cast<scmp_datum_t>(::getpid());
    for (const auto& [call, argument] : {std::pair{SCMP_SYS(tgkill), 0u}, {SCMP_SYS(kill), 0u}}) {
        ok = ok &&
             seccomp_rule_add(filter, SCMP_ACT_ALLOW, call, 1,
                              condition(argument, SCMP_CMP_EQ, self, 0)) == 0 &&
             seccomp_rule_add(filter, SCMP_ACT_ERRNO(EPERM), call, 1,
                              condition(argument, SCMP_CMP_NE, self, 0)) == 0;
    }
    if (ok) {
        install_refused_call_handler();
    }
    ok = ok && seccomp_load(filter) == 0;
    seccomp_release(filter);
    return ok;
}

bool sanitizer_build() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
    return true;
#else
    return false;
#endif
#else
    return false;
#endif
}

}  // namespace

void install_crash_handler(std::uint64_t memory_limit) {
    // A sixteenth of the limit: small enough to fit while the helper is healthy.
    g_probe_bytes = memory_limit / 16;
    // Deep recursion ends on the guard page; the handler needs a stack of its own.
    static char alternate_stack[64 * 1024];
    stack_t stack{};
    stack.ss_sp = alternate_stack;
    stack.ss_size = sizeof alternate_stack;
    ::sigaltstack(&stack, nullptr);
    struct sigaction action {};
    action.sa_handler = on_fatal_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_ONSTACK;
    for (const int signal_number : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGTRAP}) {
        ::sigaction(signal_number, &action, nullptr);
    }
}

Report lock_down(std::uint64_t memory_limit) {
    Report report;
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0) {
        report.flags |= protocol::kNoNewPrivileges;
    }
    // The password and the document's contents must not end up in a core file.
    const rlimit no_core{0, 0};
    if (::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) == 0 && ::setrlimit(RLIMIT_CORE, &no_core) == 0) {
        report.flags |= protocol::kNotDumpable;
    }
    // Sanitizer runtimes reserve terabytes of address space for their shadow, so
    // their builds run without the limit.
    if (memory_limit > 0 && !sanitizer_build()) {
        const rlimit limit{memory_limit, memory_limit};
        if (::setrlimit(RLIMIT_AS, &limit) == 0) {
            report.flags |= protocol::kMemoryLimit;
        }
    }
    report.landlock_abi = apply_landlock();
    if (report.landlock_abi > 0) {
        report.flags |= protocol::kLandlock;
    }
    if (apply_seccomp()) {
        report.flags |= protocol::kSeccomp;
    }
    return report;
}

void make_unknown_call() {
    // Asks how many file system types the kernel knows: harmless, and on no list.
    ::syscall(SYS_sysfs, 3);
}

std::uint32_t self_test() {
    std::uint32_t bits = 0;
    const std::string probe = "/tmp/brightleaf-sandbox-" + std::to_string(::getpid());
    if (const UniqueFd written(
            ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        !written) {
        bits |= protocol::kWriteOpenRefused;
    } else {
        ::unlink(probe.c_str());
    }
    if (!UniqueFd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0))) {
        bits |= protocol::kSocketRefused;
    }
    char program[] = "/bin/true";
    char* const arguments[] = {program, nullptr};
    char* const environment[] = {nullptr};
    if (::execve(program, arguments, environment) != 0) {
        bits |= protocol::kExecRefused;
    }
    if (!UniqueFd(::open("/etc/passwd", O_RDONLY | O_CLOEXEC))) {
        bits |= protocol::kReadOutsideFontsRefused;
    }
    for (const char* folder : kFontFolders) {
        if (DIR* listing = ::opendir(folder)) {
            ::closedir(listing);
            bits |= protocol::kFontsReadable;
            break;
        }
    }
    return bits;
}

}  // namespace bl::sandbox

#include "engine/output_file.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <regex>
#include <tuple>

#include "tests/support/pdf_writer.h"
#include "tests/support/test_files.h"

namespace bl {
namespace {

namespace fs = std::filesystem;
using enum ExistingFilePolicy;
using namespace test;
using Names = std::set<std::string>;

// The fake system calls around the real ones; plain globals, since the seam
// takes plain function pointers.
struct Fakes {
    std::string failing;  // the call that fails once with `error`
    int error = 0;
    int refused = 0;  // renameat2 refuses its flag with this, as some file systems do
    std::vector<std::string> trace = {};  // the calls made, in order
    std::string opened = {};              // the last path opened
} g;

// Whether the call fails now; sets errno when it does.
bool fails(const char* call) {
    g.trace.emplace_back(call);
    if (g.failing != call) {
        return false;
    }
    g.failing.clear();
    errno = g.error;
    return true;
}

detail::OutputSyscalls g_calls{
    [](const char* path, int flags, unsigned mode) {
        g.opened = path;
        return fails("open") ? -1 : ::open(path, flags, mode);
    },
    [](int fd, const void* data, unsigned long size) {
        return fails("write") ? -1 : ::write(fd, data, size);
    },
    // The descriptor is gone even when close reports an error.
    [](int fd) { return std::min(::close(fd), fails("close") ? -1 : 0); },
    [](int from_dir, const char* from, int to_dir, const char* to, unsigned flags) {
        errno = g.refused;
        return fails("renameat2") || g.refused != 0
                   ? -1
                   : ::renameat2(from_dir, from, to_dir, to, flags);
    },
    [](const char* from, const char* to) { return fails("rename") ? -1 : ::rename(from, to); },
    [](const char* from, const char* to) { return fails("link") ? -1 : ::link(from, to); },
    [](const char* path) { return fails("unlink") ? -1 : ::unlink(path); },
    // Files and their folder are synced through the same call; they fail apart.
    [](int fd) {
        struct stat status {};
        ::fstat(fd, &status);
        return fails(S_ISDIR(status.st_mode) ? "fsync-folder" : "fsync") ? -1 : ::fsync(fd);
    },
};

Result<fs::path> write_page(const fs::path& folder, ExistingFilePolicy policy) {
    return write_page_file(folder, "p", {'n', 'e', 'w'}, policy, g_calls);
}

TEST(OutputFileTest, SavesUnderTheFirstFreeNameOrRefuses) {
    // Existing entries: "name/" is a folder, "@name" a dangling link, others are files.
    // The policy, the entries there already, and the name saved under; "" when
    // the name is taken and the policy is to ask.
    const std::tuple<ExistingFilePolicy, std::vector<std::string>, std::string> cases[] = {
        {Ask, {"p.jpg/"}, ""},
        {Ask, {"p (2).jpg"}, "p.jpg"},
        {KeepBoth, {"p.jpg", "p (2).jpg"}, "p (3).jpg"},
        {KeepBoth, {"p (2).jpg"}, "p.jpg"},
        // A dangling link still takes the name, and nothing is written through it.
        {KeepBoth, {"@p.jpg"}, "p (2).jpg"},
        {Replace, {"p.jpg", "p (2).jpg"}, "p.jpg"},
    };
    // 0: the real exclusive rename; EINVAL and ENOSYS: a file system without
    // one, which needs the link fallback.
    for (const int refused : {0, EINVAL, ENOSYS}) {
        for (const auto& [policy, existing, saved_as] : cases) {
            SCOPED_TRACE(testing::PrintToString(std::tuple(refused, int(policy), existing)));
            g = Fakes{"", 0, refused};
            const TempDir folder;
            Names expected;
            for (const std::string& entry : existing) {
                const std::string name = entry.substr(entry[0] == '@' ? 1 : 0, entry.find('/'));
                if (entry.back() == '/') {
                    fs::create_directory(folder / name);
                } else if (entry[0] == '@') {
                    fs::create_symlink(folder / "target.jpg", folder / name);
                } else {
                    write_file(folder / name, "old " + name);
                }
                expected.insert(name);
            }
            const auto saved = write_page(folder.path(), policy);
            if (saved_as.empty()) {
                EXPECT_EQ(error_of(saved),
                          make_error(ErrorKind::OutputExists,
                                     "\"p.jpg\" already exists in the output folder."));
            } else {
                EXPECT_EQ(saved.value_or(""), folder / saved_as);
                EXPECT_EQ(read_file(folder / saved_as), "new");
                // Written to a hidden file beside it and synced, then renamed; the
                // folder synced last, so that the new name survives a power loss.
                EXPECT_EQ(fs::path(g.opened).parent_path(), folder.path());
                EXPECT_TRUE(std::regex_match(fs::path(g.opened).filename().string(),
                                             std::regex(R"(\.p\.[0-9a-f]{12}\.partial)")));
                EXPECT_EQ(std::vector(g.trace.begin(), g.trace.begin() + 4),
                          (std::vector<std::string>{"open", "write", "fsync", "close"}));
                EXPECT_EQ(g.trace.back(), "fsync-folder");
                expected.insert(saved_as);
            }
            // Nothing else appeared (no temporary file, nothing through a link)
            // and every other file kept its content.
            EXPECT_EQ(names_in(folder.path()), expected);
            for (const std::string& entry : existing) {
                if (entry.back() != '/' && entry[0] != '@' && entry != saved_as) {
                    EXPECT_EQ(read_file(folder / entry), "old " + entry);
                }
            }
            // Only Replace may overwrite; the others never fall back to a plain rename.
            EXPECT_EQ(std::ranges::count(g.trace, "rename"), policy == Replace ? 1 : 0);
            EXPECT_EQ(std::ranges::count(g.trace, "link") > 0, policy != Replace && refused != 0);
        }
    }
    // A name with a separator or a NUL never reaches outside the folder.
    const TempDir folder;
    for (const std::string& name : {std::string("../p"), std::string("p\0q", 3)}) {
        EXPECT_EQ(error_of(create_output_file(folder / "in", name, ".jpg")).kind,
                  ErrorKind::InternalError);
    }
}

TEST(OutputFileTest, MapsEachErrorOfEachCallAndLeavesNothingBehind) {
    // The failing call, the verb its unlisted errors name, the policy that
    // reaches it, and how renameat2 answers first.
    const std::tuple<std::string, std::string, ExistingFilePolicy, int> calls[] = {
        {"open", "create", KeepBoth, 0},      {"write", "write", KeepBoth, 0},
        {"fsync", "write", KeepBoth, 0},      {"close", "write", KeepBoth, 0},
        {"rename", "save", Replace, 0},       {"renameat2", "save", KeepBoth, 0},
        {"link", "save", KeepBoth, EINVAL},   {"fsync-folder", "save", KeepBoth, 0},
        {"fsync-folder", "save", Replace, 0}, {"unlink", "save", KeepBoth, EINVAL},
    };
    // "": an unlisted error.
    const std::tuple<int, ErrorKind, std::string> rows[] = {
        {ENOENT, ErrorKind::OutputFolderUnavailable, "The output folder no longer exists."},
        {EROFS, ErrorKind::PermissionDenied,
         "Permission denied while writing to the output folder."},
        {EDQUOT, ErrorKind::DiskFull, "The output drive is full."},
        {EIO, ErrorKind::WriteFailed, ""},
    };
    for (const auto& [call, verb, policy, refused] : calls) {
        for (const auto& [error, kind, message] : rows) {
            g = Fakes{call, error, refused};
            const TempDir folder;
            const std::string unlisted = "Could not " + verb + " the output file (system error " +
                                         std::to_string(error) + ").";
            EXPECT_EQ(error_of(write_page(folder.path(), policy)),
                      make_error(kind, message.empty() ? unlisted : message))
                << call;
            EXPECT_EQ(names_in(folder.path()), Names{}) << call << " " << error;
        }
    }
    // A file system that cannot sync folders at all still saves.
    g = Fakes{"fsync-folder", EINVAL};
    const TempDir folder;
    EXPECT_EQ(write_page(folder.path(), Ask).value_or(""), folder / "p.jpg");
}

TEST(OutputFileTest, FinishesShortAndInterruptedWrites) {
    auto calls = g_calls;
    // Every other call is interrupted, the rest write at most three bytes.
    calls.write = [](int fd, const void* data, unsigned long size) -> long {
        static bool interrupt = true;
        errno = EINTR;
        return (interrupt = !interrupt) ? -1 : ::write(fd, data, std::min(size, 3ul));
    };
    const TempDir folder;
    const std::string content = "0123456789abcdefghij";
    ASSERT_TRUE(write_page_file(folder.path(), "p", {content.begin(), content.end()}, Ask, calls));
    EXPECT_EQ(read_file(folder / "p.jpg"), content);
}

}  // namespace
}  // namespace bl

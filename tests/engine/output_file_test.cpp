#include "engine/output_file.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <regex>
#include <stdexcept>
#include <tuple>

#include "tests/support/pdf_writer.h"
#include "tests/support/test_files.h"

namespace bl {
namespace {

namespace fs = std::filesystem;
using enum ExistingFilePolicy;
using test::error_of;
using test::names_in;
using test::read_file;
using test::TempDir;
using test::write_file;
using Names = std::set<std::string>;

// The fake system calls around the real ones. Plain globals, since the seam
// takes plain function pointers.
struct Fakes {
    std::string failing;  // the call that fails once with `error`
    int error = 0;
    int refused = 0;  // renameat2 refuses its flag with this, as some file systems do
    int renameat2_calls = 0;
    int link_calls = 0;
    int open_flags = 0;
    unsigned open_mode = 0;
    std::vector<unsigned long> write_sizes = {};
    std::vector<std::string> trace = {};  // the calls made, in order
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

// The calls the files of a test are created with.
detail::OutputSyscalls g_calls = detail::real_output_syscalls();

void install_fakes() {
    auto& calls = g_calls;
    calls.open = [](const char* path, int flags, unsigned mode) {
        g.open_flags = flags;
        g.open_mode = mode;
        return fails("open") ? -1 : ::open(path, flags, mode);
    };
    calls.write = [](int fd, const void* data, unsigned long size) {
        return fails("write") ? -1 : ::write(fd, data, size);
    };
    // The descriptor is gone even when close reports an error.
    calls.close = [](int fd) {
        const int result = ::close(fd);
        return fails("close") ? -1 : result;
    };
    calls.rename = [](const char* from, const char* to) {
        return fails("rename") ? -1 : ::rename(from, to);
    };
    calls.renameat2 = [](int from_dir, const char* from, int to_dir, const char* to,
                         unsigned flags) {
        ++g.renameat2_calls;
        if (fails("renameat2")) {
            return -1;
        }
        if (g.refused != 0) {
            errno = g.refused;
            return -1;
        }
        return ::renameat2(from_dir, from, to_dir, to, flags);
    };
    calls.link = [](const char* from, const char* to) {
        ++g.link_calls;
        return fails("link") ? -1 : ::link(from, to);
    };
    calls.unlink = [](const char* path) { return fails("unlink") ? -1 : ::unlink(path); };
    // Files and their folder are synced through the same call; they fail apart.
    calls.fsync = [](int fd) {
        struct stat status {};
        ::fstat(fd, &status);
        return fails(S_ISDIR(status.st_mode) ? "fsync-folder" : "fsync") ? -1 : ::fsync(fd);
    };
}

Result<fs::path> write_page(const fs::path& folder, ExistingFilePolicy policy,
                            const std::string& content = "data") {
    return write_page_file(folder, "p", std::vector<std::uint8_t>(content.begin(), content.end()),
                           policy, g_calls);
}

class OutputFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        g = Fakes{};
        install_fakes();
    }

    TempDir dir;
};

TEST_F(OutputFileTest, SavesUnderTheFirstFreeNameOrRefuses) {
    const auto exists =
        make_error(ErrorKind::OutputExists, "\"p.jpg\" already exists in the output folder.");
    // Existing entries: "name/" is a folder, "@name" a dangling link, others are files.
    const struct {
        ExistingFilePolicy policy;
        std::vector<std::string> existing;
        std::string saved_as;  // empty when the commit must fail with `error`
        ConvertError error;
    } cases[] = {
        {Ask, {"p.jpg/"}, "", exists},
        {Ask, {"p (2).jpg"}, "p.jpg", {}},
        {KeepBoth, {"p.jpg", "p (2).jpg"}, "p (3).jpg", {}},
        {KeepBoth, {"p (2).jpg"}, "p.jpg", {}},
        // A dangling link still takes the name, and nothing is written through it.
        {KeepBoth, {"@p.jpg"}, "p (2).jpg", {}},
        {Replace, {"p.jpg", "p (2).jpg"}, "p.jpg", {}},
        {Replace,
         {"p.jpg/"},
         "",
         make_error(ErrorKind::WriteFailed, "Could not save the output file (system error 21).")},
    };
    const auto name_of = [](const std::string& entry) {
        return entry.substr(entry[0] == '@' ? 1 : 0, entry.find('/'));
    };
    // 0: the real exclusive rename; EINVAL and ENOSYS: a file system without
    // one, which needs the link fallback.
    for (const int refused : {0, EINVAL, ENOSYS}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::Message()
                         << "refused " << refused << ", policy " << static_cast<int>(c.policy)
                         << ", existing " << testing::PrintToString(c.existing));
            g = Fakes{};
            g.refused = refused;
            const TempDir folder;
            Names expected;
            for (const std::string& entry : c.existing) {
                const std::string name = name_of(entry);
                if (entry.back() == '/') {
                    fs::create_directory(folder / name);
                } else if (entry[0] == '@') {
                    fs::create_symlink(folder / "target.jpg", folder / name);
                } else {
                    write_file(folder / name, "old " + name);
                }
                expected.insert(name);
            }
            const auto saved = write_page(folder.path(), c.policy, "new");
            if (c.saved_as.empty()) {
                EXPECT_EQ(error_of(saved), c.error);
            } else {
                ASSERT_TRUE(saved) << saved.error().message;
                EXPECT_EQ(*saved, folder / c.saved_as);
                EXPECT_EQ(read_file(*saved), "new");
                expected.insert(c.saved_as);
            }
            // Nothing else appeared (no temporary file, nothing through a link)
            // and every other file kept its content.
            EXPECT_EQ(names_in(folder.path()), expected);
            for (const std::string& entry : c.existing) {
                if (entry.back() != '/' && entry[0] != '@' && entry != c.saved_as) {
                    EXPECT_EQ(read_file(folder / entry), "old " + entry);
                }
            }
            // Only Replace may overwrite; the others never fall back to a plain rename.
            EXPECT_EQ(g.renameat2_calls > 0, c.policy != Replace);
            EXPECT_EQ(g.link_calls > 0, c.policy != Replace && refused != 0);
        }
    }
}

TEST_F(OutputFileTest, ReplaceSwapsTheFileInOneStep) {
    write_file(dir / "p.jpg", "old");
    // A reader of the old file keeps seeing it whole: the new content arrives
    // as a different file under the same name, never by rewriting in place.
    const int reader = ::open((dir / "p.jpg").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    ASSERT_TRUE(write_page(dir.path(), Replace, "brand new"));
    EXPECT_EQ(read_file(dir / "p.jpg"), "brand new");
    char old[16] = {};
    EXPECT_EQ(::pread(reader, old, sizeof old, 0), 3);
    EXPECT_EQ(std::string(old), "old");
    ::close(reader);
    EXPECT_EQ(names_in(dir.path()), Names{"p.jpg"});
}

TEST_F(OutputFileTest, NumbersNamesUpToNineThousandNineHundredNinetyNine) {
    write_file(dir / "p.jpg", "");
    for (int n = 2; n <= 9999; ++n) {
        write_file(dir / ("p (" + std::to_string(n) + ").jpg"), "");
    }
    EXPECT_EQ(error_of(write_page(dir.path(), KeepBoth)),
              make_error(ErrorKind::OutputExists, "Too many existing files named \"p\"."));
    EXPECT_EQ(names_in(dir.path()).size(), 9999u);  // no temporary file remains
    fs::remove(dir / "p (9999).jpg");
    EXPECT_EQ(write_page(dir.path(), KeepBoth).value_or(""), dir / "p (9999).jpg");
}

TEST_F(OutputFileTest, MapsEachErrorOfEachCallAndLeavesNothingBehind) {
    // The failing call, the verb its unlisted errors name, the policy that
    // reaches it, and how renameat2 answers first.
    const std::tuple<std::string, std::string, ExistingFilePolicy, int> calls[] = {
        {"open", "create", KeepBoth, 0},      {"write", "write", KeepBoth, 0},
        {"fsync", "write", KeepBoth, 0},      {"close", "write", KeepBoth, 0},
        {"rename", "save", Replace, 0},       {"renameat2", "save", KeepBoth, 0},
        {"link", "save", KeepBoth, EINVAL},   {"fsync-folder", "save", KeepBoth, 0},
        {"fsync-folder", "save", Replace, 0},
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
    // The temporary name cannot be removed once, right after the fallback's link:
    // the link is undone too.
    g = Fakes{"unlink", EIO, EINVAL};
    EXPECT_EQ(
        error_of(write_page(dir.path(), KeepBoth)),
        make_error(ErrorKind::WriteFailed, "Could not save the output file (system error 5)."));
    EXPECT_EQ(names_in(dir.path()), Names{});
}

TEST_F(OutputFileTest, SyncsTheDataBeforeTheRenameAndTheFolderAfterIt) {
    const std::vector<std::string> prepared = {"open", "write", "fsync", "close"};
    const std::tuple<ExistingFilePolicy, int, std::vector<std::string>> cases[] = {
        {Ask, 0, {"renameat2", "fsync-folder"}},
        {Replace, 0, {"rename", "fsync-folder"}},
        {KeepBoth, EINVAL, {"renameat2", "link", "unlink", "fsync-folder"}},
    };
    for (const auto& [policy, refused, committed] : cases) {
        g = Fakes{};
        g.refused = refused;
        const TempDir folder;
        // The two stages apart, as the pipeline runs them: the data is synced
        // once, before the commit.
        auto file = prepare_page_file(folder.path(), "p", {'x'}, g_calls);
        ASSERT_TRUE(file) << file.error().message;
        EXPECT_EQ(g.trace, prepared);
        ASSERT_TRUE(commit_output_file(**file, policy));
        std::vector<std::string> expected = prepared;
        expected.insert(expected.end(), committed.begin(), committed.end());
        EXPECT_EQ(g.trace, expected) << static_cast<int>(policy);
        EXPECT_EQ(names_in(folder.path()), Names{"p.jpg"});
    }
    // A file system that cannot sync folders at all still saves.
    g = Fakes{"fsync-folder", EINVAL};
    EXPECT_EQ(write_page(dir.path(), Ask).value_or(""), dir / "p.jpg");
}

TEST_F(OutputFileTest, ShortInterruptedAndStalledWrites) {
    // Every other call is interrupted, the rest write at most three bytes.
    g_calls.write = [](int fd, const void* data, unsigned long size) -> long {
        static bool interrupt = true;
        interrupt = !interrupt;
        if (interrupt) {
            errno = EINTR;
            return -1;
        }
        return ::write(fd, data, std::min(size, 3ul));
    };
    const std::string content = "0123456789abcdefghij";
    EXPECT_EQ(read_file(write_page(dir.path(), Ask, content).value_or(dir / "none")), content);
    // Nothing written, and a failure without an error number, are errors.
    for (const int stall : {0, -1}) {
        g.error = stall;
        g_calls.write = [](int, const void*, unsigned long) -> long {
            errno = 0;
            return g.error;
        };
        EXPECT_EQ(error_of(write_page(dir.path(), KeepBoth)),
                  make_error(ErrorKind::WriteFailed,
                             "Could not write the output file (system error 5)."));
        EXPECT_EQ(names_in(dir.path()), Names{"p.jpg"});
    }
}

TEST_F(OutputFileTest, PassesAtMostOneGibibytePerWrite) {
    constexpr std::uint64_t kGiB = 1'073'741'824;
    constexpr std::uint64_t kSize = kGiB + kGiB / 2;
    // Address space only: the fake write never reads the data.
    void* region =
        ::mmap(nullptr, kSize, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    ASSERT_NE(region, MAP_FAILED);
    g_calls.write = [](int, const void*, unsigned long size) -> long {
        g.write_sizes.push_back(size);
        return static_cast<long>(size);
    };
    auto file = create_output_file(dir.path(), "big", ".zip", g_calls);
    ASSERT_TRUE(file.has_value());
    EXPECT_EQ(write_all(**file, region, kSize), std::nullopt);
    EXPECT_EQ(g.write_sizes, (std::vector<unsigned long>{kGiB, kGiB / 2}));
    ::munmap(region, kSize);
}

TEST_F(OutputFileTest, TemporaryFilesAreHiddenNewAndInsideTheFolder) {
    auto first = create_output_file(dir.path(), "report_page_0001", ".jpg", g_calls);
    auto second = create_output_file(dir.path(), "report_page_0001", ".jpg", g_calls);
    ASSERT_TRUE(first.has_value() && second.has_value());
    // Never opens or truncates a file that is already there.
    EXPECT_EQ(g.open_flags, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC);
    const std::regex pattern(R"(\.report_page_0001\.[0-9a-f]{12}\.partial)");
    EXPECT_TRUE(std::regex_match((*first)->temp_path.filename().string(), pattern));
    EXPECT_NE((*first)->temp_path, (*second)->temp_path);
    // Dropping an uncommitted file removes it; dropping a committed one keeps it.
    first->reset();
    EXPECT_EQ(names_in(dir.path()).size(), 1u);
    ASSERT_TRUE(commit_output_file(**second, Ask).has_value());
    // A file is saved only once.
    EXPECT_EQ(error_of(commit_output_file(**second, Ask)),
              make_error(ErrorKind::InternalError, "The output file was saved already."));
    second->reset();
    EXPECT_EQ(names_in(dir.path()), Names{"report_page_0001.jpg"});

    for (const std::string& stem : {std::string("../escape"), std::string("a\0b", 3)}) {
        EXPECT_EQ(
            error_of(create_output_file(dir / "sub", stem, ".jpg", g_calls)),
            make_error(ErrorKind::InternalError, "The output file name is not a plain file name."));
    }
    EXPECT_THROW(create_output_file(dir.path(), "bad\xff", ".jpg", g_calls), std::invalid_argument);
    EXPECT_EQ(names_in(dir.path()), Names{"report_page_0001.jpg"});
}

}  // namespace
}  // namespace bl

#include "engine/output_file.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ostream>
#include <regex>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/pdf_writer.h"

namespace bl {

static void PrintTo(const ConvertError& error, std::ostream* out) {
    *out << "{kind " << static_cast<std::uint32_t>(error.kind) << ", \"" << error.message
         << "\", page " << error.page << "}";
}

namespace {

namespace fs = std::filesystem;
using test::read_file;
using test::TempDir;
using test::write_file;

// What the fake system calls report. Plain globals, since the seam takes
// plain function pointers.
int g_error = 0;
int g_renameat2_calls = 0;
int g_link_calls = 0;
int g_unlink_failures_left = 0;
int g_open_flags = 0;
unsigned g_open_mode = 0;
std::vector<unsigned long> g_write_sizes;

std::vector<std::uint8_t> bytes_of(const std::string& text) {
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

// Every entry of the folder, hidden ones included, sorted.
std::vector<std::string> entries(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

class OutputFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        detail::reset_output_syscalls();
        g_error = 0;
        g_renameat2_calls = 0;
        g_link_calls = 0;
        g_unlink_failures_left = 0;
        g_open_flags = 0;
        g_open_mode = 0;
        g_write_sizes.clear();
    }
    void TearDown() override { detail::reset_output_syscalls(); }

    // Makes renameat2 refuse its flag the way some file systems do.
    static void refuse_exclusive_rename(int error) {
        g_error = error;
        detail::output_syscalls().renameat2 = [](int, const char*, int, const char*, unsigned) {
            ++g_renameat2_calls;
            errno = g_error;
            return -1;
        };
        detail::output_syscalls().link = [](const char* from, const char* to) {
            ++g_link_calls;
            return ::link(from, to);
        };
    }

    TempDir dir;
};

// --- check_output_folder -------------------------------------------------

TEST_F(OutputFileTest, ChecksTheOutputFolder) {
    write_file(dir / "file.txt", "x");
    fs::create_directory(dir / "sub");
    fs::create_symlink(dir / "sub", dir / "link-to-folder");
    fs::create_symlink(dir / "file.txt", dir / "link-to-file");
    fs::create_symlink(dir / "gone", dir / "dangling");

    struct Case {
        fs::path folder;
        const char* message;  // nullptr: accepted
    };
    const Case cases[] = {
        {"", "No output folder was chosen."},
        {dir / "missing", "The output folder does not exist."},
        {dir / "missing" / "deeper", "The output folder does not exist."},
        {dir / "dangling", "The output folder does not exist."},
        {dir / "file.txt" / "sub", "The output folder does not exist."},
        {dir / "file.txt", "The output path is not a folder."},
        {dir / "link-to-file", "The output path is not a folder."},
        {dir.path(), nullptr},
        {dir / "sub", nullptr},
        {dir / "link-to-folder", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder.string());
        const MaybeError error = check_output_folder(c.folder);
        if (c.message == nullptr) {
            EXPECT_EQ(error, std::nullopt);
        } else {
            EXPECT_EQ(error, make_error(ErrorKind::OutputFolderUnavailable, c.message));
        }
    }
}

// --- existing-file policies ----------------------------------------------

enum class Entry { File, Folder, DanglingLink };

struct PolicyCase {
    const char* label;
    ExistingFilePolicy policy;
    std::vector<std::pair<std::string, Entry>> existing;
    const char* saved_as;  // nullptr when the commit must fail
    ConvertError error;
};

void PrintTo(const PolicyCase& c, std::ostream* out) {
    *out << c.label;
}

// The renameat2 error to simulate: 0 for the real call, EINVAL or ENOSYS for
// a file system that refuses RENAME_NOREPLACE and needs the link fallback.
class PolicyTest : public OutputFileTest,
                   public ::testing::WithParamInterface<std::tuple<PolicyCase, int>> {};

TEST_P(PolicyTest, SavesUnderTheFirstFreeNameOrRefuses) {
    const auto& [c, refused] = GetParam();
    if (refused != 0) {
        refuse_exclusive_rename(refused);
    }
    std::set<std::string> before;
    for (const auto& [name, type] : c.existing) {
        switch (type) {
            case Entry::File:
                write_file(dir / name, "old " + name);
                break;
            case Entry::Folder:
                fs::create_directory(dir / name);
                break;
            case Entry::DanglingLink:
                fs::create_symlink(dir / "target.jpg", dir / name);
                break;
        }
        before.insert(name);
    }

    const auto saved = write_page_file(dir.path(), "p", bytes_of("new"), c.policy);

    std::set<std::string> expected = before;
    if (c.saved_as != nullptr) {
        ASSERT_TRUE(saved.has_value()) << saved.error().message;
        EXPECT_EQ(*saved, dir / c.saved_as);
        EXPECT_EQ(read_file(dir / c.saved_as), "new");
        expected.insert(c.saved_as);
    } else {
        ASSERT_FALSE(saved.has_value());
        EXPECT_EQ(saved.error(), c.error);
    }
    // Nothing else appeared (no temporary file, nothing through a link) and
    // every other entry kept its content.
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>(expected.begin(), expected.end()));
    for (const auto& [name, type] : c.existing) {
        if (type == Entry::File && (c.saved_as == nullptr || name != c.saved_as)) {
            EXPECT_EQ(read_file(dir / name), "old " + name);
        }
        if (type == Entry::Folder) {
            EXPECT_TRUE(fs::is_directory(dir / name));
        }
    }
    const bool exclusive = c.policy != ExistingFilePolicy::Replace;
    EXPECT_EQ(g_renameat2_calls > 0, exclusive && refused != 0);
    EXPECT_EQ(g_link_calls > 0, exclusive && refused != 0);
}

const ConvertError kNoError;
const PolicyCase kPolicyCases[] = {
    {"AskFree", ExistingFilePolicy::Ask, {}, "p.jpg", kNoError},
    {"AskTaken",
     ExistingFilePolicy::Ask,
     {{"p.jpg", Entry::File}},
     nullptr,
     {ErrorKind::OutputExists, "\"p.jpg\" already exists in the output folder.", 0}},
    {"AskTakenByFolder",
     ExistingFilePolicy::Ask,
     {{"p.jpg", Entry::Folder}},
     nullptr,
     {ErrorKind::OutputExists, "\"p.jpg\" already exists in the output folder.", 0}},
    {"AskOnlyNumberedTaken",
     ExistingFilePolicy::Ask,
     {{"p (2).jpg", Entry::File}},
     "p.jpg",
     kNoError},
    {"KeepBothFree", ExistingFilePolicy::KeepBoth, {}, "p.jpg", kNoError},
    {"KeepBothTaken",
     ExistingFilePolicy::KeepBoth,
     {{"p.jpg", Entry::File}},
     "p (2).jpg",
     kNoError},
    {"KeepBothTwoTaken",
     ExistingFilePolicy::KeepBoth,
     {{"p.jpg", Entry::File}, {"p (2).jpg", Entry::File}},
     "p (3).jpg",
     kNoError},
    {"KeepBothFirstFreeWins",
     ExistingFilePolicy::KeepBoth,
     {{"p (2).jpg", Entry::File}},
     "p.jpg",
     kNoError},
    {"KeepBothTakenByFolder",
     ExistingFilePolicy::KeepBoth,
     {{"p.jpg", Entry::Folder}},
     "p (2).jpg",
     kNoError},
    // A dangling link still takes the name, and nothing is written through it.
    {"KeepBothTakenByDanglingLink",
     ExistingFilePolicy::KeepBoth,
     {{"p.jpg", Entry::DanglingLink}},
     "p (2).jpg",
     kNoError},
    {"ReplaceFree", ExistingFilePolicy::Replace, {}, "p.jpg", kNoError},
    {"ReplaceTaken",
     ExistingFilePolicy::Replace,
     {{"p.jpg", Entry::File}, {"p (2).jpg", Entry::File}},
     "p.jpg",
     kNoError},
    {"ReplaceNeverReplacesAFolder",
     ExistingFilePolicy::Replace,
     {{"p.jpg", Entry::Folder}},
     nullptr,
     {ErrorKind::WriteFailed, "Could not save the output file (system error 21).", 0}},
};

std::string policy_test_name(const ::testing::TestParamInfo<PolicyTest::ParamType>& info) {
    const int refused = std::get<1>(info.param);
    const char* suffix = refused == 0        ? "_Rename"
                         : refused == EINVAL ? "_LinkAfterEinval"
                                             : "_LinkAfterEnosys";
    return std::string(std::get<0>(info.param).label) + suffix;
}

INSTANTIATE_TEST_SUITE_P(Policies, PolicyTest,
                         ::testing::Combine(::testing::ValuesIn(kPolicyCases),
                                            ::testing::Values(0, EINVAL, ENOSYS)),
                         policy_test_name);

TEST_F(OutputFileTest, ReplaceSwapsTheFileInOneStep) {
    write_file(dir / "p.jpg", "old");
    // A reader of the old file keeps seeing it whole: the new content arrives
    // as a different file under the same name, never by rewriting in place.
    const int reader = ::open((dir / "p.jpg").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(reader, 0);

    const auto saved =
        write_page_file(dir.path(), "p", bytes_of("brand new"), ExistingFilePolicy::Replace);
    ASSERT_TRUE(saved.has_value()) << saved.error().message;
    EXPECT_EQ(read_file(dir / "p.jpg"), "brand new");
    char old[16] = {};
    EXPECT_EQ(::pread(reader, old, sizeof old, 0), 3);
    EXPECT_EQ(std::string(old), "old");
    ::close(reader);
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"p.jpg"});
}

TEST_F(OutputFileTest, GivesUpAfterNineThousandNineHundredNinetyNineNames) {
    write_file(dir / "p.jpg", "");
    for (int n = 2; n <= 9999; ++n) {
        write_file(dir / ("p (" + std::to_string(n) + ").jpg"), "");
    }
    for (const int refused : {0, EINVAL}) {
        SCOPED_TRACE(refused);
        if (refused != 0) {
            refuse_exclusive_rename(refused);
        }
        const auto saved =
            write_page_file(dir.path(), "p", bytes_of("new"), ExistingFilePolicy::KeepBoth);
        ASSERT_FALSE(saved.has_value());
        EXPECT_EQ(saved.error(),
                  make_error(ErrorKind::OutputExists, "Too many existing files named \"p\"."));
        const auto names = entries(dir.path());
        EXPECT_EQ(names.size(), 9999u);
        EXPECT_TRUE(std::none_of(names.begin(), names.end(), [](const std::string& name) {
            return name.ends_with(".partial");
        }));
        EXPECT_TRUE(std::all_of(names.begin(), names.end(), [&](const std::string& name) {
            return fs::file_size(dir / name) == 0;
        }));
    }
}

// --- system errors ---------------------------------------------------------

enum class Stage { Create, Write, Close, Rename, ExclusiveRename, Link };

struct ErrnoRow {
    int error;
    ErrorKind kind;
    const char* message;  // nullptr: "Could not <verb> the output file (system error <n>)."
};

const ErrnoRow kErrnoRows[] = {
    {ENOENT, ErrorKind::OutputFolderUnavailable, "The output folder no longer exists."},
    {ENOTDIR, ErrorKind::OutputFolderUnavailable, "The output folder no longer exists."},
    {EACCES, ErrorKind::PermissionDenied, "Permission denied while writing to the output folder."},
    {EPERM, ErrorKind::PermissionDenied, "Permission denied while writing to the output folder."},
    {EROFS, ErrorKind::PermissionDenied, "Permission denied while writing to the output folder."},
    {ETXTBSY, ErrorKind::PermissionDenied, "Permission denied while writing to the output folder."},
    {ENOSPC, ErrorKind::DiskFull, "The output drive is full."},
    {EDQUOT, ErrorKind::DiskFull, "The output drive is full."},
    {EIO, ErrorKind::WriteFailed, nullptr},
    {EFBIG, ErrorKind::WriteFailed, nullptr},
};

void PrintTo(const ErrnoRow& row, std::ostream* out) {
    *out << "errno " << row.error;
}

class ErrnoTest : public OutputFileTest,
                  public ::testing::WithParamInterface<std::tuple<Stage, ErrnoRow>> {};

// Each stage fails with the row's error once; everything else is real.
TEST_P(ErrnoTest, MapsTheErrorAndLeavesNothingBehind) {
    const auto& [stage, row] = GetParam();
    g_error = row.error;
    auto& calls = detail::output_syscalls();
    ExistingFilePolicy policy = ExistingFilePolicy::KeepBoth;
    const char* verb = "save";
    switch (stage) {
        case Stage::Create:
            calls.open = [](const char*, int, unsigned) {
                errno = g_error;
                return -1;
            };
            verb = "create";
            break;
        case Stage::Write:
            calls.write = [](int, const void*, unsigned long) -> long {
                errno = g_error;
                return -1;
            };
            verb = "write";
            break;
        case Stage::Close:
            // The descriptor is gone even when close reports an error.
            calls.close = [](int fd) {
                ::close(fd);
                errno = g_error;
                return -1;
            };
            verb = "write";
            break;
        case Stage::Rename:
            calls.rename = [](const char*, const char*) {
                errno = g_error;
                return -1;
            };
            policy = ExistingFilePolicy::Replace;
            break;
        case Stage::ExclusiveRename:
            calls.renameat2 = [](int, const char*, int, const char*, unsigned) {
                errno = g_error;
                return -1;
            };
            break;
        case Stage::Link:
            calls.renameat2 = [](int, const char*, int, const char*, unsigned) {
                errno = EINVAL;
                return -1;
            };
            calls.link = [](const char*, const char*) {
                errno = g_error;
                return -1;
            };
            break;
    }

    const auto saved = write_page_file(dir.path(), "p", bytes_of("data"), policy);
    ASSERT_FALSE(saved.has_value());
    const std::string message = row.message != nullptr ? std::string(row.message)
                                                       : "Could not " + std::string(verb) +
                                                             " the output file (system error " +
                                                             std::to_string(row.error) + ").";
    EXPECT_EQ(saved.error(), make_error(row.kind, message));
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{});
}

std::string errno_test_name(const ::testing::TestParamInfo<ErrnoTest::ParamType>& info) {
    static const char* const kStages[] = {"Create", "Write",           "Close",
                                          "Rename", "ExclusiveRename", "Link"};
    return std::string(kStages[static_cast<int>(std::get<0>(info.param))]) + "_Errno" +
           std::to_string(std::get<1>(info.param).error);
}

INSTANTIATE_TEST_SUITE_P(Rows, ErrnoTest,
                         ::testing::Combine(::testing::Values(Stage::Create, Stage::Write,
                                                              Stage::Close, Stage::Rename,
                                                              Stage::ExclusiveRename, Stage::Link),
                                            ::testing::ValuesIn(kErrnoRows)),
                         errno_test_name);

TEST_F(OutputFileTest, OutputErrorWritesTheCodeInDecimal) {
    EXPECT_EQ(
        output_error(1224, "save"),
        make_error(ErrorKind::WriteFailed, "Could not save the output file (system error 1224)."));
    EXPECT_EQ(
        output_error(EXDEV, "create"),
        make_error(ErrorKind::WriteFailed, "Could not create the output file (system error 18)."));
}

TEST_F(OutputFileTest, RealMissingFolderConditions) {
    write_file(dir / "file.txt", "x");
    const ConvertError gone =
        make_error(ErrorKind::OutputFolderUnavailable, "The output folder no longer exists.");
    for (const fs::path& folder : {dir / "missing", dir / "file.txt"}) {
        SCOPED_TRACE(folder.string());
        const auto created = create_output_file(folder, "p", ".jpg");
        ASSERT_FALSE(created.has_value());
        EXPECT_EQ(created.error(), gone);
    }

    // The folder disappears while a file is being written.
    for (const auto policy : {ExistingFilePolicy::KeepBoth, ExistingFilePolicy::Replace}) {
        const fs::path folder = dir / "out";
        fs::create_directory(folder);
        auto file = create_output_file(folder, "p", ".jpg");
        ASSERT_TRUE(file.has_value());
        ASSERT_EQ(write_all(**file, "abc", 3), std::nullopt);
        fs::remove_all(folder);
        const auto saved = commit_output_file(**file, policy);
        ASSERT_FALSE(saved.has_value());
        EXPECT_EQ(saved.error(), gone);
        file->reset();
        EXPECT_FALSE(fs::exists(folder));
    }
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"file.txt"});
}

// --- writing ---------------------------------------------------------------

TEST_F(OutputFileTest, AWriteWithoutProgressIsAnError) {
    const ConvertError expected =
        make_error(ErrorKind::WriteFailed, "Could not write the output file (system error 5).");
    using Write = long (*)(int, const void*, unsigned long);
    const Write stalls[] = {
        [](int, const void*, unsigned long) -> long { return 0; },
        [](int, const void*, unsigned long) -> long {
            errno = 0;
            return -1;
        },
    };
    for (const Write stall : stalls) {
        detail::output_syscalls().write = stall;
        const auto saved =
            write_page_file(dir.path(), "p", bytes_of("data"), ExistingFilePolicy::KeepBoth);
        ASSERT_FALSE(saved.has_value());
        EXPECT_EQ(saved.error(), expected);
        EXPECT_EQ(entries(dir.path()), std::vector<std::string>{});
    }
}

TEST_F(OutputFileTest, ShortAndInterruptedWritesStillWriteEverything) {
    // Every other call is interrupted, the rest write at most three bytes.
    detail::output_syscalls().write = [](int fd, const void* data, unsigned long size) -> long {
        static bool interrupt = true;
        interrupt = !interrupt;
        if (interrupt) {
            errno = EINTR;
            return -1;
        }
        return ::write(fd, data, std::min(size, 3ul));
    };
    const std::string content = "0123456789abcdefghij";
    auto file = create_output_file(dir.path(), "p", ".jpg");
    ASSERT_TRUE(file.has_value());
    ASSERT_EQ(write_all(**file, content.data(), content.size()), std::nullopt);
    ASSERT_EQ(write_all(**file, nullptr, 0), std::nullopt);
    EXPECT_EQ((*file)->bytes_written, content.size());
    const auto saved = commit_output_file(**file, ExistingFilePolicy::Ask);
    ASSERT_TRUE(saved.has_value());
    EXPECT_EQ(read_file(*saved), content);
}

TEST_F(OutputFileTest, PassesAtMostOneGibibytePerWrite) {
    constexpr std::uint64_t kGiB = 1'073'741'824;
    constexpr std::uint64_t kSize = kGiB + kGiB / 2;
    // Address space only: the fake write never reads the data.
    void* region =
        ::mmap(nullptr, kSize, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    ASSERT_NE(region, MAP_FAILED);
    detail::output_syscalls().write = [](int, const void*, unsigned long size) -> long {
        g_write_sizes.push_back(size);
        return static_cast<long>(size);
    };
    auto file = create_output_file(dir.path(), "big", ".zip");
    ASSERT_TRUE(file.has_value());
    EXPECT_EQ(write_all(**file, region, kSize), std::nullopt);
    EXPECT_EQ(g_write_sizes, (std::vector<unsigned long>{kGiB, kGiB / 2}));
    EXPECT_EQ((*file)->bytes_written, kSize);
    ::munmap(region, kSize);
}

TEST_F(OutputFileTest, EmptyContentMakesAnEmptyFile) {
    const auto saved = write_page_file(dir.path(), "p", {}, ExistingFilePolicy::Ask);
    ASSERT_TRUE(saved.has_value());
    EXPECT_EQ(fs::file_size(*saved), 0u);
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"p.jpg"});
}

// --- the temporary file ----------------------------------------------------

TEST_F(OutputFileTest, TemporaryFilesHaveRandomHiddenNames) {
    detail::output_syscalls().open = [](const char* path, int flags, unsigned mode) {
        g_open_flags = flags;
        g_open_mode = mode;
        return ::open(path, flags, mode);
    };
    auto first = create_output_file(dir.path(), "report_page_0001", ".jpg");
    auto second = create_output_file(dir.path(), "report_page_0001", ".jpg");
    ASSERT_TRUE(first.has_value());
    ASSERT_TRUE(second.has_value());
    // Never opens or truncates a file that is already there.
    EXPECT_EQ(g_open_flags, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC);
    EXPECT_EQ(g_open_mode, 0666u);

    const std::regex pattern(R"(\.report_page_0001\.[0-9a-f]{12}\.partial)");
    for (const auto* file : {first->get(), second->get()}) {
        EXPECT_EQ(file->temp_path.parent_path(), dir.path());
        EXPECT_TRUE(std::regex_match(file->temp_path.filename().string(), pattern))
            << file->temp_path;
        EXPECT_TRUE(fs::is_regular_file(file->temp_path));
        EXPECT_GE(file->handle, 0);
        EXPECT_EQ(file->bytes_written, 0u);
        EXPECT_FALSE(file->committed);
    }
    EXPECT_NE((*first)->temp_path, (*second)->temp_path);
    EXPECT_EQ(entries(dir.path()).size(), 2u);

    // Dropping an uncommitted file removes it; dropping a committed one keeps it.
    first->reset();
    EXPECT_EQ(entries(dir.path()).size(), 1u);
    ASSERT_TRUE(commit_output_file(**second, ExistingFilePolicy::Ask).has_value());
    EXPECT_TRUE((*second)->committed);
    EXPECT_EQ((*second)->handle, -1);
    second->reset();
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"report_page_0001.jpg"});
}

TEST_F(OutputFileTest, ALinkLeftOverByTheFallbackIsUndone) {
    refuse_exclusive_rename(EINVAL);
    // The temporary name cannot be removed once, right after the link.
    g_unlink_failures_left = 1;
    detail::output_syscalls().unlink = [](const char* path) {
        if (g_unlink_failures_left > 0) {
            --g_unlink_failures_left;
            errno = EIO;
            return -1;
        }
        return ::unlink(path);
    };
    const auto saved =
        write_page_file(dir.path(), "p", bytes_of("data"), ExistingFilePolicy::KeepBoth);
    ASSERT_FALSE(saved.has_value());
    EXPECT_EQ(saved.error(), make_error(ErrorKind::WriteFailed,
                                        "Could not save the output file (system error 5)."));
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{});
}

TEST_F(OutputFileTest, CommitsOnlyOnce) {
    auto file = create_output_file(dir.path(), "p", ".jpg");
    ASSERT_TRUE(file.has_value());
    ASSERT_TRUE(commit_output_file(**file, ExistingFilePolicy::KeepBoth).has_value());
    const auto again = commit_output_file(**file, ExistingFilePolicy::KeepBoth);
    ASSERT_FALSE(again.has_value());
    EXPECT_EQ(again.error().kind, ErrorKind::InternalError);
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"p.jpg"});
}

TEST_F(OutputFileTest, NamesStayInsideTheOutputFolder) {
    fs::create_directory(dir / "out");
    for (const char* stem : {"../escape", "/tmp/escape", "a/b"}) {
        SCOPED_TRACE(stem);
        const auto saved =
            write_page_file(dir / "out", stem, bytes_of("x"), ExistingFilePolicy::Replace);
        ASSERT_FALSE(saved.has_value());
        EXPECT_EQ(saved.error().kind, ErrorKind::InternalError);
    }
    const auto saved = write_page_file(dir / "out", std::string("a\0b", 3), bytes_of("x"),
                                       ExistingFilePolicy::Replace);
    EXPECT_FALSE(saved.has_value());
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"out"});
    EXPECT_EQ(entries(dir / "out"), std::vector<std::string>{});
}

TEST_F(OutputFileTest, MultibyteNamesAreWrittenAsUtf8) {
    const std::string name =
        "\xc3\x9c"
        "bersicht \xe6\x97\xa5\xe6\x9c\xac \xf0\x9f\x93\x84";
    const auto saved = write_page_file(dir.path(), name, bytes_of("x"), ExistingFilePolicy::Ask);
    ASSERT_TRUE(saved.has_value()) << saved.error().message;
    EXPECT_EQ(to_utf8(saved->filename()), name + ".jpg");
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{name + ".jpg"});

    EXPECT_THROW(create_output_file(dir.path(), "bad\xff", ".jpg"), std::invalid_argument);
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{name + ".jpg"});
}

// --- text and paths ----------------------------------------------------------

TEST(ToPath, AcceptsValidUtf8Only) {
    const std::string valid[] = {
        "",
        "report_page_0001.jpg",
        "\xc3\x9c"
        "bersicht",                  // two bytes
        "\xe6\x97\xa5\xe6\x9c\xac",  // three bytes
        "\xf0\x9f\x93\x84",          // four bytes
        "\xef\xbf\xbf",              // U+FFFF
        "\xf4\x8f\xbf\xbf",          // U+10FFFF

    };
    for (const std::string& text : valid) {
        SCOPED_TRACE(testing::PrintToString(text));
        EXPECT_EQ(to_path(text).native(), text);
        EXPECT_EQ(to_utf8(to_path(text)), text);
    }
    const char* const invalid[] = {
        "\xff",
        "a\x80",                 // stray continuation byte
        "\xc3",                  // cut short
        "a\xe6\x97",             // cut short
        "\xc3(",                 // bad continuation
        "\xc0\xaf",              // overlong
        "\xe0\x80\xaf",          // overlong
        "\xf0\x80\x80\xaf",      // overlong
        "\xed\xa0\x80",          // surrogate
        "\xed\xbf\xbf",          // surrogate
        "\xf4\x90\x80\x80",      // beyond U+10FFFF
        "\xf8\x88\x80\x80\x80",  // five bytes
    };
    for (const char* text : invalid) {
        SCOPED_TRACE(testing::PrintToString(std::string(text)));
        EXPECT_THROW(to_path(text), std::invalid_argument);
    }
}

TEST(ToUtf8, PassesBytesThroughUnchanged) {
    EXPECT_EQ(to_utf8(fs::path("page\xff\xfe.jpg")), "page\xff\xfe.jpg");
    EXPECT_EQ(to_utf8(fs::path("/a/b c")), "/a/b c");
}

}  // namespace
}  // namespace bl

#include "engine/zip_archive.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <functional>
#include <map>
#include <tuple>

#include "tests/support/pdf_writer.h"
#include "tests/support/test_files.h"

namespace bl {
namespace {

namespace fs = std::filesystem;
using namespace test;
using Files = std::vector<std::pair<std::string, std::string>>;  // name, content
using OnCopy = std::function<void(const fs::path&)>;

constexpr std::uint64_t kMaxZipBytes = 4'294'967'295;
constexpr std::int64_t kSecond = 10'000'000;
// 2024-03-15 13:45:59 UTC, in 100-ns units.
constexpr std::int64_t kStamp = 1'710'510'359 * kSecond;

void set_zone(const char* zone) {
    ::setenv("TZ", zone, 1);
    ::tzset();
}

// ---- Fake inputs, through the reading hooks; plain globals, since the hooks are
// plain function pointers. "big.jpg" reads as `big_size` bytes without
// touching a disk.

constexpr int kFakeHandle = 1'000'000;
const detail::ZipInputHooks g_real = detail::real_zip_input_hooks();
struct Fakes {
    std::uint64_t big_size = 0, big_left = 0;
    std::map<std::string, int> opens;       // of every file, by name
    std::map<std::string, OnCopy> on_copy;  // run when the file is opened for its copy
    bool fail_reads = false;                // of the real files
    CancellationToken token;                // of the archive
} g;

int fake_open(const fs::path& path) {
    const std::string name = path.filename().string();
    if (++g.opens[name] == 2 && g.on_copy[name]) {
        g.on_copy[name](path);
    }
    if (name == "big.jpg") {
        g.big_left = g.big_size;
        return kFakeHandle;
    }
    return g_real.open(path);
}

long fake_read(int handle, void* buffer, std::size_t size) {
    if (handle == kFakeHandle) {
        const auto count = std::min<std::uint64_t>(size, g.big_left);
        g.big_left -= count;
        return static_cast<long>(count);
    }
    if (g.fail_reads) {
        errno = EIO;
        return -1;
    }
    return g_real.read(handle, buffer, size);
}

detail::ZipInputHooks g_input;
detail::OutputSyscalls g_output;

class ZipArchiveTest : public ::testing::Test {
  protected:
    // Timestamps are local time. Each test program runs alone, so the zone is
    // not put back.
    void SetUp() override {
        set_zone("UTC");
        g = Fakes{};
        // Closing the fake handle, which no file has, does nothing.
        g_input = {&fake_open, &fake_read, g_real.close, g_real.crc32};
        g_output = detail::real_output_syscalls();
        fs::create_directory(in());
        fs::create_directory(out());
    }

    fs::path in() const { return dir_ / "in"; }
    fs::path out() const { return dir_ / "out"; }

    // Writes the files into the input folder and lists them as entries of the same names.
    std::vector<ZipEntry> inputs(const Files& files) {
        std::vector<ZipEntry> entries;
        for (const auto& [name, content] : files) {
            write_file(in() / name, content);
            entries.push_back(ZipEntry{in() / name, name});
        }
        return entries;
    }

    Result<ZipResult> zip(const std::vector<ZipEntry>& entries) {
        ZipOptions options{ExistingFilePolicy::Ask, kStamp, &g_input, &g_output};
        return create_zip_archive(entries, out(), "report", options, g.token);
    }

    TempDir dir_;
};

TEST(DosDateTimeTest, UsesLocalTimeWithin1980To2107) {
    // Zone, time, and the DOS time and date; outside the range, 1980-01-01.
    const std::tuple<const char*, std::int64_t, std::uint16_t, std::uint16_t> cases[] = {
        {"UTC", 4'354'819'199 * kSecond, 0xBF7D, 0xFF9F},        // 2107-12-31 23:59:59
        {"UTC-2", (4'354'819'199 - 3600) * kSecond, 0, 0x0021},  // 2108 locally, not in UTC
        {"UTC", INT64_MIN, 0, 0x0021},
    };
    for (const auto& [zone, time, dos_time, dos_date] : cases) {
        set_zone(zone);
        const DosDateTime result = dos_date_time(time);
        EXPECT_EQ(std::pair(result.time, result.date), std::pair(dos_time, dos_date))
            << zone << " " << time;
    }
}

TEST_F(ZipArchiveTest, ToolsReadNamesSizesChecksumsAndDates) {
    set_zone("UTC-2");
    // Several read chunks, so the checksum must carry over from chunk to chunk; an
    // empty entry; a name in UTF-8.
    std::string large(2'621'440 + 7, '\0');
    for (std::size_t i = 0; i < large.size(); ++i) {
        large[i] = static_cast<char>(i % 251);
    }
    const Files files = {{"report_page_0001.jpg", "hello"},
                         {"caf\xC3\xA9.jpg", "\xFF\xD8"},
                         {"empty.jpg", ""},
                         {"large.jpg", large}};
    const auto result = zip(inputs(files));
    ASSERT_TRUE(result) << error_of(result).message;
    EXPECT_EQ(result->bytes, fs::file_size(result->path));
    EXPECT_EQ(names_in(out()), std::set<std::string>{"report.zip"});

    // unzip checks the headers against each other and every checksum; Python
    // lists the entries in order and compares each with its source. The time is
    // local (two hours east) and rounded down to even seconds.
    const std::string archive = "'" + result->path.string() + "'";
    const std::string log = (dir_ / "tools.txt").string();
    const std::string command =
        "(unzip -tq " + archive + " && PYTHONIOENCODING=utf-8 python3 -c '" +
        "import sys,zipfile\nz=zipfile.ZipFile(sys.argv[1])\nassert z.testzip() is None\n" +
        "for i in z.infolist(): print(i.filename, i.date_time, i.file_size, " +
        "z.read(i)==open(sys.argv[2]+\"/\"+i.filename,\"rb\").read())' " + archive + " '" +
        in().string() + "') >'" + log + "' 2>&1";
    std::string wanted =
        "No errors detected in compressed data of " + result->path.string() + ".\n";
    for (const auto& [name, content] : files) {
        wanted += name + " (2024, 3, 15, 15, 45, 58) " + std::to_string(content.size()) + " True\n";
    }
    EXPECT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(read_file(log), wanted);
}

TEST(ValidateZipEntriesTest, RejectsEmptyBadDuplicateAndTooManyNames) {
    const std::string long_name = std::string(252, 'x') + ".jpg";
    std::vector<std::string> many;
    for (int i = 0; i <= 65'535; ++i) {
        many.push_back("p" + std::to_string(i) + ".jpg");
    }
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{}, "There are no files to put in the ZIP archive."},
        // Names that differ in ASCII case only collide; the later one is named.
        {{"x.jpg", "Zed.JPG", "b.jpg", "zed.jpg"},
         "The ZIP archive would contain \"zed.jpg\" twice."},
        {{long_name}, "\"" + long_name + "\" is not a valid name inside a ZIP archive."},
        {many, "A ZIP archive can hold at most 65,535 files."},
        {{long_name.substr(1), "\xC3\x89.jpg", "\xC3\xA9.jpg", "page"}, ""},  // accepted
        {std::vector(many.begin(), many.end() - 1), ""},
    };
    for (const auto& [names, message] : cases) {
        std::vector<ZipEntry> entries;
        for (const auto& name : names) {
            entries.push_back(ZipEntry{"/nowhere/" + name, name});
        }
        const auto kind =
            names.size() > 65'535 ? ErrorKind::LimitExceeded : ErrorKind::InvalidSettings;
        EXPECT_EQ(validate_zip_entries(entries),
                  message.empty() ? MaybeError() : make_error(kind, message))
            << (names.empty() ? "(none)" : names.back());
    }
}

TEST_F(ZipArchiveTest, ArchiveAndEveryFileMustEndWithin4GiB) {
    // Summing and writing 4 GiB would take minutes; the boundaries need only the sizes.
    g_input.crc32 = [](std::uint32_t crc, const void*, std::size_t) { return crc; };
    g_output.write = [](int, const void*, unsigned long size) { return static_cast<long>(size); };
    // A real 10-byte "a.jpg", then the fake "big.jpg": local headers of 30 + 5 bytes
    // before each, 46 + 5 of central directory for each and 22 of end record.
    auto entries = inputs({{"a.jpg", "0123456789"}});
    entries.push_back(ZipEntry{in() / "big.jpg", "b.jpg"});
    constexpr std::uint64_t kLargest = kMaxZipBytes - 45 - 35 - 2 * 51 - 22;
    const std::string beyond = "The ZIP archive would be larger than 4 GiB.";
    // "": saved, exactly as large as a ZIP archive can be.
    const std::pair<std::uint64_t, std::string> cases[] = {
        {kMaxZipBytes + 1, "A file is larger than 4 GiB, which ZIP archives here do not support."},
        {kMaxZipBytes - 45 - 35 + 1, beyond + " Use fewer pages or a lower DPI."},
        {kMaxZipBytes - 45 - 35, beyond},
        {kLargest + 1, beyond},
        {kLargest, ""},
    };
    for (const auto& [size, message] : cases) {
        g.big_size = size;
        const auto result = zip(entries);
        if (message.empty()) {
            EXPECT_EQ(result.value_or(ZipResult{}).bytes, kMaxZipBytes);
        } else {
            EXPECT_EQ(error_of(result), make_error(ErrorKind::LimitExceeded, message)) << size;
            EXPECT_TRUE(names_in(out()).empty());
        }
    }
}

TEST_F(ZipArchiveTest, UnreadableOrChangedInputsAndCancellingLeaveNothing) {
    ASSERT_EQ(::mkfifo((in() / "fifo.jpg").c_str(), 0600), 0);
    // The second of three entries is not a file (and must not stall its reader), fails to read or
    // is rewritten (same size, other bytes) just before its copy; or the archive is cancelled while
    // it is copied, which finishes it but no more.
    const std::tuple<std::string, OnCopy, ConvertError> cases[] = {
        {"fifo.jpg",
         {},
         make_error(ErrorKind::InputUnreadable, "A file to be zipped could not be opened.")},
        {"b.jpg", [](const fs::path&) { g.fail_reads = true; },
         make_error(ErrorKind::InputUnreadable, "A file to be zipped could not be read.")},
        {"b.jpg", [](const fs::path& path) { write_file(path, "BRAVO"); },
         make_error(ErrorKind::WriteFailed,
                    "\"b.jpg\" changed while the ZIP archive was being created.")},
        {"b.jpg", [](const fs::path&) { g.token.cancel(); },
         make_error(ErrorKind::Cancelled, "Creating the ZIP archive was cancelled.")},
    };
    for (const auto& [source, on_copy, expected] : cases) {
        auto entries = inputs({{"a.jpg", "alpha"}, {"b.jpg", "bravo"}, {"c.jpg", "c"}});
        entries[1] = ZipEntry{in() / source, source};
        g = Fakes{};
        g.on_copy["b.jpg"] = on_copy;
        EXPECT_EQ(error_of(zip(entries)), expected) << source;
        EXPECT_EQ(g.opens.count("c.jpg"), 0u);
        EXPECT_TRUE(names_in(out()).empty());
    }
}

}  // namespace
}  // namespace bl

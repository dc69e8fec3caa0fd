#include "engine/zip_archive.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <functional>
#include <map>
#include <new>
#include <tuple>

#include "engine/output_file.h"
#include "tests/support/pdf_writer.h"
#include "tests/support/test_files.h"

namespace bl {
namespace {

namespace fs = std::filesystem;
using test::error_of;
using test::names_in;
using test::read_file;
using test::write_file;
using Files = std::vector<std::pair<std::string, std::string>>;  // name, content
using Fields = std::vector<std::uint32_t>;
using Names = std::set<std::string>;

constexpr std::uint64_t kMaxZipBytes = 4'294'967'295;
// 2024-03-15 13:45:58 UTC in 100-ns units, and its DOS form.
constexpr std::int64_t kStamp = 17'105'103'580'000'000;
constexpr std::uint16_t kStampTime = 0x6DBD;  // 13 * 2048 + 45 * 32 + 58 / 2
constexpr std::uint16_t kStampDate = 0x586F;  // 44 * 512 + 3 * 32 + 15

constexpr std::int64_t kSecond = 10'000'000;

// Little-endian fields of the given widths in bytes, one after another from `at`.
Fields fields(const std::string& bytes, std::size_t at, std::initializer_list<std::size_t> widths) {
    Fields values;
    for (const std::size_t width : widths) {
        std::uint32_t value = 0;
        for (std::size_t i = width; i-- > 0;) {
            value = value << 8 | static_cast<unsigned char>(bytes.at(at + i));
        }
        values.push_back(value);
        at += width;
    }
    return values;
}

std::string hex(const std::string& bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    for (const char c : bytes) {
        out += kDigits[static_cast<unsigned char>(c) >> 4];
        out += kDigits[static_cast<unsigned char>(c) & 0xF];
    }
    return out;
}

// Checks the archive with two independent readers: unzip's test mode, and
// Python's zipfile, whose names and contents must be `expected` in order.
void expect_tools_read(const fs::path& archive, const Files& expected) {
    const std::string path = "'" + archive.string() + "'";
    const std::string command =
        "unzip -t -q " + path + " 2>&1 && python3 -c 'import zipfile,sys\n" +
        "z=zipfile.ZipFile(sys.argv[1])\nassert z.testzip() is None\n" +
        "for n in z.namelist(): print(n.encode(\"utf-8\").hex(), z.read(n).hex())' " + path +
        " 2>&1";
    std::string wanted = "No errors detected in compressed data of " + archive.string() + ".\n";
    for (const auto& [name, content] : expected) {
        wanted += hex(name) + " " + hex(content) + "\n";
    }
    std::string output;
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char chunk[4096];
    for (std::size_t count = 0; (count = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) {
        output.append(chunk, count);
    }
    EXPECT_EQ(::pclose(pipe), 0) << output;
    EXPECT_EQ(output, wanted);
}

// ---- Fake inputs, through the reading hooks. A plain global, since the hooks are
// plain function pointers.

constexpr int kFakeHandle = 1'000'000;
detail::ZipInputHooks g_real;
struct Fakes {
    std::map<std::string, std::uint64_t> sizes;  // names that read as this many bytes
    std::uint64_t fake_left = 0;                 // of the one fake file open
    std::map<std::string, int> opens;            // of every file, by name
    int reads_to_end = 0;                        // of the real files
    // What to do when the named file is opened the second time, for its copy.
    std::map<std::string, std::function<void(const fs::path&)>> on_copy;
    // Failures to report: the file's name and the opening (1 scan, 2 copy).
    std::pair<std::string, int> fail_open;
    std::pair<std::string, int> fail_read;
    int failing_handle = -1;
    std::uint64_t discarded = 0;  // bytes written to nowhere
} g;

int fake_open(const fs::path& path) {
    const std::string name = path.filename().string();
    const int count = ++g.opens[name];
    if (g.sizes.count(name) != 0) {
        g.fake_left = g.sizes[name];
        return kFakeHandle;
    }
    if (count == 2 && g.on_copy.count(name) != 0) {
        g.on_copy[name](path);
    }
    if (g.fail_open == std::pair(name, count)) {
        errno = EACCES;
        return -1;
    }
    const int handle = g_real.open(path);
    if (g.fail_read == std::pair(name, count)) {
        g.failing_handle = handle;
    }
    return handle;
}

long fake_read(int handle, void* buffer, std::size_t size) {
    if (handle == kFakeHandle) {
        const auto count = std::min<std::uint64_t>(size, g.fake_left);
        g.fake_left -= count;
        return static_cast<long>(count);
    }
    if (handle == g.failing_handle) {
        errno = EIO;
        return -1;
    }
    const long count = g_real.read(handle, buffer, size);
    g.reads_to_end += count == 0 ? 1 : 0;
    return count;
}

void fake_close(int handle) {
    if (handle != kFakeHandle) {
        g_real.close(handle);
    }
}

// What the archives of a test read and write with, passed in as the engine's
// seams.
detail::ZipInputHooks g_input = detail::real_zip_input_hooks();
detail::OutputSyscalls g_output = detail::real_output_syscalls();

ZipOptions seams() {
    ZipOptions options;
    options.input = &g_input;
    options.output = &g_output;
    return options;
}

// Summing 4 GiB would take a minute, and writing it more; the boundary tests
// need only the sizes.
void skip_checksum_and_writes() {
    g_input.crc32 = [](std::uint32_t crc, const void*, std::size_t) { return crc; };
    g_output.write = [](int, const void*, unsigned long size) {
        g.discarded += size;
        return static_cast<long>(size);
    };
}

void set_zone(const char* zone) {
    ::setenv("TZ", zone, 1);
    ::tzset();
}

class ZipArchiveTest : public ::testing::Test {
  protected:
    // Timestamps are local time. Each test program runs alone, so the zone is
    // not put back.
    void SetUp() override {
        set_zone("UTC");
        g = Fakes{};
        g_real = detail::real_zip_input_hooks();
        g_input = {&fake_open, &fake_read, &fake_close, g_real.crc32};
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

    Result<ZipResult> zip(const std::vector<ZipEntry>& entries, const std::string& base = "report",
                          ExistingFilePolicy policy = ExistingFilePolicy::Ask,
                          const CancellationToken& token = CancellationToken()) {
        ZipOptions options = seams();
        options.existing_files = policy;
        options.modified_time = kStamp;
        return create_zip_archive(entries, out(), base, options, token);
    }

    test::TempDir dir_;
};

TEST_F(ZipArchiveTest, DosDateTimeUsesLocalTimeWithin1980To2107) {
    // Zone, time, and the DOS time and date.
    const std::tuple<const char*, std::int64_t, std::uint16_t, std::uint16_t> cases[] = {
        {"UTC", 1'710'510'359 * kSecond, kStampTime, kStampDate},  // odd seconds round down
        {"UTC-2", kStamp, 0x7DBD, kStampDate},                     // 15:45:58 two hours east
        {"UTC", 315'532'802 * kSecond, 0x0001, 0x0021},            // 1980-01-01 00:00:02
        {"UTC", 4'354'819'199 * kSecond, 0xBF7D, 0xFF9F},          // 2107-12-31 23:59:59
        {"UTC", 315'532'799 * kSecond, 0, 0x0021},                 // 1979-12-31 23:59:59
        {"UTC-2", (4'354'819'199 - 3600) * kSecond, 0, 0x0021},    // 2108 locally, not in UTC
        {"UTC", INT64_MIN, 0, 0x0021},
    };
    for (const auto& [zone, time, dos_time, dos_date] : cases) {
        set_zone(zone);
        const DosDateTime result = dos_date_time(time);
        EXPECT_EQ(std::pair(result.time, result.date), std::pair(dos_time, dos_date))
            << zone << " " << time;
    }
}

TEST_F(ZipArchiveTest, WritesExactHeadersThatToolsRead) {
    const Files files = {{"report_page_0001.jpg", "hello"}, {"report_page_0002.jpg", "123456789"}};
    const std::uint32_t crcs[] = {0x3610A686u, 0xCBF43926u};
    const auto result = zip(inputs(files));
    ASSERT_TRUE(result) << error_of(result).message;
    EXPECT_EQ(result->path, out() / "report.zip");
    EXPECT_EQ(names_in(out()), Names{"report.zip"});
    const std::string bytes = read_file(result->path);
    ASSERT_EQ(result->bytes, bytes.size());

    // Both names have 20 bytes; the central directory follows the two entries.
    const std::uint32_t directory = 2 * (30 + 20) + 5 + 9;
    std::uint32_t local = 0;
    for (std::size_t i = 0; i < 2; ++i) {
        const auto& [name, content] = files[i];
        const auto size = static_cast<std::uint32_t>(content.size());
        // Local header: signature, version needed, flags (UTF-8 names), method (stored),
        // time, date, CRC-32, both sizes, name and extra field lengths; name; content.
        EXPECT_EQ(fields(bytes, local, {4, 2, 2, 2, 2, 2, 4, 4, 4, 2, 2}),
                  (Fields{0x04034B50, 20, 0x0800, 0, kStampTime, kStampDate, crcs[i], size, size,
                          20, 0}));
        EXPECT_EQ(bytes.substr(local + 30, 20 + size), name + content);
        // Central header: signature, version made by, the local fields from version
        // needed on, comment length, disk, internal and external attributes, offset; name.
        const std::size_t central = directory + i * (46 + 20);
        EXPECT_EQ(fields(bytes, central, {4, 2, 2, 2, 2, 2, 2, 4, 4, 4, 2, 2, 2, 2, 2, 4, 4}),
                  (Fields{0x02014B50, 20, 20, 0x0800, 0, kStampTime, kStampDate, crcs[i], size,
                          size, 20, 0, 0, 0, 0, 0, local}));
        EXPECT_EQ(bytes.substr(central + 46, 20), name);
        local += 30 + 20 + size;
    }
    EXPECT_EQ(local, directory);
    // End record: signature, two disk numbers, entries here and in all, directory size
    // and offset, comment length.
    EXPECT_EQ(fields(bytes, directory + 132, {4, 2, 2, 2, 2, 4, 4, 2}),
              (Fields{0x06054B50, 0, 0, 2, 2, 132, directory, 0}));
    EXPECT_EQ(bytes.size(), directory + 132 + 22);
    expect_tools_read(result->path, files);

    // Several read chunks, so the checksum must carry over from chunk to chunk; an
    // empty entry; a name in UTF-8.
    std::string large(2'621'440 + 7, '\0');
    for (std::size_t i = 0; i < large.size(); ++i) {
        large[i] = static_cast<char>(i % 251);
    }
    const Files more = {{"caf\xC3\xA9.jpg", "\xFF\xD8"}, {"empty.jpg", ""}, {"large.jpg", large}};
    const auto second = zip(inputs(more), "more");
    ASSERT_TRUE(second) << error_of(second).message;
    expect_tools_read(second->path, more);
}

std::vector<ZipEntry> named(const std::vector<std::string>& names) {
    std::vector<ZipEntry> entries;
    for (const auto& name : names) {
        entries.push_back(ZipEntry{"/nowhere/" + name, name});
    }
    return entries;
}

TEST(ValidateZipEntriesTest, RejectsEmptyBadDuplicateAndTooManyNames) {
    const auto invalid = [](const std::string& name) {
        return "\"" + name + "\" is not a valid name inside a ZIP archive.";
    };
    const std::string long_name = std::string(252, 'x') + ".jpg";
    std::vector<std::string> many;
    for (int i = 0; i <= 65'535; ++i) {
        many.push_back("p" + std::to_string(i) + ".jpg");
    }
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{}, "There are no files to put in the ZIP archive."},
        // Names that differ in ASCII case only collide; the later one is named.
        {{"x.jpg", "Report.JPG", "b.jpg", "report.jpg"},
         "The ZIP archive would contain \"report.jpg\" twice."},
        {{" x.jpg"}, invalid(" x.jpg")},
        {{"a/b.jpg"}, invalid("a/b.jpg")},
        {{"\xFF.jpg"}, invalid("\xFF.jpg")},
        {{long_name}, invalid(long_name)},
        // The first problem in entry order wins.
        {{"ok.jpg", "lpt1.jpg", "OK.jpg"}, invalid("lpt1.jpg")},
        {many, "A ZIP archive can hold at most 65,535 files."},
        {{long_name.substr(1), "\xC3\x89.jpg", "\xC3\xA9.jpg", "page"}, ""},  // accepted
        {std::vector(many.begin(), many.end() - 1), ""},
    };
    for (const auto& [names, message] : cases) {
        const auto kind =
            names.size() > 65'535 ? ErrorKind::LimitExceeded : ErrorKind::InvalidSettings;
        EXPECT_EQ(validate_zip_entries(named(names)),
                  message.empty() ? MaybeError() : make_error(kind, message))
            << (names.empty() ? "(none)" : names.back());
    }
}

TEST_F(ZipArchiveTest, ArchiveAndEveryFileMustEndWithin4GiB) {
    skip_checksum_and_writes();
    // A real 10-byte "a.jpg", then a fake "b.jpg": local headers of 30 + 5 bytes
    // before each, 46 + 5 of central directory for each and 22 of end record.
    auto entries = inputs({{"a.jpg", "0123456789"}});
    entries.push_back(ZipEntry{in() / "b.jpg", "b.jpg"});
    constexpr std::uint64_t kLargest = kMaxZipBytes - 45 - 35 - 2 * 51 - 22;
    const auto entry_beyond =
        make_error(ErrorKind::LimitExceeded,
                   "The ZIP archive would be larger than 4 GiB. Use fewer pages or a lower DPI.");
    const auto end_beyond =
        make_error(ErrorKind::LimitExceeded, "The ZIP archive would be larger than 4 GiB.");
    const std::pair<std::uint64_t, ConvertError> cases[] = {
        {kMaxZipBytes + 1,
         make_error(ErrorKind::LimitExceeded,
                    "A file is larger than 4 GiB, which ZIP archives here do not support.")},
        {kMaxZipBytes - 45 - 35 + 1, entry_beyond},
        {kMaxZipBytes - 45 - 35, end_beyond},
        {kLargest + 1, end_beyond},
    };
    for (const auto& [size, expected] : cases) {
        g.sizes = {{"b.jpg", size}};
        EXPECT_EQ(error_of(zip(entries, "big")), expected) << size;
        EXPECT_TRUE(names_in(out()).empty());
    }
    g.sizes = {{"b.jpg", kLargest}};
    g.discarded = 0;
    const auto result = zip(entries, "big");
    ASSERT_TRUE(result) << error_of(result).message;
    EXPECT_EQ(result->bytes, kMaxZipBytes);
    EXPECT_EQ(g.discarded, kMaxZipBytes);
}

TEST_F(ZipArchiveTest, CancellingWhileTheThirdOfFiveIsCopiedStopsAfterIt) {
    Files files;
    for (int i = 1; i <= 5; ++i) {
        files.emplace_back("p" + std::to_string(i) + ".jpg", "page " + std::to_string(i));
    }
    const CancellationToken token;
    g.on_copy["p3.jpg"] = [=](const fs::path&) { token.cancel(); };
    EXPECT_EQ(error_of(zip(inputs(files), "report", ExistingFilePolicy::Ask, token)),
              make_error(ErrorKind::Cancelled, "Creating the ZIP archive was cancelled."));
    // The third file was finished, scan and copy, and the fourth never touched.
    EXPECT_EQ(g.opens, (std::map<std::string, int>{{"p1.jpg", 2}, {"p2.jpg", 2}, {"p3.jpg", 2}}));
    EXPECT_EQ(g.reads_to_end, 6);
    EXPECT_TRUE(names_in(out()).empty());
}

TEST_F(ZipArchiveTest, InputsUnreadableOrChangedFailAndLeaveNothing) {
    const auto not_opened =
        make_error(ErrorKind::InputUnreadable, "A file to be zipped could not be opened.");
    const auto not_read =
        make_error(ErrorKind::InputUnreadable, "A file to be zipped could not be read.");
    const auto changed = make_error(ErrorKind::WriteFailed,
                                    "\"b.jpg\" changed while the ZIP archive was being created.");
    ASSERT_EQ(::mkfifo((in() / "fifo.jpg").c_str(), 0600), 0);
    // The second of three entries; opening or reading "b.jpg" fails at its scan (1)
    // or copy (2), or it is rewritten before its copy.
    const std::tuple<std::string, int, int, std::string, ConvertError> cases[] = {
        {"missing.jpg", 0, 0, "", not_opened}, {"fifo.jpg", 0, 0, "", not_opened},
        {"b.jpg", 1, 0, "", not_opened},       {"b.jpg", 0, 2, "", not_read},
        {"b.jpg", 0, 0, "bravo!", changed},    {"b.jpg", 0, 0, "BRAVO", changed},
    };
    for (const auto& [source, fail_open, fail_read, rewrite, expected] : cases) {
        auto entries = inputs({{"a.jpg", "alpha"}, {"b.jpg", "bravo"}, {"c.jpg", "c"}});
        entries[1] = ZipEntry{in() / source, source};
        g = Fakes{};
        g.fail_open = {"b.jpg", fail_open};
        g.fail_read = {"b.jpg", fail_read};
        if (!rewrite.empty()) {
            g.on_copy["b.jpg"] = [&](const fs::path& path) { write_file(path, rewrite); };
        }
        EXPECT_EQ(error_of(zip(entries)), expected) << source << " " << fail_open << fail_read;
        EXPECT_EQ(g.opens.count("c.jpg"), 0u);
        EXPECT_TRUE(names_in(out()).empty());
    }
}

// Write failures are mapped by the output file's own code.
TEST_F(ZipArchiveTest, AnExceptionBecomesAnErrorAndLeavesNothing) {
    g_input.open = [](const fs::path&) -> int { throw std::bad_alloc(); };
    EXPECT_EQ(error_of(zip(inputs({{"a.jpg", "alpha"}}))),
              make_error(ErrorKind::OutOfMemory, "Not enough memory to create the ZIP archive."));
    EXPECT_TRUE(names_in(out()).empty());
}

TEST_F(ZipArchiveTest, JobPagesTakesWrittenPagesInResultOrder) {
    const auto pages = inputs({{"report_page_0004.jpg", "four"},
                               {"report_page_0001.jpg", "one"},
                               {"report_page_0002.jpg", "two"}});
    // In the order the pages finished: 4, 1, 2 (which failed) and 3 (which wrote nothing).
    ConvertResult job;
    job.page_results.resize(4);
    for (std::size_t i = 0; i < pages.size(); ++i) {
        job.page_results[i].output_path = pages[i].source;
    }
    job.page_results[2].error = make_error(ErrorKind::WriteFailed, "Could not write.", 2);
    const auto result = zip_job_pages(job, out(), "report", seams(), {});
    ASSERT_TRUE(result) << error_of(result).message;
    EXPECT_EQ(result->path, out() / "report.zip");
    expect_tools_read(result->path,
                      {{"report_page_0004.jpg", "four"}, {"report_page_0001.jpg", "one"}});
}

}  // namespace
}  // namespace bl

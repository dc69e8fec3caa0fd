#include "engine/zip_archive.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <map>
#include <new>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/output_file.h"
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

constexpr std::uint64_t kMaxZipBytes = 4'294'967'295;
// 2024-03-15 13:45:58 UTC in 100-ns units, and its DOS form.
constexpr std::int64_t kStamp = 17'105'103'580'000'000;
constexpr std::uint16_t kStampTime = 0x6DBD;  // 13 * 2048 + 45 * 32 + 58 / 2
constexpr std::uint16_t kStampDate = 0x586F;  // 44 * 512 + 3 * 32 + 15

constexpr std::int64_t at_second(std::int64_t seconds) {
    return seconds * 10'000'000;
}

std::string describe(const Result<ZipResult>& result) {
    if (result) {
        return "archive " + result->path.string();
    }
    return "error \"" + result.error().message + "\"";
}

// Every entry of the folder, hidden ones included, sorted.
std::vector<std::string> folder_entries(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::uint32_t le16(const std::string& bytes, std::size_t at) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes.at(at))) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(bytes.at(at + 1))) << 8;
}

std::uint32_t le32(const std::string& bytes, std::size_t at) {
    return le16(bytes, at) | le16(bytes, at + 2) << 16;
}

std::string hex(const std::string& bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        out += kDigits[byte >> 4];
        out += kDigits[byte & 0xF];
    }
    return out;
}

// Runs a shell command; returns what it printed and sets its exit status.
std::string run(const std::string& command, int& status) {
    std::string output;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) {
        status = -1;
        return output;
    }
    char chunk[4096];
    std::size_t count = 0;
    while ((count = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) {
        output.append(chunk, count);
    }
    status = ::pclose(pipe);
    return output;
}

std::string quoted(const fs::path& path) {
    std::string out = "'";
    for (const char c : path.string()) {
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return out + "'";
}

// Checks the archive with two independent readers: unzip's test mode, and
// Python's zipfile, whose listing of names and contents must match `expected`
// in order.
void expect_tools_read(const fs::path& archive,
                       const std::vector<std::pair<std::string, std::string>>& expected) {
    int status = 0;
    const std::string unzip_output = run("unzip -t -q " + quoted(archive), status);
    EXPECT_EQ(status, 0) << unzip_output;
    EXPECT_NE(unzip_output.find("No errors detected"), std::string::npos) << unzip_output;

    const std::string script =
        "import zipfile,sys\n"
        "z=zipfile.ZipFile(sys.argv[1])\n"
        "assert z.testzip() is None\n"
        "for n in z.namelist(): print(n.encode('utf-8').hex(), z.read(n).hex())\n";
    const std::string listing =
        run("python3 -c " + quoted(fs::path(script)) + " " + quoted(archive), status);
    EXPECT_EQ(status, 0) << listing;
    std::string wanted;
    for (const auto& [name, content] : expected) {
        wanted += hex(name) + " " + hex(content) + "\n";
    }
    EXPECT_EQ(listing, wanted);
}

// The archive's central directory, as a reader that trusts only the end
// record would see it.
struct ListedEntry {
    std::string name;
    std::uint32_t crc = 0;
    std::uint32_t size = 0;
    std::uint32_t offset = 0;
};

std::vector<ListedEntry> central_directory(const std::string& zip) {
    std::vector<ListedEntry> entries;
    const std::size_t end = zip.size() - 22;
    std::size_t at = le32(zip, end + 16);
    for (std::uint32_t i = 0; i < le16(zip, end + 10); ++i) {
        const std::uint32_t name_length = le16(zip, at + 28);
        entries.push_back(ListedEntry{zip.substr(at + 46, name_length), le32(zip, at + 16),
                                      le32(zip, at + 24), le32(zip, at + 42)});
        at += 46 + name_length;
    }
    return entries;
}

// ---- Fake inputs, through the reading hooks. Plain globals, since the hooks are
// plain function pointers.

constexpr int kFakeHandle = 1'000'000;
detail::ZipInputHooks g_real;
// File names that read as this many bytes (of whatever the buffer holds).
std::map<std::string, std::uint64_t> g_fake_sizes;
std::map<int, std::pair<std::uint64_t, std::uint64_t>> g_fake_open;  // size, position
int g_next_fake = kFakeHandle;
// What happened to the real files, by name.
std::map<std::string, int> g_opens;
std::map<int, std::string> g_handle_names;
int g_reads_to_end = 0;
// Things to do when a file is opened the second time (for its copy).
std::string g_cancel_on_copy;
std::optional<CancellationToken> g_token;
std::string g_change_on_copy;
std::string g_changed_content;
// Failures to report: the file's name and the opening (1 scan, 2 copy).
std::pair<std::string, int> g_fail_open;
std::pair<std::string, int> g_fail_read;
std::uint64_t g_discarded = 0;

int fake_open(const fs::path& path) {
    const std::string name = path.filename().string();
    const int count = ++g_opens[name];
    if (const auto fake = g_fake_sizes.find(name); fake != g_fake_sizes.end()) {
        g_fake_open[g_next_fake] = {fake->second, 0};
        return g_next_fake++;
    }
    if (count == 2 && name == g_cancel_on_copy) {
        g_token->cancel();
    }
    if (count == 2 && name == g_change_on_copy) {
        write_file(path, g_changed_content);
    }
    if (g_fail_open == std::pair(name, count)) {
        errno = EACCES;
        return -1;
    }
    const int handle = g_real.open(path);
    if (handle >= 0) {
        g_handle_names[handle] = name + "#" + std::to_string(count);
    }
    return handle;
}

long fake_read(int handle, void* buffer, std::size_t size) {
    if (const auto fake = g_fake_open.find(handle); fake != g_fake_open.end()) {
        auto& [total, position] = fake->second;
        const auto count = std::min<std::uint64_t>(size, total - position);
        position += count;
        return static_cast<long>(count);
    }
    const std::string& name = g_handle_names[handle];
    if (name == g_fail_read.first + "#" + std::to_string(g_fail_read.second)) {
        errno = EIO;
        return -1;
    }
    const long count = g_real.read(handle, buffer, size);
    if (count == 0) {
        ++g_reads_to_end;
    }
    return count;
}

void fake_close(int handle) {
    if (g_fake_open.erase(handle) == 0) {
        g_handle_names.erase(handle);
        g_real.close(handle);
    }
}

// Summing 4 GiB would take a minute; the boundary tests need only the sizes.
std::uint32_t no_crc(std::uint32_t crc, const void*, std::size_t) {
    return crc;
}

long discard_write(int, const void*, unsigned long size) {
    g_discarded += size;
    return static_cast<long>(size);
}

class ZipArchiveTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (const char* zone = std::getenv("TZ")) {
            saved_zone_ = zone;
        }
        ::setenv("TZ", "UTC", 1);
        ::tzset();
        detail::reset_zip_input_hooks();
        g_real = detail::zip_input_hooks();
        auto& hooks = detail::zip_input_hooks();
        hooks.open = &fake_open;
        hooks.read = &fake_read;
        hooks.close = &fake_close;
        g_fake_sizes.clear();
        g_fake_open.clear();
        g_opens.clear();
        g_handle_names.clear();
        g_reads_to_end = 0;
        g_cancel_on_copy.clear();
        g_token.reset();
        g_change_on_copy.clear();
        g_fail_open = {};
        g_fail_read = {};
        g_discarded = 0;
        fs::create_directory(in());
        fs::create_directory(out());
    }

    void TearDown() override {
        detail::reset_zip_input_hooks();
        detail::reset_output_syscalls();
        if (saved_zone_) {
            ::setenv("TZ", saved_zone_->c_str(), 1);
        } else {
            ::unsetenv("TZ");
        }
        ::tzset();
    }

    fs::path in() const { return dir_ / "in"; }
    fs::path out() const { return dir_ / "out"; }

    // Writes the files into the input folder and lists them as entries of the
    // same names.
    std::vector<ZipEntry> inputs(const std::vector<std::pair<std::string, std::string>>& files) {
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
        ZipOptions options;
        options.existing_files = policy;
        options.modified_time = kStamp;
        return create_zip_archive(entries, out(), base, options, token);
    }

    TempDir dir_;
    std::optional<std::string> saved_zone_;
};

TEST(Crc32Test, MatchesTheCheckValueInOneOrManyChunks) {
    const std::string text = "123456789";
    EXPECT_EQ(crc32_update(0, text.data(), text.size()), 0xCBF43926u);
    std::uint32_t crc = 0;
    for (const char c : text) {
        crc = crc32_update(crc, &c, 1);
    }
    EXPECT_EQ(crc, 0xCBF43926u);
    EXPECT_EQ(crc32_update(0, "hello", 5), 0x3610A686u);
    EXPECT_EQ(crc32_update(0, "", 0), 0u);
}

TEST_F(ZipArchiveTest, DosDateTimeUsesLocalTimeWithin1980To2107) {
    struct Case {
        const char* zone;
        std::int64_t time;
        std::uint16_t dos_time;
        std::uint16_t dos_date;
    };
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
    const Case cases[] = {
        {"UTC", kStamp, kStampTime, kStampDate},
        {"UTC", at_second(1'710'510'359), kStampTime, kStampDate},  // odd seconds round down
        {"UTC", kStamp - 1, 0x6DBC, kStampDate},                    // 13:45:57.9999999
        {"UTC-2", kStamp, 0x7DBD, kStampDate},                      // 15:45:58 two hours east
        {"UTC", at_second(315'532'802), 0x0001, 0x0021},            // 1980-01-01 00:00:02
        {"UTC", at_second(4'354'819'199), 0xBF7D, 0xFF9F},          // 2107-12-31 23:59:59
        {"UTC", at_second(315'532'799), 0, 0x0021},                 // 1979-12-31 23:59:59
        {"UTC", at_second(4'354'819'200), 0, 0x0021},               // 2108-01-01 00:00:00
        {"UTC-2", at_second(4'354'819'199 - 3600), 0, 0x0021},      // 2108 locally, not in UTC
        {"UTC", -1, 0, 0x0021},
        {"UTC", 0, 0, 0x0021},
        {"UTC", kMax, 0, 0x0021},
        {"UTC", kMin, 0, 0x0021},
    };
    for (const Case& c : cases) {
        ::setenv("TZ", c.zone, 1);
        ::tzset();
        const DosDateTime result = dos_date_time(c.time);
        EXPECT_EQ(result.time, c.dos_time) << c.zone << " " << c.time;
        EXPECT_EQ(result.date, c.dos_date) << c.zone << " " << c.time;
    }
}

TEST_F(ZipArchiveTest, WritesExactHeadersForTwoEntries) {
    const auto result =
        zip(inputs({{"report_page_0001.jpg", "hello"}, {"report_page_0002.jpg", "123456789"}}));
    ASSERT_TRUE(result) << describe(result);
    EXPECT_EQ(result->path, out() / "report.zip");
    EXPECT_EQ(folder_entries(out()), std::vector<std::string>{"report.zip"});
    const std::string zip = read_file(result->path);
    ASSERT_EQ(result->bytes, zip.size());

    struct Expected {
        std::string name;
        std::string content;
        std::uint32_t crc;
    };
    const Expected expected[] = {{"report_page_0001.jpg", "hello", 0x3610A686u},
                                 {"report_page_0002.jpg", "123456789", 0xCBF43926u}};
    std::size_t at = 0;
    std::vector<std::size_t> offsets;
    for (const Expected& entry : expected) {
        offsets.push_back(at);
        EXPECT_EQ(zip.substr(at, 4), std::string("PK\x03\x04", 4));
        EXPECT_EQ(le16(zip, at + 4), 20u);
        EXPECT_EQ(le16(zip, at + 6), 0x0800u);
        EXPECT_EQ(le16(zip, at + 8), 0u);
        EXPECT_EQ(le16(zip, at + 10), kStampTime);
        EXPECT_EQ(le16(zip, at + 12), kStampDate);
        EXPECT_EQ(le32(zip, at + 14), entry.crc);
        EXPECT_EQ(le32(zip, at + 18), entry.content.size());
        EXPECT_EQ(le32(zip, at + 22), entry.content.size());
        EXPECT_EQ(le16(zip, at + 26), entry.name.size());
        EXPECT_EQ(le16(zip, at + 28), 0u);
        EXPECT_EQ(zip.substr(at + 30, entry.name.size()), entry.name);
        at += 30 + entry.name.size();
        EXPECT_EQ(zip.substr(at, entry.content.size()), entry.content);
        at += entry.content.size();
    }
    const std::size_t directory_offset = at;
    for (std::size_t i = 0; i < 2; ++i) {
        const Expected& entry = expected[i];
        EXPECT_EQ(zip.substr(at, 4), std::string("PK\x01\x02", 4));
        EXPECT_EQ(le16(zip, at + 4), 20u);
        EXPECT_EQ(le16(zip, at + 6), 20u);
        EXPECT_EQ(le16(zip, at + 8), 0x0800u);
        EXPECT_EQ(le16(zip, at + 10), 0u);
        EXPECT_EQ(le16(zip, at + 12), kStampTime);
        EXPECT_EQ(le16(zip, at + 14), kStampDate);
        EXPECT_EQ(le32(zip, at + 16), entry.crc);
        EXPECT_EQ(le32(zip, at + 20), entry.content.size());
        EXPECT_EQ(le32(zip, at + 24), entry.content.size());
        EXPECT_EQ(le16(zip, at + 28), entry.name.size());
        EXPECT_EQ(le16(zip, at + 30), 0u);  // extra field
        EXPECT_EQ(le16(zip, at + 32), 0u);  // comment
        EXPECT_EQ(le16(zip, at + 34), 0u);  // disk
        EXPECT_EQ(le16(zip, at + 36), 0u);  // internal attributes
        EXPECT_EQ(le32(zip, at + 38), 0u);  // external attributes
        EXPECT_EQ(le32(zip, at + 42), offsets[i]);
        EXPECT_EQ(zip.substr(at + 46, entry.name.size()), entry.name);
        at += 46 + entry.name.size();
    }
    const std::size_t directory_size = at - directory_offset;
    EXPECT_EQ(directory_size, 2 * (46 + 20u));
    EXPECT_EQ(zip.substr(at, 4), std::string("PK\x05\x06", 4));
    EXPECT_EQ(le16(zip, at + 4), 0u);
    EXPECT_EQ(le16(zip, at + 6), 0u);
    EXPECT_EQ(le16(zip, at + 8), 2u);
    EXPECT_EQ(le16(zip, at + 10), 2u);
    EXPECT_EQ(le32(zip, at + 12), directory_size);
    EXPECT_EQ(le32(zip, at + 16), directory_offset);
    EXPECT_EQ(le16(zip, at + 20), 0u);
    EXPECT_EQ(zip.size(), at + 22);

    expect_tools_read(result->path,
                      {{"report_page_0001.jpg", "hello"}, {"report_page_0002.jpg", "123456789"}});
}

TEST_F(ZipArchiveTest, ToolsReadLargeEmptyAndUtf8Entries) {
    // Several read chunks, so the checksum must carry over from chunk to chunk.
    std::string large(2'621'440 + 7, '\0');
    std::uint32_t value = 12345;
    for (char& c : large) {
        value = value * 1'103'515'245u + 12'345u;
        c = static_cast<char>(value >> 24);
    }
    const std::vector<std::pair<std::string, std::string>> files = {
        {"caf\xC3\xA9_page_0001.jpg", "\xFF\xD8 first"},
        {"empty.jpg", ""},
        {"large.jpg", large},
    };
    const auto result = zip(inputs(files));
    ASSERT_TRUE(result) << describe(result);
    const std::string zip = read_file(result->path);
    EXPECT_EQ(result->bytes, zip.size());
    const auto listed = central_directory(zip);
    ASSERT_EQ(listed.size(), 3u);
    EXPECT_EQ(listed[1].name, "empty.jpg");
    EXPECT_EQ(listed[1].size, 0u);
    EXPECT_EQ(listed[1].crc, 0u);
    EXPECT_EQ(le32(zip, listed[1].offset + 14), 0u);
    EXPECT_EQ(le32(zip, listed[1].offset + 22), 0u);
    EXPECT_EQ(listed[2].size, large.size());
    expect_tools_read(result->path, files);
}

TEST(ValidateZipEntriesTest, RejectsEmptyBadAndDuplicateNames) {
    struct Case {
        std::vector<std::string> names;
        std::optional<ConvertError> expected;
    };
    const auto invalid = [](const std::string& name) {
        return make_error(ErrorKind::InvalidSettings,
                          "\"" + name + "\" is not a valid name inside a ZIP archive.");
    };
    const std::string long_name = std::string(252, 'x') + ".jpg";
    const Case cases[] = {
        {{},
         make_error(ErrorKind::InvalidSettings, "There are no files to put in the ZIP archive.")},
        {{"A.jpg", "a.jpg"},
         make_error(ErrorKind::InvalidSettings, "The ZIP archive would contain \"a.jpg\" twice.")},
        {{"x.jpg", "Report.JPG", "b.jpg", "report.jpg"},
         make_error(ErrorKind::InvalidSettings,
                    "The ZIP archive would contain \"report.jpg\" twice.")},
        {{"con.jpg"}, invalid("con.jpg")},
        {{" x.jpg"}, invalid(" x.jpg")},
        {{"x.jpg."}, invalid("x.jpg.")},
        {{"a:b.jpg"}, invalid("a:b.jpg")},
        {{"a/b.jpg"}, invalid("a/b.jpg")},
        {{"\xFF.jpg"}, invalid("\xFF.jpg")},
        {{long_name}, invalid(long_name)},
        {{""}, invalid("")},
        // The first problem in entry order wins.
        {{"ok.jpg", "lpt1.jpg", "OK.jpg"}, invalid("lpt1.jpg")},
        {{long_name.substr(1), "\xC3\x89.jpg", "\xC3\xA9.jpg", "page"}, std::nullopt},
    };
    for (const Case& c : cases) {
        std::vector<ZipEntry> entries;
        for (const auto& name : c.names) {
            entries.push_back(ZipEntry{"/nowhere/" + name, name});
        }
        EXPECT_EQ(validate_zip_entries(entries), c.expected)
            << (c.names.empty() ? "(none)" : c.names.back());
    }
}

TEST(ValidateZipEntriesTest, HoldsAtMost65535Entries) {
    std::vector<ZipEntry> entries;
    for (int i = 0; i < 65'535; ++i) {
        const std::string name = "p" + std::to_string(i) + ".jpg";
        entries.push_back(ZipEntry{"/nowhere/" + name, name});
    }
    EXPECT_EQ(validate_zip_entries(entries), std::nullopt);
    entries.push_back(ZipEntry{"/nowhere/last.jpg", "last.jpg"});
    EXPECT_EQ(validate_zip_entries(entries),
              make_error(ErrorKind::LimitExceeded, "A ZIP archive can hold at most 65,535 files."));
}

TEST_F(ZipArchiveTest, ChecksEntriesThenTheFolderBeforeCreatingAnything) {
    ZipOptions options;
    const CancellationToken token;
    auto result = create_zip_archive({}, dir_ / "missing", "report", options, token);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().message, "There are no files to put in the ZIP archive.");

    const auto entries = inputs({{"a.jpg", "a"}});
    result = create_zip_archive(entries, dir_ / "missing", "report", options, token);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(),
              make_error(ErrorKind::OutputFolderUnavailable, "The output folder does not exist."));
    result = create_zip_archive(entries, in() / "a.jpg", "report", options, token);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(),
              make_error(ErrorKind::OutputFolderUnavailable, "The output path is not a folder."));
    EXPECT_TRUE(g_opens.empty());
}

TEST_F(ZipArchiveTest, CleansTheBaseName) {
    const auto entries = inputs({{"a.jpg", "a"}});
    struct Case {
        std::string base;
        std::string file;
    };
    const Case cases[] = {{"...", "page.zip"},
                          {"", "page.zip"},
                          {"a:b ", "a_b.zip"},
                          {std::string(210, 'n'), std::string(200, 'n') + ".zip"}};
    for (const Case& c : cases) {
        const auto result = zip(entries, c.base, ExistingFilePolicy::Replace);
        ASSERT_TRUE(result) << describe(result);
        EXPECT_EQ(result->path, out() / c.file);
    }
}

TEST_F(ZipArchiveTest, AskRefusesAnyExistingNameBeforeCreatingAnything) {
    const auto entries = inputs({{"a.jpg", "a"}});
    write_file(out() / "report.zip", "mine");
    fs::create_symlink(out() / "nowhere", out() / "notes.zip");
    const auto before = folder_entries(out());
    for (const std::string base : {"report", "notes"}) {
        const auto result = zip(entries, base);
        ASSERT_FALSE(result) << describe(result);
        EXPECT_EQ(result.error(),
                  make_error(ErrorKind::OutputExists,
                             "\"" + base + ".zip\" already exists in the output folder."));
    }
    write_file(out() / "folder.zip" / "x.txt", "x");
    const auto result = zip(entries, "folder");
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().kind, ErrorKind::OutputExists);

    EXPECT_EQ(folder_entries(out()),
              (std::vector<std::string>{"folder.zip", "notes.zip", "report.zip"}));
    EXPECT_EQ(read_file(out() / "report.zip"), "mine");
    EXPECT_TRUE(g_opens.empty());
}

TEST_F(ZipArchiveTest, KeepBothAndReplaceApplyAtTheCommit) {
    const auto entries = inputs({{"a.jpg", "alpha"}});
    write_file(out() / "report.zip", "mine");

    auto result = zip(entries, "report", ExistingFilePolicy::KeepBoth);
    ASSERT_TRUE(result) << describe(result);
    EXPECT_EQ(result->path, out() / "report (2).zip");
    EXPECT_EQ(read_file(out() / "report.zip"), "mine");
    expect_tools_read(result->path, {{"a.jpg", "alpha"}});

    result = zip(entries, "report", ExistingFilePolicy::Replace);
    ASSERT_TRUE(result) << describe(result);
    EXPECT_EQ(result->path, out() / "report.zip");
    expect_tools_read(result->path, {{"a.jpg", "alpha"}});
    EXPECT_EQ(folder_entries(out()), (std::vector<std::string>{"report (2).zip", "report.zip"}));
}

TEST_F(ZipArchiveTest, ScanAndCopyAcceptFilesUpTo4GiBMinusOne) {
    detail::zip_input_hooks().crc32 = &no_crc;
    detail::output_syscalls().write = &discard_write;
    g_fake_sizes = {{"max.jpg", kMaxZipBytes}, {"over.jpg", kMaxZipBytes + 1}};
    std::vector<unsigned char> buffer(1'048'576);
    const auto too_large =
        make_error(ErrorKind::LimitExceeded,
                   "A file is larger than 4 GiB, which ZIP archives here do not support.");

    std::uint32_t crc = 7;
    auto size = scan_zip_input(in() / "max.jpg", buffer, crc);
    ASSERT_TRUE(size) << size.error().message;
    EXPECT_EQ(*size, kMaxZipBytes);
    EXPECT_EQ(crc, 0u);
    size = scan_zip_input(in() / "over.jpg", buffer, crc);
    ASSERT_FALSE(size);
    EXPECT_EQ(size.error(), too_large);

    auto archive = create_output_file(out(), "copy", ".zip");
    ASSERT_TRUE(archive);
    size = copy_zip_input(in() / "max.jpg", buffer, crc, **archive);
    ASSERT_TRUE(size) << size.error().message;
    EXPECT_EQ(*size, kMaxZipBytes);
    EXPECT_EQ((*archive)->bytes_written, kMaxZipBytes);
    size = copy_zip_input(in() / "over.jpg", buffer, crc, **archive);
    ASSERT_FALSE(size);
    EXPECT_EQ(size.error(), too_large);
    // Stopped before the chunk that passed the limit was written.
    EXPECT_EQ((*archive)->bytes_written, kMaxZipBytes + (kMaxZipBytes + 1 - 1'048'576));
}

TEST_F(ZipArchiveTest, ArchiveMustEndWithin4GiB) {
    detail::zip_input_hooks().crc32 = &no_crc;
    detail::output_syscalls().write = &discard_write;
    const auto entry_beyond =
        make_error(ErrorKind::LimitExceeded,
                   "The ZIP archive would be larger than 4 GiB. Use fewer pages or a lower DPI.");
    const auto end_beyond =
        make_error(ErrorKind::LimitExceeded, "The ZIP archive would be larger than 4 GiB.");
    struct Case {
        bool small_first;  // a real 10-byte "a.jpg" before the large "b.jpg"
        std::uint64_t size;
        std::optional<ConvertError> expected;
    };
    // One entry "b.jpg": 30 + 5 bytes of local header, 46 + 5 of central
    // directory, 22 of end record.
    const Case cases[] = {
        {false, kMaxZipBytes - 35 - 51 - 22 + 1, end_beyond},
        {false, kMaxZipBytes - 35, end_beyond},
        {false, kMaxZipBytes - 35 + 1, entry_beyond},
        {true, kMaxZipBytes - 45 - 35, end_beyond},
        {true, kMaxZipBytes - 45 - 35 + 1, entry_beyond},
        // The largest archive there can be; written last, as it stays.
        {false, kMaxZipBytes - 35 - 51 - 22, std::nullopt},
    };
    for (const Case& c : cases) {
        g_fake_sizes = {{"b.jpg", c.size}};
        g_discarded = 0;
        std::vector<ZipEntry> entries;
        if (c.small_first) {
            entries = inputs({{"a.jpg", "0123456789"}});
        }
        entries.push_back(ZipEntry{in() / "b.jpg", "b.jpg"});
        const auto result = zip(entries, "big", ExistingFilePolicy::Replace);
        if (c.expected) {
            ASSERT_FALSE(result) << c.size;
            EXPECT_EQ(result.error(), *c.expected) << c.size;
            EXPECT_TRUE(folder_entries(out()).empty());
        } else {
            ASSERT_TRUE(result) << describe(result);
            EXPECT_EQ(result->bytes, kMaxZipBytes);
            EXPECT_EQ(g_discarded, kMaxZipBytes);
        }
    }
}

TEST_F(ZipArchiveTest, CancellingWhileTheThirdOfFiveIsCopiedStopsAfterIt) {
    const auto entries = inputs({{"p1.jpg", "one"},
                                 {"p2.jpg", "two"},
                                 {"p3.jpg", "three"},
                                 {"p4.jpg", "4"},
                                 {"p5.jpg", "5"}});
    const CancellationToken token;
    g_token = token;
    g_cancel_on_copy = "p3.jpg";
    const auto result = zip(entries, "report", ExistingFilePolicy::Ask, token);
    ASSERT_FALSE(result) << describe(result);
    EXPECT_EQ(result.error(),
              make_error(ErrorKind::Cancelled, "Creating the ZIP archive was cancelled."));
    // The third file was finished, scan and copy, and the fourth never touched.
    EXPECT_EQ(g_opens, (std::map<std::string, int>{{"p1.jpg", 2}, {"p2.jpg", 2}, {"p3.jpg", 2}}));
    EXPECT_EQ(g_reads_to_end, 6);
    EXPECT_TRUE(folder_entries(out()).empty());
}

TEST_F(ZipArchiveTest, CancellingDuringTheLastFileStillCompletes) {
    const auto entries = inputs({{"p1.jpg", "one"}, {"p2.jpg", "two"}});
    const CancellationToken token;
    g_token = token;
    g_cancel_on_copy = "p2.jpg";
    const auto result = zip(entries, "report", ExistingFilePolicy::Ask, token);
    ASSERT_TRUE(result) << describe(result);
    expect_tools_read(result->path, {{"p1.jpg", "one"}, {"p2.jpg", "two"}});
}

TEST_F(ZipArchiveTest, CancelledBeforeTheFirstFileLeavesNothing) {
    const auto entries = inputs({{"p1.jpg", "one"}});
    const CancellationToken token;
    token.cancel();
    const auto result = zip(entries, "report", ExistingFilePolicy::Ask, token);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().kind, ErrorKind::Cancelled);
    EXPECT_TRUE(g_opens.empty());
    EXPECT_TRUE(folder_entries(out()).empty());
}

TEST_F(ZipArchiveTest, FileChangedBetweenScanAndCopyFails) {
    // Grown, and the same size with other bytes.
    for (const std::string changed : {"bravo!", "BRAVO"}) {
        const auto entries = inputs({{"a.jpg", "alpha"}, {"b.jpg", "bravo"}, {"c.jpg", "c"}});
        g_opens.clear();
        g_change_on_copy = "b.jpg";
        g_changed_content = changed;
        const auto result = zip(entries);
        ASSERT_FALSE(result) << describe(result);
        EXPECT_EQ(result.error(),
                  make_error(ErrorKind::WriteFailed,
                             "\"b.jpg\" changed while the ZIP archive was being created."));
        EXPECT_EQ(g_opens.count("c.jpg"), 0u);
        EXPECT_TRUE(folder_entries(out()).empty());
    }
}

TEST_F(ZipArchiveTest, UnreadableInputsFailAndLeaveNothing) {
    const auto not_opened =
        make_error(ErrorKind::InputUnreadable, "A file to be zipped could not be opened.");
    const auto not_read =
        make_error(ErrorKind::InputUnreadable, "A file to be zipped could not be read.");
    ASSERT_EQ(::mkfifo((in() / "fifo.jpg").c_str(), 0600), 0);
    fs::create_directory(in() / "folder.jpg");
    struct Case {
        std::string source;  // the second of two entries
        std::pair<std::string, int> fail_open;
        std::pair<std::string, int> fail_read;
        ConvertError expected;
    };
    const Case cases[] = {
        {"missing.jpg", {}, {}, not_opened},     {"fifo.jpg", {}, {}, not_opened},
        {"folder.jpg", {}, {}, not_opened},      {"b.jpg", {"b.jpg", 1}, {}, not_opened},
        {"b.jpg", {"b.jpg", 2}, {}, not_opened}, {"b.jpg", {}, {"b.jpg", 1}, not_read},
        {"b.jpg", {}, {"b.jpg", 2}, not_read},
    };
    for (const Case& c : cases) {
        auto entries = inputs({{"a.jpg", "alpha"}, {"b.jpg", "bravo"}});
        entries[1] = ZipEntry{in() / c.source, c.source};
        g_opens.clear();
        g_fail_open = c.fail_open;
        g_fail_read = c.fail_read;
        const auto result = zip(entries);
        ASSERT_FALSE(result) << c.source;
        EXPECT_EQ(result.error(), c.expected)
            << c.source << " " << c.fail_open.second << " " << c.fail_read.second;
        EXPECT_TRUE(folder_entries(out()).empty());
    }
}

TEST_F(ZipArchiveTest, WriteFailuresAndExceptionsBecomeErrorsAndLeaveNothing) {
    const auto entries = inputs({{"a.jpg", "alpha"}});
    detail::output_syscalls().write = [](int, const void*, unsigned long) -> long {
        errno = ENOSPC;
        return -1;
    };
    auto result = zip(entries);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), make_error(ErrorKind::DiskFull, "The output drive is full."));
    EXPECT_TRUE(folder_entries(out()).empty());
    detail::reset_output_syscalls();

    detail::zip_input_hooks().open = [](const fs::path&) -> int { throw std::bad_alloc(); };
    result = zip(entries);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(),
              make_error(ErrorKind::OutOfMemory, "Not enough memory to create the ZIP archive."));
    EXPECT_TRUE(folder_entries(out()).empty());

    detail::zip_input_hooks().open = [](const fs::path&) -> int {
        throw std::runtime_error("boom");
    };
    result = zip(entries);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(),
              make_error(ErrorKind::InternalError,
                         "An unexpected internal error occurred while creating the ZIP archive."));
    EXPECT_TRUE(folder_entries(out()).empty());
}

TEST_F(ZipArchiveTest, JobPagesTakesWrittenPagesInResultOrder) {
    inputs({{"report_page_0001.jpg", "one"},
            {"report_page_0002.jpg", "two"},
            {"report_page_0004.jpg", "four"}});
    ConvertResult job;
    const auto page = [&](std::uint32_t number, fs::path path, bool failed) {
        PageResult result;
        result.page = number;
        result.output_path = std::move(path);
        if (failed) {
            result.error = make_error(ErrorKind::WriteFailed, "Could not write.", number);
        }
        job.page_results.push_back(result);
    };
    page(4, in() / "report_page_0004.jpg", false);
    page(1, in() / "report_page_0001.jpg", false);
    page(2, in() / "report_page_0002.jpg", true);
    page(3, {}, false);

    ZipOptions options;
    options.modified_time = kStamp;
    const CancellationToken token;
    auto result = zip_job_pages(job, out(), "report", options, token);
    ASSERT_TRUE(result) << describe(result);
    EXPECT_EQ(result->path, out() / "report.zip");
    expect_tools_read(result->path,
                      {{"report_page_0004.jpg", "four"}, {"report_page_0001.jpg", "one"}});

    job.page_results.erase(job.page_results.begin(), job.page_results.begin() + 2);
    result = zip_job_pages(job, out(), "report", options, token);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), make_error(ErrorKind::InvalidSettings,
                                         "There are no files to put in the ZIP archive."));
}

}  // namespace
}  // namespace bl

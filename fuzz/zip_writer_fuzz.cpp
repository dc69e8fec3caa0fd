// The ZIP writer end to end, in memory: entries and a timestamp from the input
// go through create_zip_archive with its file calls faked, and a reader written
// here takes the archive apart again. Every header field, name, size, CRC-32
// and date must come back; an entry list the writer must refuse is refused with
// its first problem; the archive is synced before it takes its name.
//
// Input: line 1 holds the time in units of five seconds since 1970 and the
// existing-file policy (0 to 2); every further line is one entry: its name, a
// tab, and its content.

#include <fcntl.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "engine/naming_template.h"
#include "engine/output_file.h"
#include "engine/zip_archive.h"
#include "fuzz/fuzz_support.h"

namespace {

namespace fs = std::filesystem;
using bl::fuzz::check;

constexpr int kArchiveHandle = 1'000'000;  // no real descriptor gets this high

struct Entry {
    std::string name;
    std::string content;
};

// What the faked calls see and do. Plain globals, since the seams take plain
// function pointers.
struct State {
    std::vector<Entry> entries;
    std::vector<std::size_t> read_at;  // per entry, how far the open read has got
    std::vector<std::uint8_t> archive;
    std::vector<std::string> trace;
    std::string target;  // where the archive was moved
} g;

std::size_t entry_of(const fs::path& path) {
    return static_cast<std::size_t>(std::stoul(path.filename().string()));
}

bl::detail::ZipInputHooks g_input = bl::detail::real_zip_input_hooks();
bl::detail::OutputSyscalls g_output = bl::detail::real_output_syscalls();

void install_fakes() {
    auto& input = g_input;
    input.open = [](const fs::path& path) {
        const std::size_t index = entry_of(path);
        g.read_at[index] = 0;
        return static_cast<int>(index) + 1;
    };
    input.read = [](int handle, void* buffer, std::size_t size) -> long {
        const auto index = static_cast<std::size_t>(handle - 1);
        const std::string& content = g.entries[index].content;
        const std::size_t count = std::min(size, content.size() - g.read_at[index]);
        std::memcpy(buffer, content.data() + g.read_at[index], count);
        g.read_at[index] += count;
        return static_cast<long>(count);
    };
    input.close = [](int) {};

    auto& output = g_output;
    output.open = [](const char*, int, unsigned) {
        g.trace.emplace_back("create");
        g.archive.clear();
        return kArchiveHandle;
    };
    output.write = [](int handle, const void* data, unsigned long size) -> long {
        check(handle == kArchiveHandle, "writes go to the archive");
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        g.archive.insert(g.archive.end(), bytes, bytes + size);
        return static_cast<long>(size);
    };
    output.close = [](int) { return 0; };
    output.renameat2 = [](int, const char*, int, const char* to, unsigned) {
        g.trace.emplace_back("rename");
        g.target = to;
        return 0;
    };
    output.rename = [](const char*, const char* to) {
        g.trace.emplace_back("rename");
        g.target = to;
        return 0;
    };
    output.link = [](const char*, const char*) { return -1; };
    output.unlink = [](const char*) { return 0; };
    output.fsync = [](int handle) {
        g.trace.emplace_back(handle == kArchiveHandle ? "sync archive" : "sync folder");
        return 0;
    };
}

// The folder must exist for the writer's checks; nothing is ever put in it.
const fs::path& output_folder() {
    static const fs::path folder = [] {
        // Timestamps are local time; UTC makes them predictable here.
        ::setenv("TZ", "UTC", 1);
        ::tzset();
        static char name[] = "/tmp/zip_writer_fuzz.XXXXXX";
        check(::mkdtemp(name) != nullptr, "a scratch folder");
        std::atexit([] { ::rmdir(name); });
        return fs::path(name);
    }();
    return folder;
}

// The first problem the writer must report, from the rules for entry names.
bl::MaybeError expected_problem(const std::vector<Entry>& entries) {
    using bl::ErrorKind;
    if (entries.empty()) {
        return bl::make_error(ErrorKind::InvalidSettings,
                              "There are no files to put in the ZIP archive.");
    }
    std::set<std::string> seen;
    for (const Entry& entry : entries) {
        if (entry.name.empty() || bl::sanitize_file_name(entry.name, 255) != entry.name) {
            return bl::make_error(
                ErrorKind::InvalidSettings,
                "\"" + entry.name + "\" is not a valid name inside a ZIP archive.");
        }
        std::string folded = entry.name;
        for (char& c : folded) {
            c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        }
        if (!seen.insert(folded).second) {
            return bl::make_error(ErrorKind::InvalidSettings,
                                  "The ZIP archive would contain \"" + entry.name + "\" twice.");
        }
    }
    return std::nullopt;
}

// The ZIP CRC-32 bit by bit, apart from the writer's table.
std::uint32_t crc32(std::string_view data) {
    std::uint32_t crc = 0xFFFF'FFFFu;
    for (const char c : data) {
        crc ^= static_cast<unsigned char>(c);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1) ^ (0xEDB8'8320u & (0u - (crc & 1u)));
        }
    }
    return ~crc;
}

struct DosStamp {
    std::uint16_t time = 0;
    std::uint16_t date = 0x21;  // 1 January 1980
};

DosStamp dos_stamp(std::int64_t seconds) {
    const auto when = static_cast<time_t>(seconds);
    tm utc{};
    if (::gmtime_r(&when, &utc) == nullptr || utc.tm_year + 1900 < 1980 ||
        utc.tm_year + 1900 > 2107) {
        return {};
    }
    return {static_cast<std::uint16_t>(utc.tm_hour << 11 | utc.tm_min << 5 | utc.tm_sec / 2),
            static_cast<std::uint16_t>((utc.tm_year + 1900 - 1980) << 9 | (utc.tm_mon + 1) << 5 |
                                       utc.tm_mday)};
}

// Little-endian fields of the archive, never read past its end.
class Reader {
  public:
    explicit Reader(const std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}
    std::uint32_t u16(std::size_t at) const { return field(at, 2); }
    std::uint32_t u32(std::size_t at) const { return field(at, 4); }
    std::string text(std::size_t at, std::size_t size) const {
        check(at <= bytes_.size() && size <= bytes_.size() - at, "a field within the archive");
        return {reinterpret_cast<const char*>(bytes_.data()) + at, size};
    }

  private:
    std::uint32_t field(std::size_t at, std::size_t size) const {
        const std::string bytes = text(at, size);
        std::uint32_t value = 0;
        for (std::size_t i = size; i-- > 0;) {
            value = value << 8 | static_cast<unsigned char>(bytes[i]);
        }
        return value;
    }
    const std::vector<std::uint8_t>& bytes_;
};

// Takes the archive apart and compares every field with what went in.
void check_archive(const std::vector<Entry>& entries, DosStamp stamp) {
    const Reader zip(g.archive);
    check(g.archive.size() >= 22, "an end record");
    const std::size_t end = g.archive.size() - 22;
    check(zip.u32(end) == 0x0605'4B50u, "the end record's signature");
    check(zip.u16(end + 4) == 0 && zip.u16(end + 6) == 0, "one disk");
    check(zip.u16(end + 8) == entries.size() && zip.u16(end + 10) == entries.size(),
          "the end record counts every entry");
    const std::uint32_t directory_size = zip.u32(end + 12);
    const std::uint32_t directory = zip.u32(end + 16);
    check(zip.u16(end + 20) == 0, "no comment");
    check(std::uint64_t{directory} + directory_size == end,
          "the central directory ends where the end record starts");

    std::size_t at = directory;
    std::size_t next_local = 0;
    for (const Entry& entry : entries) {
        check(zip.u32(at) == 0x0201'4B50u, "a central header's signature");
        check(zip.u16(at + 4) == 20 && zip.u16(at + 6) == 20, "versions 2.0");
        check(zip.u16(at + 8) == 0x0800 && zip.u16(at + 10) == 0, "UTF-8 names, stored");
        check(zip.u16(at + 12) == stamp.time && zip.u16(at + 14) == stamp.date,
              "the archive's time and date");
        const std::uint32_t crc = zip.u32(at + 16);
        check(zip.u32(at + 20) == entry.content.size() && zip.u32(at + 24) == entry.content.size(),
              "both sizes are the content's");
        const std::uint32_t name_size = zip.u16(at + 28);
        check(zip.u16(at + 30) == 0 && zip.u16(at + 32) == 0 && zip.u16(at + 34) == 0 &&
                  zip.u16(at + 36) == 0 && zip.u32(at + 38) == 0,
              "no extra field, comment, disk or attributes");
        const std::uint32_t local = zip.u32(at + 42);
        check(zip.text(at + 46, name_size) == entry.name, "the central name");
        at += 46 + name_size;

        check(local == next_local, "entries follow each other from the start");
        check(zip.u32(local) == 0x0403'4B50u, "a local header's signature");
        check(zip.u16(local + 4) == 20 && zip.u16(local + 6) == 0x0800 && zip.u16(local + 8) == 0,
              "the local header agrees: version, flags, method");
        check(zip.u16(local + 10) == stamp.time && zip.u16(local + 12) == stamp.date &&
                  zip.u32(local + 14) == crc && zip.u32(local + 18) == entry.content.size() &&
                  zip.u32(local + 22) == entry.content.size() && zip.u16(local + 26) == name_size &&
                  zip.u16(local + 28) == 0,
              "the local header agrees: date, CRC-32, sizes, name length");
        check(zip.text(local + 30, name_size) == entry.name, "the local name");
        const std::string data = zip.text(local + 30 + name_size, entry.content.size());
        check(data == entry.content, "the stored bytes");
        check(crc32(data) == crc, "the CRC-32 of the stored bytes");
        next_local = local + 30 + name_size + data.size();
    }
    check(at == end, "the central directory holds the entries and nothing else");
    check(next_local == directory, "the central directory follows the last entry");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fs::path& folder = output_folder();
    install_fakes();
    g = State{};

    std::string_view text = bl::fuzz::as_text(data, size);
    std::string_view options = bl::fuzz::take_line(text);
    const std::int64_t seconds = bl::fuzz::leading_number(options, 0) * 5;
    const std::size_t space = options.find(' ');
    const auto policy = static_cast<bl::ExistingFilePolicy>(
        space == std::string_view::npos
            ? 0
            : static_cast<int>((bl::fuzz::leading_number(options.substr(space + 1), 0) % 3 + 3) %
                               3));
    std::vector<bl::ZipEntry> list;
    while (!text.empty()) {
        const std::string_view line = bl::fuzz::take_line(text);
        const std::size_t tab = line.find('\t');
        g.entries.push_back(Entry{
            std::string(line.substr(0, tab)),
            tab == std::string_view::npos ? std::string() : std::string(line.substr(tab + 1))});
        list.push_back(bl::ZipEntry{fs::path("/fuzz-input") / std::to_string(list.size()),
                                    g.entries.back().name});
    }
    g.read_at.assign(g.entries.size(), 0);

    bl::ZipOptions zip_options;
    zip_options.input = &g_input;
    zip_options.output = &g_output;
    zip_options.existing_files = policy;
    zip_options.modified_time = seconds * 10'000'000;
    const auto result =
        bl::create_zip_archive(list, folder, "fuzz", zip_options, bl::CancellationToken());

    if (const bl::MaybeError problem = expected_problem(g.entries)) {
        check(!result && result.error() == *problem, "the first bad entry is reported");
        check(g.trace.empty(), "nothing is created for a refused list");
        return 0;
    }
    check(result.has_value(), "a valid list is archived");
    check(result->bytes == g.archive.size(), "the reported size is the archive's");
    check(result->path == folder / "fuzz.zip" && g.target == result->path,
          "the archive takes its name");
    check(g.trace == std::vector<std::string>{"create", "sync archive", "rename", "sync folder"},
          "the archive is synced before it takes its name, and the folder after");
    check_archive(g.entries, dos_stamp(seconds));
    return 0;
}

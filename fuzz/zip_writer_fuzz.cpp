// The ZIP writer end to end: entries and a timestamp from the input go through
// create_zip_archive, whose inputs are faked from memory, into a scratch folder
// in memory (/dev/shm where there is one). The archive must equal, byte for byte,
// the one built here from the format (every header field, name, size, CRC-32
// and date) and be all the folder holds; an entry list the writer must refuse is
// refused with its first problem and leaves nothing behind.
//
// Input: line 1 holds the time in units of five seconds since 1970 and the
// existing-file policy (0 to 2); every further line is one entry: its name, a
// tab, and its content.

#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include "engine/naming_template.h"
#include "engine/zip_archive.h"
#include "fuzz/fuzz_support.h"

namespace {

namespace fs = std::filesystem;
using bl::fuzz::check;

// What the faked reads see. Plain globals, since the seams take plain function
// pointers.
std::vector<std::string> g_contents;
std::string_view g_unread;  // of the open entry; the writer reads one at a time
bl::detail::ZipInputHooks g_input = bl::detail::real_zip_input_hooks();
fs::path g_folder;

// The first problem the writer must report, from the rules for entry names.
bl::MaybeError expected_problem(const std::vector<bl::ZipEntry>& entries) {
    const auto refuse = [](std::string message) {
        return bl::make_error(bl::ErrorKind::InvalidSettings, std::move(message));
    };
    if (entries.empty()) {
        return refuse("There are no files to put in the ZIP archive.");
    }
    std::set<std::string> seen;
    for (const bl::ZipEntry& entry : entries) {
        if (entry.name.empty() || bl::sanitize_file_name(entry.name, 255) != entry.name) {
            return refuse("\"" + entry.name + "\" is not a valid name inside a ZIP archive.");
        }
        if (!seen.insert(bl::fuzz::ascii_lower(entry.name)).second) {
            return refuse("The ZIP archive would contain \"" + entry.name + "\" twice.");
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

// Appends each value as little-endian bytes, as many as given beside it.
void put(std::string& out, std::initializer_list<std::pair<std::uint64_t, int>> fields) {
    for (const auto& [value, bytes] : fields) {
        for (int i = 0; i < bytes; ++i) {
            out.push_back(static_cast<char>(value >> (8 * i) & 0xFF));
        }
    }
}

// The archive the format gives: stored entries with UTF-8 names (version 2.0),
// then the central directory and its end record, without extras or comments.
std::string expected_archive(const std::vector<bl::ZipEntry>& entries, std::int64_t time) {
    // The conversion to DOS time has tests of its own.
    const bl::DosDateTime stamp = bl::dos_date_time(time);
    std::string local;
    std::string central;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const std::string& name = entries[i].name;
        const std::string& content = g_contents[i];
        std::string shared;  // the version needed to the extra field's length
        put(shared,
            {{20, 2}, {0x0800, 2}, {0, 2}, {stamp.time, 2}, {stamp.date, 2}, {crc32(content), 4}});
        put(shared, {{content.size(), 4}, {content.size(), 4}, {name.size(), 2}, {0, 2}});
        put(central, {{0x0201'4B50u, 4}, {20, 2}});
        central += shared;
        put(central, {{0, 4}, {0, 6}, {local.size(), 4}});  // comment, disk, attributes
        central += name;
        put(local, {{0x0403'4B50u, 4}});
        local += shared + name + content;
    }
    const std::size_t count = entries.size();
    put(central, {{0x0605'4B50u, 4}, {0, 4}, {count, 2}, {count, 2}, {central.size(), 4}});
    put(central, {{local.size(), 4}, {0, 2}});
    return local + central;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_input.open = [](const fs::path& path) {
        g_unread = g_contents.at(std::stoul(path.filename().string()));
        return 1;
    };
    g_input.read = [](int, void* buffer, std::size_t size) -> long {
        const std::size_t count = std::min(size, g_unread.size());
        std::memcpy(buffer, g_unread.data(), count);
        g_unread.remove_prefix(count);
        return static_cast<long>(count);
    };
    g_input.close = [](int) {};
    static std::string name =
        (fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path()) /
        "zip_writer_fuzz.XXXXXX";
    check(::mkdtemp(name.data()) != nullptr, "a scratch folder");
    g_folder = name;
    std::atexit([] { fs::remove_all(g_folder); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text = std::string_view(reinterpret_cast<const char*>(data), size);
    long fives = 0;  // of seconds
    long policy = 0;
    std::sscanf(std::string(bl::fuzz::take_line(text)).c_str(), "%9ld %9ld", &fives, &policy);
    g_contents.clear();
    std::vector<bl::ZipEntry> entries;
    while (!text.empty()) {
        const std::string_view line = bl::fuzz::take_line(text);
        const std::size_t tab = line.find('\t');
        g_contents.emplace_back(tab == std::string_view::npos ? "" : line.substr(tab + 1));
        entries.push_back({fs::path("/fuzz-input") / std::to_string(entries.size()),
                           std::string(line.substr(0, tab))});
    }

    const bl::ZipOptions options{static_cast<bl::ExistingFilePolicy>((policy % 3 + 3) % 3),
                                 fives * 50'000'000, &g_input, nullptr};
    const auto result =
        bl::create_zip_archive(entries, g_folder, "fuzz", options, bl::CancellationToken());

    if (const bl::MaybeError problem = expected_problem(entries)) {
        check(!result && result.error() == *problem && fs::is_empty(g_folder),
              "the first bad entry is reported, and nothing is left behind");
        return 0;
    }
    const fs::path archive = g_folder / "fuzz.zip";
    check(result && result->path == archive && result->bytes == fs::file_size(archive) &&
              std::distance(fs::directory_iterator(g_folder), fs::directory_iterator()) == 1,
          "a valid list is archived, all of it, under its name and without leftovers");
    std::ifstream file(archive, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(file), {}};
    fs::remove(archive);
    check(bytes == expected_archive(entries, *options.modified_time),
          "the archive holds every entry as the format gives it");
    return 0;
}

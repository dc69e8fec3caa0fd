// The ZIP writer end to end: entries and a timestamp from the input go through
// create_zip_archive, from files in a scratch folder in memory (/dev/shm), into
// another folder there. The archive must equal, byte for byte, the one built
// here from the format (every header field, name, size, CRC-32 from zlib, and
// date) and be all the folder holds; an entry list the writer must refuse is
// refused as invalid settings and leaves nothing behind.
//
// Input: line 1 holds the time in units of five seconds since 1970; every
// further line is one entry: its name, a tab, and its content.

#include <unistd.h>
#include <zlib.h>

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

// The entries' files, and the archive in out/.
const fs::path g_folder = "/dev/shm/zip_writer_fuzz." + std::to_string(::getpid());

// Whether the writer must refuse the list, by the rules for entry names.
bool refused(const std::vector<bl::ZipEntry>& entries) {
    std::set<std::string> seen;
    return entries.empty() || std::ranges::any_of(entries, [&](const bl::ZipEntry& entry) {
               return entry.name.empty() || bl::sanitize_file_name(entry.name, 255) != entry.name ||
                      !seen.insert(bl::fuzz::ascii_lower(entry.name)).second;
           });
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
std::string expected_archive(const std::vector<bl::ZipEntry>& entries,
                             const std::vector<std::string>& contents, std::int64_t time) {
    // The conversion to DOS time has tests of its own.
    const bl::DosDateTime stamp = bl::dos_date_time(time);
    std::string local, central;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const std::string& name = entries[i].name;
        const std::string& content = contents[i];
        std::string shared;  // the version needed to the extra field's length
        const auto crc = ::crc32(0, reinterpret_cast<const Bytef*>(content.data()),
                                 static_cast<uInt>(content.size()));
        put(shared, {{20, 2}, {0x0800, 2}, {0, 2}, {stamp.time, 2}, {stamp.date, 2}, {crc, 4}});
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
    fs::create_directories(g_folder / "out");
    std::atexit([] { fs::remove_all(g_folder); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text = std::string_view(reinterpret_cast<const char*>(data), size);
    long fives = 0;  // of seconds
    std::sscanf(std::string(bl::fuzz::take_line(text)).c_str(), "%9ld", &fives);
    std::vector<std::string> contents;
    std::vector<bl::ZipEntry> entries;
    while (!text.empty()) {
        const std::string_view line = bl::fuzz::take_line(text);
        const std::size_t tab = line.find('\t');
        contents.emplace_back(tab == std::string_view::npos ? "" : line.substr(tab + 1));
        entries.push_back(
            {g_folder / std::to_string(entries.size()), std::string(line.substr(0, tab))});
        std::ofstream(entries.back().source, std::ios::binary) << contents.back();
    }

    const bl::ZipOptions options{.modified_time = fives * 50'000'000};
    const fs::path folder = g_folder / "out";
    const auto result =
        bl::create_zip_archive(entries, folder, "fuzz", options, bl::CancellationToken());

    if (refused(entries)) {
        check(!result && result.error().kind == bl::ErrorKind::InvalidSettings &&
                  fs::is_empty(folder),
              "a bad list is refused as invalid settings, and nothing is left behind");
        return 0;
    }
    const fs::path archive = folder / "fuzz.zip";
    check(result && result->path == archive && result->bytes == fs::file_size(archive) &&
              std::distance(fs::directory_iterator(folder), fs::directory_iterator()) == 1,
          "a valid list is archived, all of it, under its name and without leftovers");
    std::ifstream file(archive, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(file), {}};
    fs::remove(archive);
    check(bytes == expected_archive(entries, contents, *options.modified_time),
          "the archive holds every entry as the format gives it");
    return 0;
}

// The optional ZIP archive of a job's pages: stored entries, UTF-8 names, no
// ZIP64, written through a temporary file like every other output.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "bl/convert_types.h"
#include "bl/job.h"
#include "engine/output_file.h"

namespace bl {

namespace detail {

// How the ZIP writer reads its inputs. Tests pass in their own to fake 4 GiB
// inputs cheaply and files that change mid-archive.
struct ZipInputHooks {
    int (*open)(const std::filesystem::path& path);            // a handle, or -1 with errno set
    long (*read)(int handle, void* buffer, std::size_t size);  // 0 at the end, -1 with errno
    void (*close)(int handle);
    std::uint32_t (*crc32)(std::uint32_t crc, const void* data, std::size_t size);
};

// The real file reads and crc32_update.
const ZipInputHooks& real_zip_input_hooks();

}  // namespace detail

struct ZipEntry {
    std::filesystem::path source;
    std::string name;  // UTF-8 name inside the archive, no folders
};

struct ZipOptions {
    ExistingFilePolicy existing_files = ExistingFilePolicy::Ask;
    // 100-nanosecond units since 1970-01-01 UTC; the current time when empty.
    std::optional<std::int64_t> modified_time;
    // Test seams; the real calls when null.
    const detail::ZipInputHooks* input = nullptr;
    const detail::OutputSyscalls* output = nullptr;
};

// Gathers the pages a job wrote, and those it skipped since their files were
// there already, into `base_name` + ".zip" in `output_folder`.
Result<ZipResult> zip_job_pages(const ConvertResult& result,
                                const std::filesystem::path& output_folder,
                                const std::string& base_name, const ZipOptions& options,
                                const CancellationToken& token);

// Writes the archive; never throws.
Result<ZipResult> create_zip_archive(const std::vector<ZipEntry>& entries,
                                     const std::filesystem::path& output_folder,
                                     const std::string& base_name, const ZipOptions& options,
                                     const CancellationToken& token);

MaybeError validate_zip_entries(const std::vector<ZipEntry>& entries);

// Reads `source` to the end through `buffer`; returns its size and sets `crc`
// to its CRC-32.
Result<std::uint64_t> scan_zip_input(
    const std::filesystem::path& source, std::span<unsigned char> buffer, std::uint32_t& crc,
    const detail::ZipInputHooks& hooks = detail::real_zip_input_hooks());

// Appends `source` to `archive` through `buffer`; returns the bytes copied and
// sets `crc` to the CRC-32 of what was copied.
Result<std::uint64_t> copy_zip_input(
    const std::filesystem::path& source, std::span<unsigned char> buffer, std::uint32_t& crc,
    OutputFile& archive, const detail::ZipInputHooks& hooks = detail::real_zip_input_hooks());

// The ZIP format's CRC-32, continued from `crc` over `size` bytes.
std::uint32_t crc32_update(std::uint32_t crc, const void* data, std::size_t size);

struct DosDateTime {
    std::uint16_t time = 0;
    std::uint16_t date = 0x0021;
};

// The archive timestamp in local time; 1 January 1980 outside 1980 to 2107.
DosDateTime dos_date_time(std::int64_t unix_100ns);

}  // namespace bl

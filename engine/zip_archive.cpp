#include "engine/zip_archive.h"
#include "engine/scope_exit.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <memory>
#include <new>
#include <string_view>
#include <unordered_set>
#include <utility>

#include "engine/naming_template.h"
#include "engine/output_file.h"

namespace bl {

namespace fs = std::filesystem;

namespace {

// Sizes and offsets are 32-bit fields, and there is no ZIP64 to go beyond them.
constexpr std::uint64_t kMaxZipBytes = 4'294'967'295;
// The end record counts entries in 16 bits.
constexpr std::size_t kMaxEntries = 65'535;
constexpr std::size_t kMaxNameBytes = 255;
constexpr std::size_t kStemLimit = 200;
constexpr std::size_t kReadBufferBytes = 1'048'576;

constexpr std::size_t kLocalHeaderBytes = 30;
constexpr std::size_t kCentralHeaderBytes = 46;
constexpr std::size_t kEndRecordBytes = 22;
constexpr std::uint16_t kVersion = 20;
constexpr std::uint16_t kUtf8NameFlag = 0x0800;
constexpr std::uint16_t kStored = 0;

constexpr std::array<std::uint32_t, 256> make_crc_table() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t value = i;
        for (int bit = 0; bit < 8; ++bit) {
            value = (value & 1u) != 0 ? 0xEDB8'8320u ^ (value >> 1) : value >> 1;
        }
        table[i] = value;
    }
    return table;
}

constexpr std::array<std::uint32_t, 256> kCrcTable = make_crc_table();

int real_open(const fs::path& path) {
    // Non-blocking, so that a FIFO in place of a page file cannot stall the
    // worker; anything but a regular file is refused below anyway.
    const int handle = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (handle < 0) {
        return -1;
    }
    struct stat status {};
    int error = 0;
    if (::fstat(handle, &status) != 0) {
        error = errno;
    } else if (!S_ISREG(status.st_mode)) {
        error = EINVAL;
    }
    if (error != 0) {
        ::close(handle);
        errno = error;
        return -1;
    }
    const int flags = ::fcntl(handle, F_GETFL);
    if (flags >= 0) {
        ::fcntl(handle, F_SETFL, flags & ~O_NONBLOCK);
    }
    ::posix_fadvise(handle, 0, 0, POSIX_FADV_SEQUENTIAL);
    return handle;
}

long real_read(int handle, void* buffer, std::size_t size) {
    for (;;) {
        const long count = ::read(handle, buffer, size);
        if (count >= 0 || errno != EINTR) {
            return count;
        }
    }
}

void real_close(int handle) {
    ::close(handle);
}

constexpr detail::ZipInputHooks kRealHooks{&real_open, &real_read, &real_close, &crc32_update};

ConvertError open_failure() {
    return make_error(ErrorKind::InputUnreadable, "A file to be zipped could not be opened.");
}
ConvertError read_failure() {
    return make_error(ErrorKind::InputUnreadable, "A file to be zipped could not be read.");
}
ConvertError too_large_failure() {
    return make_error(ErrorKind::LimitExceeded,
                      "A file is larger than 4 GiB, which ZIP archives here do not support.");
}

// Reads `source` to the end, handing every chunk to `consume`; the scan and
// the copy differ only in what they do with a chunk.
template <class Consume>
Result<std::uint64_t> read_input(const fs::path& source, std::span<unsigned char> buffer,
                                 std::uint32_t& crc, const detail::ZipInputHooks& hooks,
                                 Consume&& consume) {
    crc = 0;
    const int input = hooks.open(source);
    if (input < 0) {
        return tl::unexpected(open_failure());
    }
    // Closed on every way out, through the hooks that opened it.
    const ScopeExit close([&hooks, input] { hooks.close(input); });
    std::uint64_t total = 0;
    for (;;) {
        const long count = hooks.read(input, buffer.data(), buffer.size());
        if (count < 0) {
            return tl::unexpected(read_failure());
        }
        if (count == 0) {
            return total;
        }
        const auto size = std::min(static_cast<std::size_t>(count), buffer.size());
        total += size;
        if (total > kMaxZipBytes) {
            return tl::unexpected(too_large_failure());
        }
        crc = hooks.crc32(crc, buffer.data(), size);
        if (auto error = consume(buffer.data(), size)) {
            return tl::unexpected(std::move(*error));
        }
    }
}

void put16(std::vector<unsigned char>& out, std::uint16_t value) {
    out.push_back(static_cast<unsigned char>(value & 0xFFu));
    out.push_back(static_cast<unsigned char>(value >> 8));
}

void put32(std::vector<unsigned char>& out, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<unsigned char>((value >> shift) & 0xFFu));
    }
}

void put_bytes(std::vector<unsigned char>& out, std::string_view bytes) {
    out.insert(out.end(), bytes.begin(), bytes.end());
}

// What the central directory needs of one stored entry.
struct CentralRecord {
    std::string_view name;
    std::uint32_t crc = 0;
    std::uint32_t size = 0;
    std::uint32_t offset = 0;
};

// Fields that the local header and the central directory header share, from
// "version needed" to "extra field length".
void put_common_fields(std::vector<unsigned char>& out, DosDateTime stamp,
                       const CentralRecord& record) {
    put16(out, kVersion);
    put16(out, kUtf8NameFlag);
    put16(out, kStored);
    put16(out, stamp.time);
    put16(out, stamp.date);
    put32(out, record.crc);
    put32(out, record.size);  // compressed
    put32(out, record.size);  // uncompressed
    put16(out, static_cast<std::uint16_t>(record.name.size()));
    put16(out, 0);
}

std::vector<unsigned char> local_header(DosDateTime stamp, const CentralRecord& record) {
    std::vector<unsigned char> out;
    out.reserve(kLocalHeaderBytes + record.name.size());
    put32(out, 0x0403'4B50u);
    put_common_fields(out, stamp, record);
    put_bytes(out, record.name);
    return out;
}

void put_central_header(std::vector<unsigned char>& out, DosDateTime stamp,
                        const CentralRecord& record) {
    put32(out, 0x0201'4B50u);
    put16(out, kVersion);  // made by: MS-DOS attributes
    put_common_fields(out, stamp, record);
    put16(out, 0);  // comment length
    put16(out, 0);  // disk number
    put16(out, 0);  // internal attributes
    put32(out, 0);  // external attributes
    put32(out, record.offset);
    put_bytes(out, record.name);
}

void put_end_record(std::vector<unsigned char>& out, std::uint16_t count,
                    std::uint32_t directory_size, std::uint32_t directory_offset) {
    put32(out, 0x0605'4B50u);
    put16(out, 0);  // this disk
    put16(out, 0);  // disk of the central directory
    put16(out, count);
    put16(out, count);
    put32(out, directory_size);
    put32(out, directory_offset);
    put16(out, 0);  // comment length
}

std::int64_t now_100ns() {
    using Ticks = std::chrono::duration<std::int64_t, std::ratio<1, 10'000'000>>;
    return std::chrono::duration_cast<Ticks>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// Under Ask, a name already taken (by anything, a dangling link included)
// refuses the archive before anything is written.
MaybeError check_name_is_free(const fs::path& folder, const std::string& archive_name) {
    const std::optional<bool> taken = name_is_taken(folder / to_path(archive_name));
    if (!taken) {
        return make_error(ErrorKind::InternalError,
                          "An unexpected internal error occurred while creating the ZIP archive.");
    }
    if (*taken) {
        return make_error(ErrorKind::OutputExists,
                          "\"" + archive_name + "\" already exists in the output folder.");
    }
    return std::nullopt;
}

// Under Skip an archive that is there already stays as it is.
ZipResult existing_archive(const fs::path& path) {
    std::error_code error;
    const std::uintmax_t size = fs::file_size(path, error);
    return ZipResult{path, error ? 0 : size, true};
}

// Appends one entry: its local header, then its bytes, checked against a scan
// made just before so that a file changing meanwhile cannot corrupt the archive.
Result<CentralRecord> append_entry(OutputFile& archive, const ZipEntry& entry, DosDateTime stamp,
                                   std::span<unsigned char> buffer,
                                   const detail::ZipInputHooks& hooks) {
    std::uint32_t scanned_crc = 0;
    auto scanned = scan_zip_input(entry.source, buffer, scanned_crc, hooks);
    if (!scanned) {
        return tl::unexpected(std::move(scanned.error()));
    }
    if (archive.bytes_written + kLocalHeaderBytes + entry.name.size() + *scanned > kMaxZipBytes) {
        return fail(ErrorKind::LimitExceeded,
                    "The ZIP archive would be larger than 4 GiB. Use fewer pages or a lower DPI.");
    }
    // Every value below passed the 32-bit test above.
    const CentralRecord record{entry.name, scanned_crc, static_cast<std::uint32_t>(*scanned),
                               static_cast<std::uint32_t>(archive.bytes_written)};
    const auto header = local_header(stamp, record);
    if (auto error = write_all(archive, header.data(), header.size())) {
        return tl::unexpected(std::move(*error));
    }
    std::uint32_t copied_crc = 0;
    auto copied = copy_zip_input(entry.source, buffer, copied_crc, archive, hooks);
    if (!copied) {
        return tl::unexpected(std::move(copied.error()));
    }
    if (*copied != *scanned || copied_crc != scanned_crc) {
        return fail(ErrorKind::WriteFailed,
                    "\"" + entry.name + "\" changed while the ZIP archive was being created.");
    }
    return record;
}

MaybeError append_central_directory(OutputFile& archive, DosDateTime stamp,
                                    const std::vector<CentralRecord>& records) {
    const std::uint64_t directory_offset = archive.bytes_written;
    std::vector<unsigned char> directory;
    directory.reserve(records.size() * (kCentralHeaderBytes + kMaxNameBytes) + kEndRecordBytes);
    for (const CentralRecord& record : records) {
        put_central_header(directory, stamp, record);
    }
    const std::uint64_t directory_size = directory.size();
    if (directory_offset + directory_size + kEndRecordBytes > kMaxZipBytes) {
        return make_error(ErrorKind::LimitExceeded, "The ZIP archive would be larger than 4 GiB.");
    }
    put_end_record(directory, static_cast<std::uint16_t>(records.size()),
                   static_cast<std::uint32_t>(directory_size),
                   static_cast<std::uint32_t>(directory_offset));
    return write_all(archive, directory.data(), directory.size());
}

Result<ZipResult> write_archive(const std::vector<ZipEntry>& entries, const fs::path& folder,
                                const std::string& base_name, const ZipOptions& options,
                                const CancellationToken& token) {
    if (auto error = validate_zip_entries(entries)) {
        return tl::unexpected(std::move(*error));
    }
    if (auto error = check_output_folder(folder)) {
        return tl::unexpected(std::move(*error));
    }
    const std::string stem = sanitize_file_name(base_name, kStemLimit);
    const ExistingFilePolicy policy = options.existing_files;
    if (policy == ExistingFilePolicy::Ask || policy == ExistingFilePolicy::Skip) {
        if (auto error = check_name_is_free(folder, stem + ".zip")) {
            if (error->kind == ErrorKind::OutputExists && policy == ExistingFilePolicy::Skip) {
                return existing_archive(folder / to_path(stem + ".zip"));
            }
            return tl::unexpected(std::move(*error));
        }
    }
    auto created = create_output_file(
        folder, stem, ".zip",
        options.output != nullptr ? *options.output : detail::real_output_syscalls());
    if (!created) {
        return tl::unexpected(std::move(created.error()));
    }
    OutputFile& archive = **created;
    const auto& hooks = options.input != nullptr ? *options.input : detail::real_zip_input_hooks();
    const DosDateTime stamp = dos_date_time(options.modified_time.value_or(now_100ns()));
    std::vector<unsigned char> buffer(kReadBufferBytes);
    std::vector<CentralRecord> records;
    records.reserve(entries.size());
    for (const ZipEntry& entry : entries) {
        if (token.is_cancelled()) {
            return fail(ErrorKind::Cancelled, "Creating the ZIP archive was cancelled.");
        }
        auto record = append_entry(archive, entry, stamp, buffer, hooks);
        if (!record) {
            return tl::unexpected(std::move(record.error()));
        }
        records.push_back(*record);
    }
    if (auto error = append_central_directory(archive, stamp, records)) {
        return tl::unexpected(std::move(*error));
    }
    const std::uint64_t archive_bytes = archive.bytes_written;
    auto committed = commit_output_file(archive, options.existing_files);
    if (!committed) {
        return tl::unexpected(std::move(committed.error()));
    }
    return ZipResult{std::move(*committed), archive_bytes};
}

// Exceptions end here: the desktop expects a value either way.
template <class Body>
Result<ZipResult> without_exceptions(Body&& body) {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return fail(ErrorKind::OutOfMemory, "Not enough memory to create the ZIP archive.");
    } catch (...) {
        return fail(ErrorKind::InternalError,
                    "An unexpected internal error occurred while creating the ZIP archive.");
    }
}

}  // namespace

namespace detail {

const ZipInputHooks& real_zip_input_hooks() {
    return kRealHooks;
}

}  // namespace detail

std::uint32_t crc32_update(std::uint32_t crc, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    crc = ~crc;
    for (std::size_t i = 0; i < size; ++i) {
        crc = kCrcTable[(crc ^ bytes[i]) & 0xFFu] ^ (crc >> 8);
    }
    return ~crc;
}

DosDateTime dos_date_time(std::int64_t unix_100ns) {
    constexpr std::int64_t kTicksPerSecond = 10'000'000;
    // Truncating is exact for every instant from 1980 on; earlier ones give
    // the fallback date either way.
    const auto when = static_cast<std::time_t>(unix_100ns / kTicksPerSecond);
    std::tm local{};
    if (::localtime_r(&when, &local) == nullptr) {
        return DosDateTime{};
    }
    const int year = local.tm_year + 1900;
    if (year < 1980 || year > 2107) {
        return DosDateTime{};
    }
    DosDateTime result;
    result.time =
        static_cast<std::uint16_t>(local.tm_hour * 2048 + local.tm_min * 32 + local.tm_sec / 2);
    result.date =
        static_cast<std::uint16_t>((year - 1980) * 512 + (local.tm_mon + 1) * 32 + local.tm_mday);
    return result;
}

MaybeError validate_zip_entries(const std::vector<ZipEntry>& entries) {
    if (entries.empty()) {
        return make_error(ErrorKind::InvalidSettings,
                          "There are no files to put in the ZIP archive.");
    }
    if (entries.size() > kMaxEntries) {
        return make_error(ErrorKind::LimitExceeded, "A ZIP archive can hold at most 65,535 files.");
    }
    std::unordered_set<std::string> seen;
    seen.reserve(entries.size());
    for (const ZipEntry& entry : entries) {
        if (entry.name.empty() || sanitize_file_name(entry.name, kMaxNameBytes) != entry.name) {
            return make_error(ErrorKind::InvalidSettings,
                              "\"" + entry.name + "\" is not a valid name inside a ZIP archive.");
        }
        std::string folded = entry.name;
        for (char& c : folded) {
            if (c >= 'A' && c <= 'Z') {
                c = static_cast<char>(c - 'A' + 'a');
            }
        }
        if (!seen.insert(std::move(folded)).second) {
            return make_error(ErrorKind::InvalidSettings,
                              "The ZIP archive would contain \"" + entry.name + "\" twice.");
        }
    }
    return std::nullopt;
}

Result<std::uint64_t> scan_zip_input(const fs::path& source, std::span<unsigned char> buffer,
                                     std::uint32_t& crc, const detail::ZipInputHooks& hooks) {
    return read_input(source, buffer, crc, hooks,
                      [](const unsigned char*, std::size_t) -> MaybeError { return std::nullopt; });
}

Result<std::uint64_t> copy_zip_input(const fs::path& source, std::span<unsigned char> buffer,
                                     std::uint32_t& crc, OutputFile& archive,
                                     const detail::ZipInputHooks& hooks) {
    return read_input(source, buffer, crc, hooks,
                      [&archive](const unsigned char* data, std::size_t size) {
                          return write_all(archive, data, size);
                      });
}

Result<ZipResult> create_zip_archive(const std::vector<ZipEntry>& entries,
                                     const fs::path& output_folder, const std::string& base_name,
                                     const ZipOptions& options, const CancellationToken& token) {
    return without_exceptions(
        [&] { return write_archive(entries, output_folder, base_name, options, token); });
}

Result<ZipResult> zip_job_pages(const ConvertResult& result, const fs::path& output_folder,
                                const std::string& base_name, const ZipOptions& options,
                                const CancellationToken& token) {
    return without_exceptions([&]() -> Result<ZipResult> {
        std::vector<ZipEntry> entries;
        for (const PageResult& page : result.page_results) {
            if (page.error || page.output_path.empty()) {
                continue;
            }
            entries.push_back(ZipEntry{page.output_path, to_utf8(page.output_path.filename())});
        }
        return create_zip_archive(entries, output_folder, base_name, options, token);
    });
}

}  // namespace bl

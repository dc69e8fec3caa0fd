#include "engine/input_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>

namespace bl {

namespace {

// The access record's length field is 32 bits wide on the platforms the format
// was designed for; files beyond that are refused everywhere alike.
constexpr std::uint64_t kLargestAccessibleFile = 4'294'967'295;
constexpr std::uint64_t kHeaderWindow = 1024;
constexpr std::uint64_t kLargestSingleRead = 1'073'741'824;

ConvertError open_failure(int error_number) {
    if (error_number == ENOENT || error_number == ENOTDIR) {
        return make_error(ErrorKind::InputNotFound, "The input file does not exist.");
    }
    return make_error(ErrorKind::InputUnreadable,
                      "The input file could not be opened (it may be locked or access is "
                      "denied).");
}

}  // namespace

Result<std::unique_ptr<InputFile>> open_input_file(const std::filesystem::path& path,
                                                   std::uint64_t max_bytes) {
    auto file = std::make_unique<InputFile>();
    // Non-blocking, so that a FIFO at the path cannot stall the worker; it is then
    // refused as not a regular file.
    file->fd.reset(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!file->fd) {
        return tl::unexpected(open_failure(errno));
    }

    struct stat status {};
    if (::fstat(file->fd.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
        return fail(ErrorKind::InputUnreadable, "The input path is not a regular file.");
    }

    const int flags = ::fcntl(file->fd.get(), F_GETFL);
    if (flags < 0 || ::fcntl(file->fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
        return tl::unexpected(open_failure(errno));
    }
    ::posix_fadvise(file->fd.get(), 0, 0, POSIX_FADV_RANDOM);
    // Readers may share the file; a program holding a write lock on it keeps us out.
    struct flock lock {};
    lock.l_type = F_RDLCK;
    lock.l_whence = SEEK_SET;
    if (::fcntl(file->fd.get(), F_OFD_SETLK, &lock) != 0) {
        return tl::unexpected(open_failure(errno));
    }

    file->size = static_cast<std::uint64_t>(status.st_size);
    if (file->size == 0) {
        return fail(ErrorKind::NotAPdf, "The file is empty.");
    }
    const std::uint64_t limit = std::min(max_bytes, kLargestAccessibleFile);
    if (file->size > limit) {
        return fail(ErrorKind::LimitExceeded, "The file is " + format_size(file->size) +
                                                  "; the maximum allowed is " + format_size(limit) +
                                                  ".");
    }

    char window[kHeaderWindow];
    const std::uint64_t window_size = std::min(file->size, kHeaderWindow);
    if (!read_at(*file, 0, window, window_size)) {
        return fail(ErrorKind::InputUnreadable, "The input file could not be read.");
    }
    // Junk before the header is tolerated as long as the marker lies in the window.
    const std::string_view header(window, window_size);
    if (header.find("%PDF-") == std::string_view::npos) {
        return fail(ErrorKind::NotAPdf, "The file is not a PDF document (no PDF header found).");
    }

    return file;
}

bool read_at(const InputFile& file, std::uint64_t offset, void* buffer, std::uint64_t count) {
    auto* out = static_cast<unsigned char*>(buffer);
    while (count > 0) {
        const std::uint64_t chunk = std::min(count, kLargestSingleRead);
        const ssize_t got =
            ::pread(file.fd.get(), out, static_cast<size_t>(chunk), static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return false;
        }
        const auto done = static_cast<std::uint64_t>(got);
        out += done;
        offset += done;
        count -= done;
    }
    return true;
}

std::string format_size(std::uint64_t bytes) {
    if (bytes < 1'048'576) {
        return std::to_string(bytes) + " bytes";
    }
    if (bytes < 1'073'741'824) {
        return std::to_string(bytes >> 20) + " MiB";
    }
    return std::to_string(bytes >> 30) + " GiB";
}

}  // namespace bl

#include "engine/output_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <random>
#include <stdexcept>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "bl/utf8.h"

namespace bl {

namespace fs = std::filesystem;

namespace {

// Linux moves at most about 2 GiB per write; a 1 GiB step stays well inside it.
constexpr std::uint64_t kMaxWriteChunk = 1'073'741'824;
// Numbered names go up to "stem (9999)".
constexpr int kMaxCandidates = 9999;

int real_open(const char* path, int flags, unsigned mode) {
    return ::open(path, flags, static_cast<mode_t>(mode));
}
long real_write(int fd, const void* data, unsigned long size) {
    return ::write(fd, data, size);
}
int real_close(int fd) {
    return ::close(fd);
}
int real_renameat2(int olddirfd, const char* oldpath, int newdirfd, const char* newpath,
                   unsigned flags) {
    return ::renameat2(olddirfd, oldpath, newdirfd, newpath, flags);
}
int real_rename(const char* oldpath, const char* newpath) {
    return ::rename(oldpath, newpath);
}
int real_link(const char* oldpath, const char* newpath) {
    return ::link(oldpath, newpath);
}
int real_unlink(const char* path) {
    return ::unlink(path);
}
// Only the benchmark's comparison build turns the sync off, to measure what it costs.
#ifndef BL_DURABLE_WRITES
#define BL_DURABLE_WRITES 1
#endif
int real_fsync(int fd) {
    return BL_DURABLE_WRITES ? ::fsync(fd) : 0;
}

constexpr detail::OutputSyscalls kRealSyscalls{&real_open,      &real_write,  &real_close,
                                               &real_renameat2, &real_rename, &real_link,
                                               &real_unlink,    &real_fsync};

std::mt19937_64& name_generator() {
    thread_local std::mt19937_64 generator{std::random_device{}()};
    return generator;
}

std::string random_digits() {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::uint64_t value = name_generator()() & 0xFFFF'FFFF'FFFFULL;
    std::string digits(12, '0');
    for (char& digit : digits) {
        digit = kDigits[value & 0xF];
        value >>= 4;
    }
    return digits;
}

// Names come from the naming rules, which never produce separators; a name
// that has one anyway must not reach outside the output folder.
bool is_plain_name(std::string_view name) {
    return name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

// Moves the finished file to `target`; returns 0 or the errno of the failure,
// EEXIST meaning the name is taken.
int move_into_place(const detail::OutputSyscalls& calls, const fs::path& from, const fs::path& to,
                    ExistingFilePolicy policy, bool& use_link) {
    if (policy == ExistingFilePolicy::Replace) {
        return calls.rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
    }
    if (!use_link) {
        if (calls.renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
            return 0;
        }
        const int error = errno;
        if (error != EINVAL && error != ENOSYS) {
            return error;
        }
        // This file system has no exclusive rename; a hard link is just as
        // exclusive, because it fails on any existing name.
        use_link = true;
    }
    if (calls.link(from.c_str(), to.c_str()) != 0) {
        return errno;
    }
    if (calls.unlink(from.c_str()) != 0) {
        const int error = errno;
        // The link made `to` moments ago, so it is ours to take back; otherwise a
        // failed commit would leave a final file behind.
        calls.unlink(to.c_str());
        return error;
    }
    return 0;
}

// Makes the last rename in `folder` durable; 0 or the errno of the failure.
int sync_folder(const detail::OutputSyscalls& calls, const fs::path& folder) {
    const UniqueFd handle(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!handle) {
        // A folder that may be written but not read, such as a drop box, cannot
        // be opened to sync it; the file's own data is on the disk already.
        return errno == EACCES ? 0 : errno;
    }
    const int result = calls.fsync(handle.get());
    const int error = errno;
    // EINVAL: this file system cannot sync a folder, so there is nothing more to do.
    return result == 0 || error == EINVAL ? 0 : error;
}

}  // namespace

namespace detail {

const OutputSyscalls& real_output_syscalls() {
    return kRealSyscalls;
}

}  // namespace detail

MaybeError check_output_folder(const fs::path& folder) {
    if (folder.empty()) {
        return make_error(ErrorKind::OutputFolderUnavailable, "No output folder was chosen.");
    }
    struct stat status {};
    if (::stat(folder.c_str(), &status) != 0) {
        return make_error(ErrorKind::OutputFolderUnavailable, "The output folder does not exist.");
    }
    if (!S_ISDIR(status.st_mode)) {
        return make_error(ErrorKind::OutputFolderUnavailable, "The output path is not a folder.");
    }
    return std::nullopt;
}

OutputFile::~OutputFile() {
    if (fd) {
        calls->close(fd.release());
    }
    if (!committed && !temp_path.empty()) {
        calls->unlink(temp_path.c_str());
    }
}

Result<std::unique_ptr<OutputFile>> create_output_file(const fs::path& folder,
                                                       std::string_view stem,
                                                       std::string_view extension,
                                                       const detail::OutputSyscalls& calls) {
    if (!is_plain_name(stem) || !is_plain_name(extension)) {
        return fail(ErrorKind::InternalError, "The output file name is not a plain file name.");
    }
    const std::string temp_name = "." + std::string(stem) + "." + random_digits() + ".partial";
    auto file = std::make_unique<OutputFile>();
    file->calls = &calls;
    file->folder = folder;
    file->stem = std::string(stem);
    file->extension = std::string(extension);
    const fs::path temp_path = folder / to_path(temp_name);

    const int handle = calls.open(temp_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (handle < 0) {
        // temp_path stays unset, so the destructor cannot remove a file that
        // was there before.
        return tl::unexpected(output_error(errno, "create"));
    }
    file->temp_path = temp_path;
    file->fd.reset(handle);
    return file;
}

MaybeError write_all(OutputFile& file, const void* data, std::uint64_t size) {
    const auto& calls = *file.calls;
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
        const auto chunk = static_cast<unsigned long>(std::min(size, kMaxWriteChunk));
        errno = 0;
        const long written = calls.write(file.fd.get(), bytes, chunk);
        if (written < 0) {
            const int error = errno;
            if (error == EINTR) {
                continue;
            }
            return output_error(error == 0 ? EIO : error, "write");
        }
        if (written == 0) {
            // No progress and no reason: retrying could spin for ever.
            return output_error(EIO, "write");
        }
        const auto count = std::min(static_cast<std::uint64_t>(written), size);
        file.bytes_written += count;
        bytes += count;
        size -= count;
    }
    return std::nullopt;
}

MaybeError sync_output_file(OutputFile& file) {
    if (file.synced) {
        return std::nullopt;
    }
    if (!file.fd) {
        return make_error(ErrorKind::InternalError, "The output file was not written completely.");
    }
    // A failed sync or close may have lost data, so the file cannot be trusted;
    // the descriptor is gone either way.
    const auto& calls = *file.calls;
    const int handle = file.fd.release();
    if (calls.fsync(handle) != 0) {
        const int error = errno;
        calls.close(handle);
        return output_error(error, "write");
    }
    if (calls.close(handle) != 0) {
        return output_error(errno, "write");
    }
    file.synced = true;
    return std::nullopt;
}

Result<fs::path> commit_output_file(OutputFile& file, ExistingFilePolicy policy) {
    if (file.committed) {
        return fail(ErrorKind::InternalError, "The output file was saved already.");
    }
    // Renaming a file whose data is not on the disk yet could leave an empty
    // file under the final name after a power loss.
    if (auto error = sync_output_file(file)) {
        return tl::unexpected(std::move(*error));
    }
    bool use_link = false;
    for (int number = 1; number <= kMaxCandidates; ++number) {
        std::string name = file.stem;
        if (number > 1) {
            name += " (" + std::to_string(number) + ")";
        }
        name += file.extension;
        const fs::path target = file.folder / to_path(name);
        const int error = move_into_place(*file.calls, file.temp_path, target, policy, use_link);
        if (error == 0) {
            if (const int sync_error = sync_folder(*file.calls, file.folder); sync_error != 0) {
                // The name may not survive a power loss, so the file is not
                // reported as saved; it was put there a moment ago and is ours
                // to take back.
                file.calls->unlink(target.c_str());
                file.temp_path.clear();
                return tl::unexpected(output_error(sync_error, "save"));
            }
            file.committed = true;
            return target;
        }
        if (policy == ExistingFilePolicy::Replace || error != EEXIST) {
            return tl::unexpected(output_error(error, "save"));
        }
        if (policy != ExistingFilePolicy::KeepBoth) {
            return fail(ErrorKind::OutputExists,
                        "\"" + name + "\" already exists in the output folder.");
        }
    }
    return fail(ErrorKind::OutputExists, "Too many existing files named \"" + file.stem + "\".");
}

Result<std::unique_ptr<OutputFile>> prepare_page_file(const fs::path& folder, std::string_view name,
                                                      std::string_view extension,
                                                      const std::vector<std::uint8_t>& bytes,
                                                      const detail::OutputSyscalls& calls) {
    auto file = create_output_file(folder, name, extension, calls);
    if (!file) {
        return tl::unexpected(std::move(file.error()));
    }
    if (auto error = write_all(**file, bytes.data(), bytes.size())) {
        return tl::unexpected(std::move(*error));
    }
    if (auto error = sync_output_file(**file)) {
        return tl::unexpected(std::move(*error));
    }
    return file;
}

Result<fs::path> write_page_file(const fs::path& folder, std::string_view name,
                                 const std::vector<std::uint8_t>& jpeg, ExistingFilePolicy policy,
                                 const detail::OutputSyscalls& calls) {
    auto file = prepare_page_file(folder, name, ".jpg", jpeg, calls);
    if (!file) {
        return tl::unexpected(std::move(file.error()));
    }
    return commit_output_file(**file, policy);
}

std::optional<bool> name_is_taken(const fs::path& path) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) == 0) {
        return true;
    }
    if (errno == ENOENT || errno == ENOTDIR) {
        return false;
    }
    return std::nullopt;
}

ConvertError output_error(int error_number, std::string_view verb) {
    switch (error_number) {
        case ENOENT:
        case ENOTDIR:
            return make_error(ErrorKind::OutputFolderUnavailable,
                              "The output folder no longer exists.");
        case EACCES:
        case EPERM:
        case EROFS:
        case ETXTBSY:
            return make_error(ErrorKind::PermissionDenied,
                              "Permission denied while writing to the output folder.");
        case ENOSPC:
        case EDQUOT:
            return make_error(ErrorKind::DiskFull, "The output drive is full.");
        default:
            return make_error(ErrorKind::WriteFailed,
                              "Could not " + std::string(verb) + " the output file (system error " +
                                  std::to_string(static_cast<std::uint32_t>(error_number)) + ").");
    }
}

fs::path to_path(std::string_view utf8) {
    if (!utf8::is_valid(utf8)) {
        throw std::invalid_argument("name is not valid UTF-8");
    }
    // Native path text here is bytes, and UTF-8 is what the file names use.
    return fs::path(std::string(utf8));
}

std::string to_utf8(const fs::path& path) {
    return path.native();
}

}  // namespace bl

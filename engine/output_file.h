// Output files: every file is written under a temporary name in the output
// folder and moved to its final name in one step, under the existing-file policy.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bl/convert_types.h"
#include "bl/unique_fd.h"

namespace bl {

namespace detail {

// The system calls the output writer uses. Tests replace them to produce error
// conditions a test machine cannot make for real (a full disk, say), and pass
// them in where a file is created.
struct OutputSyscalls {
    int (*open)(const char* path, int flags, unsigned mode);
    long (*write)(int fd, const void* data, unsigned long size);
    int (*close)(int fd);
    int (*renameat2)(int olddirfd, const char* oldpath, int newdirfd, const char* newpath,
                     unsigned flags);
    int (*rename)(const char* oldpath, const char* newpath);
    int (*link)(const char* oldpath, const char* newpath);
    int (*unlink)(const char* path);
    int (*fsync)(int fd);  // of the files and of their folder
};

// The real calls.
const OutputSyscalls& real_output_syscalls();

}  // namespace detail

// The output folder must exist and be a folder; writability shows at the first
// file.
MaybeError check_output_folder(const std::filesystem::path& folder);

// One file being written. Destroying it before the commit closes it and deletes
// the temporary file.
struct OutputFile {
    std::filesystem::path folder;
    std::filesystem::path temp_path;
    std::string stem;       // final name without extension
    std::string extension;  // with its dot: ".jpg", ".zip"
    std::uint64_t bytes_written = 0;
    bool committed = false;
    UniqueFd fd;
    bool synced = false;  // the data is on the disk and the descriptor closed
    const detail::OutputSyscalls* calls = &detail::real_output_syscalls();

    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();
};

// Creates "." + stem + "." + 12 hex digits + ".partial" in `folder`; never opens
// or truncates an existing file.
Result<std::unique_ptr<OutputFile>> create_output_file(
    const std::filesystem::path& folder, std::string_view stem, std::string_view extension,
    const detail::OutputSyscalls& calls = detail::real_output_syscalls());

// Appends all of `data` to the file.
MaybeError write_all(OutputFile& file, const void* data, std::uint64_t size);

// Flushes the file's data to the disk and closes it. The slow half of saving a
// file: it may run on the thread that wrote the data, apart from the commit.
MaybeError sync_output_file(OutputFile& file);

// Syncs the file if that has not been done, gives it its final name under
// `policy` and syncs the folder, so that the name survives a power loss too;
// returns the final path. A file whose folder cannot be synced is taken back.
// Under Ask and Skip a taken name fails with OutputExists.
Result<std::filesystem::path> commit_output_file(OutputFile& file, ExistingFilePolicy policy);

// Everything of write_page_file but the commit: the temporary file for `name`
// + `extension`, written and synced.
Result<std::unique_ptr<OutputFile>> prepare_page_file(
    const std::filesystem::path& folder, std::string_view name, std::string_view extension,
    const std::vector<std::uint8_t>& bytes,
    const detail::OutputSyscalls& calls = detail::real_output_syscalls());

// Writes one page's JPEG bytes as `name` + ".jpg"; nothing partial remains on
// failure.
Result<std::filesystem::path> write_page_file(
    const std::filesystem::path& folder, std::string_view name,
    const std::vector<std::uint8_t>& jpeg, ExistingFilePolicy policy,
    const detail::OutputSyscalls& calls = detail::real_output_syscalls());

// The user's message for a system error number; verb is "create", "write" or
// "save".
ConvertError output_error(int error_number, std::string_view verb);

// Whether anything at all has `path` as its name (a file, a folder, a link,
// even a dangling one); nothing when the query itself failed.
std::optional<bool> name_is_taken(const std::filesystem::path& path);

// A UTF-8 name as a path. Throws std::invalid_argument on invalid UTF-8.
std::filesystem::path to_path(std::string_view utf8);
// A path's text as UTF-8. File names here are bytes, normally UTF-8; bytes that
// are not valid UTF-8 are passed through for the naming rules to clean.
std::string to_utf8(const std::filesystem::path& path);

}  // namespace bl

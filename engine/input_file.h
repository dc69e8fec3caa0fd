// The input file: from a path to an opened, checked PDF file, or to one error
// whose message the user reads unchanged. The engine checks and opens it; the
// render helper reads it through the descriptor it is handed.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "bl/convert_types.h"
#include "bl/unique_fd.h"

namespace bl {

// One opened input file, read with pread only, so that it may be shared.
struct InputFile {
    UniqueFd fd;
    std::uint64_t size = 0;
};

// Checks that `path` is a non-empty regular file of at most `max_bytes` (and at
// most 4 GiB - 1) with "%PDF-" in its first 1024 bytes, and opens it for reading.
Result<std::unique_ptr<InputFile>> open_input_file(const std::filesystem::path& path,
                                                   std::uint64_t max_bytes);

// Reads exactly `count` bytes at `offset`.
bool read_at(const InputFile& file, std::uint64_t offset, void* buffer, std::uint64_t count);

// "1048575 bytes", "1 MiB", "3 GiB": whole units, truncated.
std::string format_size(std::uint64_t bytes);

}  // namespace bl

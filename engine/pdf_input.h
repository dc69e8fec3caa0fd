// Input checks: from a path to an opened, checked input file, or to one error
// whose message the user reads unchanged. Also the rules applied to what the
// render helper reports of a document, so that both sides word them alike.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "bl/convert_types.h"
#include "bl/unique_fd.h"
#include "engine/render_protocol.h"

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

// Sets every byte to zero, then empties the string and releases its storage.
void secure_clear(std::string& text);

// The error of a document that did not load.
ConvertError load_error(protocol::LoadStatus status, bool had_password);

// The document's facts from a helper's report, or why it cannot be converted.
Result<DocumentInfo> document_info(protocol::Opened opened, std::uint64_t file_size,
                                   bool had_password, const ConvertLimits& limits);

}  // namespace bl

// Shared memory between the engine and its render helpers: sealed memory files
// and their mappings, each with one owner.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

#include "bl/unique_fd.h"

namespace bl {

// A mapping of a descriptor's memory, unmapped when the owner goes.
class MemoryMap {
  public:
    MemoryMap() = default;
    // Maps `size` bytes of `fd` shared, for reading or also for writing; an
    // empty map when that fails. `populate` sets up every page at once, which
    // costs far less than a fault for each page at its first touch.
    MemoryMap(int fd, std::size_t size, bool writable, bool populate = false);
    MemoryMap(const MemoryMap&) = delete;
    MemoryMap& operator=(const MemoryMap&) = delete;
    MemoryMap(MemoryMap&& other) noexcept
        : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}
    MemoryMap& operator=(MemoryMap&& other) noexcept;
    ~MemoryMap() { reset(); }

    explicit operator bool() const { return data_ != nullptr; }
    std::uint8_t* data() const { return data_; }
    std::size_t size() const { return size_; }
    void reset();

  private:
    std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

// A memory file of `size` bytes whose size is sealed, so that the other side
// cannot shrink it under a mapping; an empty descriptor when that fails. With
// `allocate`, its memory is taken at once rather than page by page.
UniqueFd sealed_memory_file(const char* name, std::size_t size, bool allocate = false);

}  // namespace bl

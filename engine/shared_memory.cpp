#include "engine/shared_memory.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace bl {

MemoryMap::MemoryMap(int fd, std::size_t size, bool writable, bool populate) {
    const int protection = writable ? PROT_READ | PROT_WRITE : PROT_READ;
    const int flags = MAP_SHARED | (populate ? MAP_POPULATE : 0);
    void* data = size == 0 ? MAP_FAILED : ::mmap(nullptr, size, protection, flags, fd, 0);
    if (data != MAP_FAILED) {
        data_ = static_cast<std::uint8_t*>(data);
        size_ = size;
    }
}

MemoryMap& MemoryMap::operator=(MemoryMap&& other) noexcept {
    if (this != &other) {
        reset();
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

void MemoryMap::reset() {
    if (data_ != nullptr) {
        ::munmap(data_, size_);
    }
    data_ = nullptr;
    size_ = 0;
}

UniqueFd sealed_memory_file(const char* name, std::size_t size, bool allocate) {
    UniqueFd fd(::memfd_create(name, MFD_CLOEXEC | MFD_ALLOW_SEALING));
    if (!fd || ::ftruncate(fd.get(), static_cast<off_t>(size)) != 0 ||
        (allocate && ::fallocate(fd.get(), 0, 0, static_cast<off_t>(size)) != 0) ||
        ::fcntl(fd.get(), F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL) != 0) {
        return UniqueFd();
    }
    return fd;
}

}  // namespace bl

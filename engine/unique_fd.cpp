#include "bl/unique_fd.h"

#include <unistd.h>

namespace bl {

void UniqueFd::reset(int fd) {
    if (fd_ >= 0 && fd_ != fd) {
        ::close(fd_);
    }
    fd_ = fd;
}

}  // namespace bl

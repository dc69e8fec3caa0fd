// The errors that several parts of the engine report, each worded in one place.
#pragma once

#include <cstdint>

#include "bl/convert_types.h"

namespace bl {

ConvertError cancelled_error(std::uint32_t page = 0);
// The job's own limit, as opposed to a page's.
ConvertError job_timeout_error();
ConvertError damaged_error();
ConvertError internal_error();
ConvertError render_failed_error(std::uint32_t page);
ConvertError render_out_of_memory_error(std::uint32_t page);
ConvertError open_out_of_memory_error();
ConvertError job_out_of_memory_error();

}  // namespace bl

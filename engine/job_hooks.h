// The points where tests steer a whole job: the driver's hooks and the calls
// the output files and the ZIP archive are written and read with.
#pragma once

#include "engine/converter.h"
#include "engine/zip_archive.h"

namespace bl::detail {

struct JobHooks {
    DriverHooks driver;
    const ZipInputHooks* zip_input = nullptr;  // the real reads when null
};

}  // namespace bl::detail

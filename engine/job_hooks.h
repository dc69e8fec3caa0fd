// The points where tests steer a whole job: the driver's hooks and the calls
// the output files and the ZIP archive are written and read with.
#pragma once

#include "bl/job.h"
#include "engine/converter.h"
#include "engine/zip_archive.h"

namespace bl::detail {

struct JobHooks {
    DriverHooks driver;
    const ZipInputHooks* zip_input = nullptr;  // the real reads when null
};

// run_job with the seams given.
JobResult run_job(JobRequest request, const ProgressCallback& progress,
                  const CancellationToken& token, const JobHooks& hooks);

}  // namespace bl::detail

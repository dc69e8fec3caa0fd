// The way of a job's pages, once they are planned: each is rendered on a free
// helper, encoded and saved under a temporary name on the encode threads, and
// committed in selection order. What the caller sees (progress, outcomes, the
// rules that stop a job) is decided at the commit alone, as if the pages went
// one by one, so it does not depend on how many helpers run. A page whose file
// is there already under Skip is never dispatched; the commit records it in its
// turn.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bl/convert_types.h"
#include "bl/live_checks.h"
#include "engine/converter.h"
#include "engine/output_file.h"
#include "engine/render_pool.h"

namespace bl {

// Everything the pages' way needs; all of it outlives the run.
struct PipelineSetup {
    const ConvertRequest& request;
    const std::vector<PlannedPage>& pages;
    RenderPool& pool;
    std::size_t helpers = 1;
    std::int32_t pixel_bytes = 3;
    Deadline job_deadline = kNoDeadline;
    const ProgressCallback& progress;
    const CancellationToken& token;
    const detail::DriverHooks& hooks;
    const detail::OutputSyscalls& output;
};

// Sends Started, then converts every planned page into `result`, until the
// pages are done or a stop rule ends the job.
void run_pages(const PipelineSetup& setup, ConvertResult& result);

}  // namespace bl

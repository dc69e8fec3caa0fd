// The conversion driver: one PDF in, one JPEG per selected page out.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "bl/convert_types.h"
#include "bl/pixel_size.h"
#include "engine/output_file.h"

namespace bl {

struct PlannedPage {
    std::uint32_t number = 0;
    PixelSize size;
    std::string name;  // file name without extension
    // Its file is there already and stays (ExistingFilePolicy::Skip): the page
    // is not rendered, only recorded in its turn.
    bool skip = false;
};

namespace detail {

// Points where tests can observe or steer a job's threads, since timing cannot be
// relied on. All empty in normal use.
struct DriverHooks {
    // On the driver's thread, just before a page's rendering starts.
    std::function<void(std::uint32_t page)> before_render;
    // On whichever thread encodes the page, just before its encoding starts.
    std::function<void(std::uint32_t page)> before_encode;
    // Asked before an encode is started beside the next render; false simulates a
    // system that cannot start another thread.
    std::function<bool()> may_start_thread;
    // Given a page's rendering deadline, returns the one to use, so that a test can
    // make a page run out of time without depending on how fast it renders.
    std::function<Deadline(std::uint32_t page, Deadline deadline)> page_deadline;
    // On the driver's thread, once the page has been handed to the helper with
    // this process id.
    std::function<void(std::uint32_t page, int helper_pid)> render_started;
    // When above 0, the number of helpers every job uses, whatever its request
    // says: steering pages by these hooks is simplest with one helper.
    int render_helpers = 0;
    // The system calls that write the page files; the real ones when null.
    const OutputSyscalls* output = nullptr;
};

}  // namespace detail

// Converts one PDF. Never throws; every outcome is in the result. Progress
// events arrive on the calling thread. Tests steer the job through `hooks`.
ConvertResult convert(ConvertRequest request, const ProgressCallback& progress,
                      const CancellationToken& token, const detail::DriverHooks& hooks = {});

// Every selected page's pixel size and file name, before anything is rendered;
// the first page that cannot be converted, or two pages with one name, fail
// the whole job.
Result<std::vector<PlannedPage>> plan_pages(const ConvertRequest& request, const DocumentInfo& info,
                                            const std::vector<std::int32_t>& selection);

// Under Ask a taken name fails the job before any page; under Skip its page is
// marked to be left out. The other policies settle names at the commit.
MaybeError check_taken_names(const ConvertRequest& request, std::vector<PlannedPage>& pages);

// The checks of a request's image options and limits, in their order.
MaybeError check_image_options(const ImageOptions& image, const ConvertLimits& limits);

// The time opening a document may take: the page limit, or two minutes
// without one. A job's own limit applies too.
Deadline open_deadline(const ConvertLimits& limits, Clock::time_point now);

}  // namespace bl

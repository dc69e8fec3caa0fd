// One queued file's whole work, as both front ends run it: the conversion, then
// the optional ZIP archive of the pages it wrote.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "bl/convert_types.h"
#include "bl/pixel_size.h"
#include "bl/preview.h"

namespace bl {

struct JobRequest {
    ConvertRequest convert;
    // Gather the written pages into "<input name>.zip" in the output folder. The
    // archive follows the pages' existing-file policy, except that Ask becomes
    // KeepBoth: once the pages are written nobody is left to ask, and a numbered
    // name never loses a file. Under Skip the pages whose files were there
    // already are gathered too; an archive that is there already is left as it
    // is, unless this run wrote pages, which a new archive with a number then
    // holds beside it.
    bool want_zip = false;
};

struct ZipResult {
    std::filesystem::path path;
    std::uint64_t bytes = 0;
    // Under Skip: the archive was there already and is left as it is.
    bool existing = false;
};

struct ZipOutcome {
    bool attempted = false;  // pages were written or skipped, and no cancel came
    std::optional<ZipResult> archive;
    std::optional<ConvertError> error;
};

struct JobResult {
    ConvertResult convert;
    ZipOutcome zip;
};

// The up-front checks of a request; nothing is opened or written.
MaybeError validate_request(const ConvertRequest& request);

// Converts, then makes the ZIP archive if it is wanted and any page was
// written or skipped. Never throws; progress arrives on the calling thread.
JobResult run_job(JobRequest request, const ProgressCallback& progress,
                  const CancellationToken& token);

struct PlannedFile {
    std::uint32_t page = 0;
    std::string file_name;  // with its extension; the policy may still number it
    PixelSize size;
};

// What run_job would write, found without writing anything.
struct JobPlan {
    DocumentInfo document;
    std::vector<PlannedFile> files;  // in selection order, but for those skipped
    std::uint32_t skipped = 0;       // pages whose file is there already, under Skip
    OutputEstimate estimate;         // of the files to be written
};

// Pages converted in memory for an estimate: enough to see a manual's kinds of
// page, few enough to take a moment.
inline constexpr std::uint32_t kEstimateSamples = 16;

// A run without its writing: the request's checks, the open, the selection,
// each page's file name and pixel size and, under Ask and Skip, the check for
// taken names; then an estimate of the output from `samples` pages converted in
// memory. Fails as run_job would before its first page, except that a missing
// output folder counts as an empty one, as a front end may make it first.
// Never throws.
Result<JobPlan> plan_job(const ConvertRequest& request, const CancellationToken& token = {},
                         std::uint32_t samples = kEstimateSamples);

// Whether an error's message already names its page ("Page 3: ..."), as the
// pre-flight's do; a page's other messages need the page put in front.
bool message_names_page(const ConvertError& error);

// The user's text of an error: "Page N: " and the message for a page's error,
// unless the message names the page already.
std::string error_text(const ConvertError& error);

}  // namespace bl

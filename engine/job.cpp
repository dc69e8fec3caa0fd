#include "bl/job.h"

#include <new>

#include "engine/converter.h"
#include "engine/job_hooks.h"
#include "engine/pdf_input.h"
#include "engine/zip_archive.h"

namespace bl {

JobResult run_job(JobRequest request, const ProgressCallback& progress,
                  const CancellationToken& token, const detail::JobHooks* hooks) {
    static const detail::JobHooks kNone;
    const detail::JobHooks& seams = hooks != nullptr ? *hooks : kNone;
    const std::filesystem::path folder = request.convert.output_folder;
    const std::string name = request.convert.input.stem().string();
    ExistingFilePolicy zip_policy = request.convert.existing_files;
    if (zip_policy == ExistingFilePolicy::Ask) {
        zip_policy = ExistingFilePolicy::KeepBoth;
    }

    JobResult result;
    result.convert = convert(std::move(request.convert), progress, token, seams.driver);
    request.convert.password.clear();

    ZipOutcome& zip = result.zip;
    if (!request.want_zip || result.convert.pages_written == 0 || result.convert.cancelled) {
        return result;
    }
    zip.attempted = true;
    ZipOptions options;
    options.existing_files = zip_policy;
    options.input = seams.zip_input;
    options.output = seams.driver.output;
    Result<ZipResult> archive = zip_job_pages(result.convert, folder, name, options, token);
    if (archive) {
        zip.archive = std::move(*archive);
    } else {
        zip.error = std::move(archive.error());
    }
    return result;
}

bool message_names_page(const ConvertError& error) {
    return error.page != 0 &&
           error.message.rfind("Page " + std::to_string(error.page) + ": ", 0) == 0;
}

std::string error_text(const ConvertError& error) {
    if (error.page == 0 || message_names_page(error)) {
        return error.message;
    }
    return "Page " + std::to_string(error.page) + ": " + error.message;
}

}  // namespace bl

#include "bl/job.h"

#include <cmath>
#include <new>

#include "engine/converter.h"
#include "engine/job_hooks.h"
#include "engine/naming_template.h"
#include "engine/output_file.h"
#include "engine/zip_archive.h"

namespace bl {

MaybeError validate_request(const ConvertRequest& request) {
    const ConvertLimits& limits = request.limits;
    // Written so that NaN limits fail too.
    if (!(limits.min_dpi > 0.0) || !(limits.max_dpi >= limits.min_dpi) || limits.max_side_px <= 0 ||
        limits.max_page_pixels == 0) {
        return make_error(ErrorKind::InvalidSettings, "The configured limits are inconsistent.");
    }
    const double dpi = request.image.dpi;
    if (!std::isfinite(dpi) || dpi < limits.min_dpi || dpi > limits.max_dpi) {
        return make_error(ErrorKind::InvalidSettings, "DPI must be between " +
                                                          format_number(limits.min_dpi) + " and " +
                                                          format_number(limits.max_dpi) + ".");
    }
    if (request.image.jpeg_quality < 1 || request.image.jpeg_quality > 100) {
        return make_error(ErrorKind::InvalidSettings, "JPEG quality must be between 1 and 100.");
    }
    if (auto problem = validate_naming_template(request.naming_template)) {
        return problem;
    }
    if (auto problem = check_password(request.password.view())) {
        return problem;
    }
    return check_output_folder(request.output_folder);
}

JobResult run_job(JobRequest request, const ProgressCallback& progress,
                  const CancellationToken& token) {
    return detail::run_job(std::move(request), progress, token, detail::JobHooks{});
}

JobResult detail::run_job(JobRequest request, const ProgressCallback& progress,
                          const CancellationToken& token, const JobHooks& seams) {
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
    const ConvertResult& convert_result = result.convert;
    if (!request.want_zip || convert_result.pages_written + convert_result.pages_skipped == 0 ||
        convert_result.cancelled) {
        return result;
    }
    // An archive there already may lack the pages this run wrote; it is kept,
    // and the complete one takes a number.
    if (zip_policy == ExistingFilePolicy::Skip && convert_result.pages_written > 0) {
        zip_policy = ExistingFilePolicy::KeepBoth;
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

#include "bl/job.h"

#include <cmath>
#include <new>

#include "bl/page_selection.h"
#include "engine/converter.h"
#include "engine/errors.h"
#include "engine/image_format.h"
#include "engine/job_hooks.h"
#include "engine/naming_template.h"
#include "engine/output_file.h"
#include "engine/zip_archive.h"

namespace bl {

MaybeError validate_request(const ConvertRequest& request) {
    if (auto problem = check_image_options(request.image, request.limits)) {
        return problem;
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

Result<JobPlan> plan_job(const ConvertRequest& request, const CancellationToken& token,
                         std::uint32_t samples) {
    std::error_code missing;
    const bool folder_missing = std::filesystem::status(request.output_folder, missing).type() ==
                                std::filesystem::file_type::not_found;
    ConvertRequest checked = request;
    if (folder_missing) {
        checked.output_folder = "/";  // any folder: a missing one counts as empty
    }
    if (auto invalid = validate_request(checked)) {
        return tl::unexpected(std::move(*invalid));
    }
    try {
        auto session = PreviewSession::open(request.input, request.password, request.limits, token);
        if (!session) {
            return tl::unexpected(std::move(session.error()));
        }
        JobPlan plan;
        plan.document = (*session)->document();
        auto selection = parse_page_selection(request.pages, plan.document.page_count);
        if (!selection) {
            return tl::unexpected(std::move(selection.error()));
        }
        auto pages = plan_pages(request, plan.document, *selection);
        if (!pages) {
            return tl::unexpected(std::move(pages.error()));
        }
        if (auto taken = folder_missing ? std::nullopt : check_taken_names(request, *pages)) {
            return tl::unexpected(std::move(*taken));
        }
        const std::string extension = image_format(request.image).extension;
        std::vector<std::int32_t> written;
        for (const PlannedPage& page : *pages) {
            if (page.skip) {
                ++plan.skipped;
                continue;
            }
            plan.files.push_back(PlannedFile{page.number, page.name + extension, page.size});
            written.push_back(static_cast<std::int32_t>(page.number));
        }
        auto estimate = (*session)->estimate(written, request.image, samples, token);
        if (!estimate) {
            return tl::unexpected(std::move(estimate.error()));
        }
        plan.estimate = *estimate;
        return plan;
    } catch (const std::bad_alloc&) {
        return tl::unexpected(job_out_of_memory_error());
    } catch (...) {
        return tl::unexpected(internal_error());
    }
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

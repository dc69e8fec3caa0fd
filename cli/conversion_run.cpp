#include "cli/conversion_run.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "bl/inspection.h"
#include "bl/job.h"
#include "bl/unique_fd.h"
#include "cli/json_text.h"

namespace bl::cli {

namespace {

constexpr double kMillimetresPerPoint = 25.4 / 72.0;

const char* kind_name(ErrorKind kind) {
    switch (kind) {
        case ErrorKind::InvalidSettings:
            return "InvalidSettings";
        case ErrorKind::InvalidPageSelection:
            return "InvalidPageSelection";
        case ErrorKind::InvalidNamingTemplate:
            return "InvalidNamingTemplate";
        case ErrorKind::InputNotFound:
            return "InputNotFound";
        case ErrorKind::InputUnreadable:
            return "InputUnreadable";
        case ErrorKind::NotAPdf:
            return "NotAPdf";
        case ErrorKind::DamagedPdf:
            return "DamagedPdf";
        case ErrorKind::NoPages:
            return "NoPages";
        case ErrorKind::PasswordRequired:
            return "PasswordRequired";
        case ErrorKind::WrongPassword:
            return "WrongPassword";
        case ErrorKind::UnsupportedEncryption:
            return "UnsupportedEncryption";
        case ErrorKind::LimitExceeded:
            return "LimitExceeded";
        case ErrorKind::RenderFailed:
            return "RenderFailed";
        case ErrorKind::EncodeFailed:
            return "EncodeFailed";
        case ErrorKind::OutputFolderUnavailable:
            return "OutputFolderUnavailable";
        case ErrorKind::OutputExists:
            return "OutputExists";
        case ErrorKind::PermissionDenied:
            return "PermissionDenied";
        case ErrorKind::DiskFull:
            return "DiskFull";
        case ErrorKind::WriteFailed:
            return "WriteFailed";
        case ErrorKind::Cancelled:
            return "Cancelled";
        case ErrorKind::TimedOut:
            return "TimedOut";
        case ErrorKind::OutOfMemory:
            return "OutOfMemory";
        case ErrorKind::InternalError:
            return "InternalError";
    }
    return "Unknown";
}

// Fixed-point with at most `decimals` decimals and no trailing zeros.
std::string short_decimal(double value, int decimals) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
    std::string text = buffer;
    if (text.find('.') != std::string::npos) {
        while (text.back() == '0') {
            text.pop_back();
        }
        if (text.back() == '.') {
            text.pop_back();
        }
    }
    return text == "-0" ? "0" : text;
}

std::string plural(std::uint64_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

void write_error(JsonWriter& json, const std::optional<ConvertError>& error) {
    if (!error) {
        json.null();
        return;
    }
    json.begin_object()
        .key("kind")
        .unsigned_integer(static_cast<std::uint32_t>(error->kind))
        .key("kind_name")
        .string(kind_name(error->kind))
        .key("message")
        .string(error->message)
        .key("page")
        .unsigned_integer(error->page)
        .end_object();
}

void write_document(JsonWriter& json, const DocumentInfo& info) {
    json.begin_object()
        .key("file_size")
        .unsigned_integer(info.file_size)
        .key("page_count")
        .integer(info.page_count)
        .key("pdf_version")
        .integer(info.pdf_version);
    json.key("pdf_version_text");
    if (info.pdf_version > 0) {
        json.string(pdf_version_text(info.pdf_version));
    } else {
        json.null();
    }
    json.key("encrypted")
        .boolean(info.encrypted)
        .key("security_revision")
        .integer(info.security_revision)
        .key("page_sizes")
        .begin_array();
    for (const PageSize& size : info.page_sizes) {
        json.begin_object()
            .key("width")
            .number(size.width)
            .key("height")
            .number(size.height)
            .end_object();
    }
    json.end_array().end_object();
}

void write_page_result(JsonWriter& json, const PageResult& page) {
    json.begin_object()
        .key("page")
        .unsigned_integer(page.page)
        .key("output_path")
        .string(page.output_path.string())
        .key("bytes")
        .unsigned_integer(page.bytes)
        .key("width_px")
        .integer(page.width_px)
        .key("height_px")
        .integer(page.height_px)
        .key("render_ms")
        .number(page.render_ms)
        .key("encode_ms")
        .number(page.encode_ms)
        .key("skipped")
        .boolean(page.skipped)
        .key("error");
    write_error(json, page.error);
    json.end_object();
}

// What the JSON knows of a document that was not opened: nothing, except that
// a password was asked for.
void write_unopened(JsonWriter& json, const std::optional<ConvertError>& error) {
    json.null();
    if (error &&
        (error->kind == ErrorKind::PasswordRequired || error->kind == ErrorKind::WrongPassword)) {
        json.key("encrypted").boolean(true);
    }
}

void write_result(JsonWriter& json, const ConvertResult& result) {
    json.begin_object().key("document");
    // The engine's result keeps its initial document record when the file was
    // not opened; those zeros are no facts about the file. An opened document
    // has at least one page.
    if (result.document.page_count > 0) {
        write_document(json, result.document);
    } else {
        write_unopened(json, result.error);
    }
    json.key("page_results").begin_array();
    for (const PageResult& page : result.page_results) {
        write_page_result(json, page);
    }
    json.end_array()
        .key("pages_selected")
        .unsigned_integer(result.pages_selected)
        .key("pages_written")
        .unsigned_integer(result.pages_written)
        .key("pages_failed")
        .unsigned_integer(result.pages_failed)
        .key("pages_skipped")
        .unsigned_integer(result.pages_skipped)
        .key("cancelled")
        .boolean(result.cancelled)
        .key("error");
    write_error(json, result.error);
    json.key("diagnostics").begin_array();
    for (const std::string& line : result.diagnostics) {
        json.string(line);
    }
    json.end_array().end_object();
}

void write_zip(JsonWriter& json, bool requested, const ZipOutcome& zip) {
    if (!requested) {
        json.null();
        return;
    }
    json.begin_object()
        .key("attempted")
        .boolean(zip.attempted)
        .key("created")
        .boolean(zip.archive && !zip.archive->existing)
        .key("skipped")
        .boolean(zip.archive && zip.archive->existing)
        .key("path");
    if (zip.archive) {
        json.string(zip.archive->path.string());
    } else {
        json.null();
    }
    json.key("bytes").unsigned_integer(zip.archive ? zip.archive->bytes : 0).key("error");
    write_error(json, zip.error);
    json.end_object();
}

// Everything a run reports, kept in one place so that the progress line is
// cleared before any other text reaches the terminal.
class Reporter {
  public:
    Reporter(const Options& options, const Console& console, int debug_log)
        : options_(options), console_(console), debug_log_(debug_log) {}

    void progress(const std::string& input, std::uint32_t done, std::uint32_t total) {
        if (!console_.show_progress) {
            return;
        }
        std::fprintf(console_.err, "\r%s: page %u of %u\033[K", input.c_str(), done, total);
        std::fflush(console_.err);
        progress_shown_ = true;
    }

    void error(const std::string& input, const ConvertError& error) {
        clear_progress();
        if (options_.json) {
            return;
        }
        std::fprintf(console_.err, "%s: %s\n", input.c_str(), error_text(error).c_str());
        if (error.kind == ErrorKind::OutputExists &&
            options_.existing_files == ExistingFilePolicy::Ask) {
            hints_.insert(
                "Use --existing replace to overwrite taken names, --existing keep-both to "
                "give the new files numbered names, or --existing skip to keep the files "
                "there and make only the missing ones.");
        } else if (error.kind == ErrorKind::PasswordRequired ||
                   error.kind == ErrorKind::WrongPassword) {
            hints_.insert("Give the password with --password-stdin or --password-file.");
        }
    }

    void line(const std::string& text) {
        clear_progress();
        if (!options_.json) {
            std::fprintf(console_.out, "%s\n", text.c_str());
            std::fflush(console_.out);
        }
    }

    void zip_failed(const std::string& input, const ConvertError& error) {
        clear_progress();
        if (!options_.json) {
            std::fprintf(console_.err, "%s: ZIP not created: %s\n", input.c_str(),
                         error.message.c_str());
        }
    }

    // Each line after the file's name, all in one write, so that runs sharing
    // the log (one per file, in parallel) keep their lines together.
    void diagnostics(const std::string& input, const std::vector<std::string>& lines) {
        std::string text;
        for (const std::string& line : lines) {
            text += input + ": " + line + "\n";
        }
        for (std::size_t done = 0; debug_log_ >= 0 && done < text.size();) {
            const ssize_t count = ::write(debug_log_, text.data() + done, text.size() - done);
            if (count < 0 && errno == EINTR) {
                continue;
            }
            if (count <= 0) {
                clear_progress();
                std::fprintf(console_.err, "%s: could not write to the debug log: %s\n",
                             kProgramName, std::strerror(count < 0 ? errno : EIO));
                return;
            }
            done += static_cast<std::size_t>(count);
        }
    }

    void json(const JsonWriter& json) {
        clear_progress();
        if (options_.json) {
            std::fprintf(console_.out, "%s\n", json.text().c_str());
            std::fflush(console_.out);
        }
    }

    void finish() {
        clear_progress();
        for (const std::string& hint : hints_) {
            std::fprintf(console_.err, "%s\n", hint.c_str());
        }
    }

  private:
    void clear_progress() {
        if (progress_shown_) {
            std::fputs("\r\033[K", console_.err);
            std::fflush(console_.err);
            progress_shown_ = false;
        }
    }

    const Options& options_;
    const Console& console_;
    const int debug_log_;  // -1 without one
    bool progress_shown_ = false;
    std::set<std::string> hints_;
};

// Returns whether the file's facts could be read.
bool inspect_one(const std::string& input, const Secret& password, Reporter& reporter) {
    const Result<DocumentInfo> info =
        inspect_pdf(input, std::string(password.view()), ConvertLimits{});

    JsonWriter json;
    const std::optional<ConvertError> error =
        info ? std::nullopt : std::optional<ConvertError>(info.error());
    json.begin_object().key("file").string(input).key("document");
    if (info) {
        write_document(json, *info);
    } else {
        write_unopened(json, error);
    }
    json.key("error");
    write_error(json, error);
    json.end_object();
    reporter.json(json);

    if (!info) {
        reporter.error(input, info.error());
        return false;
    }
    std::string text = input + ":\n";
    text += "  File size: " + plural(info->file_size, "byte", "bytes") + "\n";
    text += "  Pages: " + std::to_string(info->page_count) + "\n";
    text += "  PDF version: " + pdf_version_text(info->pdf_version) + "\n";
    text += "  Encryption: ";
    text += info->encrypted
                ? "yes, security handler revision " + std::to_string(info->security_revision)
                : std::string("none");
    text += "\n";
    // Runs of equal sizes, so that a long document of one format takes one line.
    std::vector<std::pair<std::size_t, std::size_t>> runs;  // first, last (0-based)
    for (std::size_t i = 0; i < info->page_sizes.size(); ++i) {
        if (!runs.empty() && info->page_sizes[runs.back().second] == info->page_sizes[i]) {
            runs.back().second = i;
        } else {
            runs.emplace_back(i, i);
        }
    }
    if (runs.size() == 1) {
        text += "  Page size: " + page_size_text(info->page_sizes.front()) + "\n";
    } else if (!runs.empty()) {
        text += "  Page sizes:\n";
        for (const auto& [first, last] : runs) {
            text += first == last
                        ? "    page " + std::to_string(first + 1)
                        : "    pages " + std::to_string(first + 1) + "-" + std::to_string(last + 1);
            text += ": " + page_size_text(info->page_sizes[first]) + "\n";
        }
    }
    text.pop_back();
    reporter.line(text);
    return true;
}

struct JobTally {
    bool ok = false;
    std::uint32_t images = 0;
    std::uint64_t estimated_bytes = 0;  // of a dry run
};

// "report.pdf: 10 of 134 pages written to /home/me/out; 1 failed; 123 not attempted."
std::string summary_line(const std::string& input, const ConvertResult& result,
                         const std::filesystem::path& folder) {
    std::string summary = input + ": " + std::to_string(result.pages_written) + " of " +
                          plural(result.pages_selected, "page", "pages") + " written to " +
                          folder.string();
    if (result.pages_skipped > 0) {
        summary += "; " + std::to_string(result.pages_skipped) + " skipped";
    }
    if (result.pages_failed > 0) {
        summary += "; " + std::to_string(result.pages_failed) + " failed";
    }
    // A job that stopped early (a full disk, a cancellation) never reached the rest.
    const std::uint32_t not_attempted =
        result.pages_selected - result.pages_written - result.pages_skipped - result.pages_failed;
    if (not_attempted > 0) {
        summary += "; " + std::to_string(not_attempted) + " not attempted";
    }
    return summary + ".";
}

// The text of one job: its failures, its summary and its archive.
void report_job(const std::string& input, const JobResult& job, const std::filesystem::path& folder,
                Reporter& reporter) {
    const ConvertResult& result = job.convert;
    for (const PageResult& page : result.page_results) {
        if (page.error) {
            reporter.error(input, *page.error);
        }
    }
    if (result.error) {
        // A failure that stopped the job is often the failed page's own error;
        // say it once.
        const bool said = std::any_of(
            result.page_results.begin(), result.page_results.end(),
            [&](const PageResult& page) { return page.error && *page.error == *result.error; });
        if (!said) {
            reporter.error(input, *result.error);
        }
    }
    if (result.pages_selected > 0) {
        reporter.line(summary_line(input, result, folder));
    }
    const ZipOutcome& zip = job.zip;
    if (zip.archive && zip.archive->existing) {
        reporter.line(input + ": ZIP archive " + zip.archive->path.string() +
                      " skipped, since it exists.");
    } else if (zip.archive) {
        reporter.line(input + ": ZIP archive " + zip.archive->path.string() + " (" +
                      plural(zip.archive->bytes, "byte", "bytes") + ").");
    } else if (zip.error) {
        reporter.zip_failed(input, *zip.error);
    }
}

JobTally convert_one(const Options& options, const std::string& input, const Secret& password,
                     const CancellationToken& token, bool folder_created, Reporter& reporter) {
    ConvertRequest request = base_request(options);
    request.input = input;
    request.password = password;
    const std::filesystem::path output_folder = request.output_folder;

    const ProgressCallback progress = [&](const ProgressEvent& event) {
        if (event.stage == ProgressStage::Rendering) {
            reporter.progress(input, event.index + 1, event.total);
        }
    };
    const JobResult job = run_job(JobRequest{std::move(request), options.zip}, progress, token);
    const ConvertResult& result = job.convert;

    JsonWriter json;
    json.begin_object()
        .key("file")
        .string(input)
        .key("output_folder")
        .string(output_folder.string())
        .key("output_folder_created")
        .boolean(folder_created)
        .key("result");
    write_result(json, result);
    json.key("zip");
    write_zip(json, options.zip, job.zip);
    json.end_object();
    reporter.json(json);
    reporter.diagnostics(input, result.diagnostics);
    report_job(input, job, output_folder, reporter);

    JobTally tally;
    tally.images = result.pages_written;
    tally.ok = !result.error && result.pages_failed == 0 &&
               result.pages_written + result.pages_skipped == result.pages_selected &&
               (!options.zip || job.zip.archive);
    return tally;
}

// "about 1.3 MB": decimal units, as file managers show sizes.
std::string rough_size(std::uint64_t bytes) {
    if (bytes < 1'000'000) {
        return "about " + short_decimal(static_cast<double>(bytes) / 1e3, 0) + " kB";
    }
    return "about " + short_decimal(static_cast<double>(bytes) / 1e6, 1) + " MB";
}

void write_plan(JsonWriter& json, const JobPlan& plan) {
    json.key("document");
    write_document(json, plan.document);
    json.key("files").begin_array();
    for (const PlannedFile& file : plan.files) {
        json.begin_object()
            .key("page")
            .unsigned_integer(file.page)
            .key("name")
            .string(file.file_name)
            .key("width")
            .integer(file.size.width)
            .key("height")
            .integer(file.size.height)
            .end_object();
    }
    json.end_array()
        .key("pages_skipped")
        .unsigned_integer(plan.skipped)
        .key("estimated_bytes")
        .unsigned_integer(plan.estimate.bytes)
        .key("sampled_pages")
        .unsigned_integer(plan.estimate.sampled);
}

// A dry run of one file: what it would become, written nowhere.
JobTally plan_one(const Options& options, const std::string& input, const Secret& password,
                  const CancellationToken& token, Reporter& reporter) {
    ConvertRequest request = base_request(options);
    request.input = input;
    request.password = password;
    const Result<JobPlan> plan = plan_job(request, token);

    JsonWriter json;
    json.begin_object()
        .key("file")
        .string(input)
        .key("output_folder")
        .string(request.output_folder.string());
    json.key("dry_run").boolean(true);
    if (plan) {
        write_plan(json, *plan);
    } else {
        json.key("document");
        write_unopened(json, plan.error());
    }
    json.key("error");
    write_error(json, plan ? std::nullopt : std::optional<ConvertError>(plan.error()));
    json.end_object();
    reporter.json(json);
    if (!plan) {
        reporter.error(input, plan.error());
        return JobTally{false, 0, 0};
    }
    std::string text = input + ": would write " + plural(plan->files.size(), "image", "images") +
                       ", " + rough_size(plan->estimate.bytes) + ", to " +
                       request.output_folder.string();
    if (plan->skipped > 0) {
        text += "; " + std::to_string(plan->skipped) + " skipped, since they exist";
    }
    text += ":";
    for (const PlannedFile& file : plan->files) {
        text += "\n  " + file.file_name + "  " + std::to_string(file.size.width) + " x " +
                std::to_string(file.size.height) + " px";
    }
    reporter.line(text);
    return JobTally{true, static_cast<std::uint32_t>(plan->files.size()), plan->estimate.bytes};
}

// The engine writes only into a folder that exists; on a command line the
// folder is named, so a missing one is made, with its parents, as `mkdir -p`
// would. Returns whether it was made, or nothing after saying why it could not.
std::optional<bool> make_output_folder(const Options& options, const Console& console) {
    const std::filesystem::path folder = base_request(options).output_folder;
    std::error_code error;
    const bool created = std::filesystem::create_directories(folder, error);
    if (error) {
        std::fprintf(console.err, "%s: could not create the output folder \"%s\": %s\n",
                     kProgramName, folder.c_str(), error.message().c_str());
        return std::nullopt;
    }
    return created;
}

}  // namespace

std::string pdf_version_text(std::int32_t version) {
    if (version <= 0) {
        return "unknown";
    }
    return std::to_string(version / 10) + "." + std::to_string(version % 10);
}

std::string page_size_text(PageSize size) {
    return short_decimal(size.width, 2) + " x " + short_decimal(size.height, 2) + " pt (" +
           short_decimal(size.width * kMillimetresPerPoint, 1) + " x " +
           short_decimal(size.height * kMillimetresPerPoint, 1) + " mm)";
}

namespace {

// The debug log, opened to append; an empty descriptor without one, nothing
// after saying why it could not be opened.
std::optional<UniqueFd> open_debug_log(const Options& options, const Console& console) {
    if (options.debug_log.empty()) {
        return UniqueFd();
    }
    UniqueFd log(
        ::open(options.debug_log.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666));
    if (!log) {
        std::fprintf(console.err, "%s: could not open the debug log \"%s\": %s\n", kProgramName,
                     options.debug_log.c_str(), std::strerror(errno));
        return std::nullopt;
    }
    return log;
}

}  // namespace

int run_inputs(const Options& options, const Secret& password, const CancellationToken& token,
               const Console& console) {
    const std::optional<UniqueFd> debug_log = open_debug_log(options, console);
    if (!debug_log) {
        return kExitUsage;
    }
    bool folder_created = false;
    if (!options.info && !options.dry_run) {
        const std::optional<bool> created = make_output_folder(options, console);
        if (!created) {
            return kExitUsage;
        }
        folder_created = *created;
    }
    Reporter reporter(options, console, debug_log->get());
    const std::filesystem::path folder = base_request(options).output_folder;
    std::error_code missing;
    if (folder_created) {
        reporter.line("Created the output folder " + folder.string() + ".");
    } else if (options.dry_run && std::filesystem::status(folder, missing).type() ==
                                      std::filesystem::file_type::not_found) {
        reporter.line("Would create the output folder " + folder.string() + ".");
    }
    std::uint32_t files_ok = 0;
    std::uint32_t files_failed = 0;
    std::uint64_t images = 0;
    std::uint64_t estimated_bytes = 0;
    for (const std::string& input : options.inputs) {
        if (token.is_cancelled()) {
            break;
        }
        if (options.info) {
            (inspect_one(input, password, reporter) ? files_ok : files_failed) += 1;
            continue;
        }
        const JobTally tally = options.dry_run ? plan_one(options, input, password, token, reporter)
                                               : convert_one(options, input, password, token,
                                                             folder_created, reporter);
        (tally.ok ? files_ok : files_failed) += 1;
        images += tally.images;
        estimated_bytes += tally.estimated_bytes;
    }
    if (options.dry_run && options.inputs.size() > 1 && !token.is_cancelled()) {
        reporter.line("In all " + plural(images, "image", "images") + ", " +
                      rough_size(estimated_bytes) + "; " + std::to_string(files_failed) +
                      (files_failed == 1 ? " file" : " files") + " would fail.");
    } else if (!options.info && options.inputs.size() > 1 && !token.is_cancelled()) {
        reporter.line(plural(files_ok, "file", "files") + " converted, " +
                      std::to_string(files_failed) + " failed. " +
                      plural(images, "image", "images") + " saved.");
    }
    reporter.finish();
    if (token.is_cancelled()) {
        return kExitInterrupted;
    }
    return files_failed == 0 ? kExitSuccess : kExitFailure;
}

}  // namespace bl::cli

#include "cli/command_line.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <string_view>

#include <string.h>
#include <unistd.h>

#include <CLI/CLI.hpp>

#include "bl/inspection.h"
#include "bl/job.h"
#include "bl/live_checks.h"
#include "bl/version.h"

namespace bl::cli {

namespace {

std::string version_text() {
    const VersionInfo versions = version_info();
    return std::string(kProgramName) + " " + versions.application + "\nPDFium " + versions.pdfium +
           "\nlibjpeg-turbo " + versions.libjpeg_turbo + "\nSandbox: " + sandbox_summary();
}

constexpr const char* kFooter =
    R"(Naming template tokens: {original} (the PDF's name without extension),
{page_number}, {page_count}, {dpi}; a format such as {page_number:0001} pads
with zeros to that many digits. The extension ".jpg" is added.

Passwords are never taken from the command line: use --password-stdin or
--password-file. The same password is tried for every file.

Exit status: 0 when every selected page of every file was written or, under
--existing skip, was there already (and every requested ZIP archive made or
there already), 1 when anything failed, 2 for a usage error or an output
folder that cannot be made, 130 when interrupted.)";

ParsedCommandLine usage_error(const std::string& message) {
    ParsedCommandLine parsed;
    parsed.exit_status = kExitUsage;
    parsed.error = std::string(kProgramName) + ": " + message + "\nRun '" + kProgramName +
                   " --help' for more information.\n";
    return parsed;
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

}  // namespace

std::optional<Rgb> parse_colour(const std::string& text) {
    std::string_view digits = text;
    if (!digits.empty() && digits.front() == '#') {
        digits.remove_prefix(1);
    }
    if (digits.size() != 6) {
        return std::nullopt;
    }
    std::uint8_t channels[3] = {};
    for (std::size_t i = 0; i < 3; ++i) {
        const int high = hex_digit(digits[2 * i]);
        const int low = hex_digit(digits[2 * i + 1]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        channels[i] = static_cast<std::uint8_t>(high * 16 + low);
    }
    return Rgb{channels[0], channels[1], channels[2]};
}

std::filesystem::path clean_folder_path(const std::string& folder) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(folder, error);
    if (error) {
        return folder;
    }
    std::filesystem::path clean;
    for (const std::filesystem::path& part : absolute) {
        if (!part.empty() && part != ".") {
            clean /= part;
        }
    }
    return clean;
}

ConvertRequest base_request(const Options& options) {
    ConvertRequest request;
    request.pages = options.pages;
    request.image.dpi = options.dpi;
    request.image.jpeg_quality = options.quality;
    request.image.chroma = options.chroma;
    request.image.background = options.background;
    request.image.render_annotations = options.annotations;
    request.image.render_form_fields = options.form_fields;
    request.image.optimize_huffman = options.optimize;
    // An empty folder stays empty and is refused.
    if (!options.output_folder.empty()) {
        request.output_folder = clean_folder_path(options.output_folder);
    }
    request.naming_template = options.naming_template;
    request.existing_files = options.existing_files;
    request.limits.page_timeout_ms = options.page_timeout_ms;
    request.limits.render_helpers = options.jobs;
    request.limits.job_timeout_ms = options.job_timeout_ms;
    return request;
}

namespace {

// What the options give as text and is turned into settings after parsing.
struct OptionTexts {
    std::string existing = "ask";
    std::string background = "FFFFFF";
    std::string chroma = "auto";
    bool no_annotations = false;
    bool no_form_fields = false;
};

std::string colour_problem(const std::string& value) {
    return parse_colour(value) ? std::string()
                               : "\"" + value +
                                     "\" is not a colour; write six hexadecimal digits RRGGBB, "
                                     "such as FFFFFF for white";
}

// The options of what to convert and how the images look.
void add_image_options(CLI::App& app, Options& options, OptionTexts& texts) {
    app.add_option("PDF", options.inputs, "The PDF files to convert")->required()->type_name("");
    app.add_option(
           "-o,--output", options.output_folder,
           "Folder that receives the images, made when missing (default: the current folder)")
        ->type_name("DIR");
    app.add_option("-r,--dpi", options.dpi, "Resolution in dots per inch")
        ->type_name("N")
        ->capture_default_str();
    app.add_option("-q,--quality", options.quality, "JPEG quality, 1 to 100")
        ->type_name("N")
        ->capture_default_str();
    app.add_option("-p,--pages", options.pages, "Pages to convert, e.g. \"1-3, 5, 8-\", or \"all\"")
        ->type_name("SELECTION")
        ->capture_default_str();
    app.add_option("-n,--name", options.naming_template, "File naming template")
        ->type_name("TEMPLATE")
        ->capture_default_str();
    app.add_option("-e,--existing", texts.existing,
                   "When an image's name is taken: ask (refuse the file, since nothing can be "
                   "asked here), replace, keep-both (add a number to the new name), or skip "
                   "(keep the file there and make only the missing ones, to resume a run)")
        ->type_name("POLICY")
        ->check(CLI::IsMember({"ask", "replace", "keep-both", "skip"}))
        ->capture_default_str();
    app.add_option("--background", texts.background, "Colour under transparent areas, as RRGGBB")
        ->check(CLI::Validator(colour_problem, ""))
        ->type_name("RRGGBB")
        ->capture_default_str();
    app.add_flag("--no-annotations", texts.no_annotations, "Do not draw annotations");
    app.add_flag("--no-form-fields", texts.no_form_fields, "Do not draw form fields");
    app.add_option("--chroma", texts.chroma,
                   "Chroma subsampling: auto, 444, 420, or gray (a greyscale image)")
        ->type_name("MODE")
        ->check(CLI::IsMember({"auto", "444", "420", "gray"}))
        ->capture_default_str();
    app.add_flag("--optimize", options.optimize, "Optimise the JPEG Huffman tables");
    app.add_flag("--zip", options.zip,
                 "Also gather each PDF's images into NAME.zip in the output folder");
}

// The options of how a run goes: limits, helpers, passwords and output.
void add_run_options(CLI::App& app, Options& options) {
    app.add_option("--page-timeout", options.page_timeout_ms,
                   "Milliseconds allowed for rendering one page; 0 for no limit")
        ->type_name("MS")
        ->capture_default_str();
    app.add_option("-j,--jobs", options.jobs,
                   "Pages rendered at once, each by its own helper process; 1 renders one "
                   "page at a time (default: one per core, at most 8)")
        ->type_name("N")
        ->check(CLI::Range(1, 32));
    app.add_option("--job-timeout", options.job_timeout_ms,
                   "Milliseconds allowed for one PDF; 0 for no limit")
        ->type_name("MS")
        ->capture_default_str();
    CLI::Option* from_stdin =
        app.add_flag("--password-stdin", options.password_stdin,
                     "Read the password from the first line of standard input");
    CLI::Option* from_file = app.add_option("--password-file", options.password_file,
                                            "Read the password from the first line of FILE")
                                 ->type_name("FILE");
    from_stdin->excludes(from_file);
    app.add_flag("--info", options.info,
                 "Show each file's facts (pages, version, encryption, page sizes) and convert "
                 "nothing");
    app.add_flag("--dry-run", options.dry_run,
                 "Show the files each PDF would become, with their pixel sizes, and an "
                 "estimate of their total size from a few pages converted in memory; write "
                 "nothing")
        ->excludes("--info");
    app.add_flag("--json", options.json,
                 "Write one JSON object per file to standard output instead of text");
    app.add_option("--debug-log", options.debug_log,
                   "Append to FILE why render helpers failed (a crash, a system call the sandbox "
                   "refused), each line after its PDF's name")
        ->type_name("FILE");
}

// Settings that are wrong for every file are usage errors, reported once before
// anything is opened; a page beyond the end is each file's own matter.
MaybeError check_options(Options& options, const OptionTexts& texts) {
    static const std::map<std::string, ExistingFilePolicy> kPolicies = {
        {"ask", ExistingFilePolicy::Ask},
        {"replace", ExistingFilePolicy::Replace},
        {"keep-both", ExistingFilePolicy::KeepBoth},
        {"skip", ExistingFilePolicy::Skip}};
    static const std::map<std::string, std::int32_t> kChroma = {
        {"auto", 0}, {"444", 1}, {"420", 2}, {"gray", 3}};
    options.existing_files = kPolicies.at(texts.existing);
    options.chroma = kChroma.at(texts.chroma);
    options.background = *parse_colour(texts.background);
    options.annotations = !texts.no_annotations;
    options.form_fields = !texts.no_form_fields;
    if (options.info) {
        return std::nullopt;
    }
    ConvertRequest request = base_request(options);
    std::error_code error;
    if (!request.output_folder.empty() &&
        std::filesystem::status(request.output_folder, error).type() ==
            std::filesystem::file_type::not_found) {
        // The run makes a missing folder (make_output_folder), once every
        // other setting is known to be right; until then one that exists
        // stands in for it.
        request.output_folder = "/";
    }
    if (MaybeError problem = validate_request(request)) {
        return problem;
    }
    return check_page_selection_syntax(options.pages);
}

}  // namespace

ParsedCommandLine parse_command_line(int argc, const char* const* argv) {
    Options options;
    OptionTexts texts;
    CLI::App app{"Converts every page of each PDF into a JPEG image; each PDF is one job.",
                 kProgramName};
    app.footer(kFooter);
    // Asked for only when wanted: finding out the sandbox starts a helper.
    app.set_version_flag("--version", std::function<std::string()>(version_text),
                         "Show the program's and its libraries' versions and exit");
    add_image_options(app, options, texts);
    add_run_options(app, options);

    ParsedCommandLine parsed;
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        parsed.output = app.help() + "\n";
        return parsed;
    } catch (const CLI::CallForAllHelp&) {
        parsed.output = app.help("", CLI::AppFormatMode::All) + "\n";
        return parsed;
    } catch (const CLI::CallForVersion& version) {
        parsed.output = std::string(version.what()) + "\n";
        return parsed;
    } catch (const CLI::ParseError& error) {
        return usage_error(error.what());
    }
    if (const MaybeError error = check_options(options, texts)) {
        return usage_error(error->message);
    }
    parsed.options = std::move(options);
    return parsed;
}

SecretLine read_secret_line(int fd, Secret& line) {
    line.clear();
    // Room for the longest line with its CR LF, and one byte more to tell a
    // longer one.
    std::array<char, kMaxPasswordLine + 3> buffer;
    std::size_t filled = 0;
    std::size_t end = buffer.size();  // where the line ends, once seen
    SecretLine outcome = SecretLine::Read;
    // A pipe may deliver the line in parts; a terminal and a file give it at once.
    while (end == buffer.size() && filled < buffer.size()) {
        const ssize_t count = ::read(fd, buffer.data() + filled, buffer.size() - filled);
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            outcome = SecretLine::Failed;
            break;
        }
        if (count == 0) {
            end = filled;
            break;
        }
        const auto* newline = static_cast<const char*>(
            std::memchr(buffer.data() + filled, '\n', static_cast<std::size_t>(count)));
        filled += static_cast<std::size_t>(count);
        if (newline != nullptr) {
            end = static_cast<std::size_t>(newline - buffer.data());
        }
    }
    if (end > 0 && end < buffer.size() && buffer[end - 1] == '\r') {
        --end;
    }
    if (outcome == SecretLine::Read && end > kMaxPasswordLine) {
        outcome = SecretLine::TooLong;
    }
    if (outcome == SecretLine::Read) {
        line = Secret(std::string(buffer.data(), end));
    }
    const int saved = errno;
    ::explicit_bzero(buffer.data(), buffer.size());
    errno = saved;
    return outcome;
}

}  // namespace bl::cli

// The converter's command line: what the user asked for, checked before any
// file is touched.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "bl/convert_types.h"

namespace bl::cli {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitInterrupted = 130;

inline constexpr const char* kProgramName = "brightleaf-convert";

struct Options {
    std::vector<std::string> inputs;  // as typed; messages name them this way
    std::string output_folder = ".";
    double dpi = 150.0;
    std::int32_t quality = 90;
    std::string pages = "all";
    std::string naming_template = kDefaultNamingTemplate;
    ExistingFilePolicy existing_files = ExistingFilePolicy::Ask;
    Rgb background;
    bool annotations = true;
    bool form_fields = true;
    std::int32_t chroma = 0;
    bool optimize = false;
    bool zip = false;
    std::int64_t page_timeout_ms = ConvertLimits{}.page_timeout_ms;
    std::int64_t job_timeout_ms = ConvertLimits{}.job_timeout_ms;
    std::int32_t jobs = 0;  // render helpers per file; 0: the engine's choice
    bool password_stdin = false;
    std::string password_file;  // empty when not given
    bool info = false;
    bool dry_run = false;
    bool json = false;
    std::string debug_log;  // empty when not given
};

// Either options to run with, or a text to print and the status to exit with
// (help, version, usage errors).
struct ParsedCommandLine {
    std::optional<Options> options;
    int exit_status = kExitSuccess;
    std::string output;  // for standard output
    std::string error;   // for standard error
};

ParsedCommandLine parse_command_line(int argc, const char* const* argv);

// "FFFFFF" or "#ffffff" as a colour.
std::optional<Rgb> parse_colour(const std::string& text);

// `folder` made absolute, so that the paths in results and messages do not
// depend on where the reader stands, without "." parts or a trailing separator:
// "/home/me/out", never "/home/me/out/.". ".." stays, since through a symbolic
// link it does not lead to the lexical parent.
std::filesystem::path clean_folder_path(const std::string& folder);

// The request every job of the run starts from; input and password are left empty.
ConvertRequest base_request(const Options& options);

// The longest password line taken; far more than the 127 bytes a PDF uses, so
// that only a wrong file or stream is refused.
inline constexpr std::size_t kMaxPasswordLine = 4096;

enum class SecretLine { Read, Failed, TooLong };

// Reads `fd` up to the first line end (LF, or CR LF) or the end of input into
// `line`, which is cleared first. Reads into one fixed buffer, normally in one
// call, and wipes it, so that no copy of the secret is left in a stream buffer;
// a line over kMaxPasswordLine bytes is refused. Failed leaves errno set.
SecretLine read_secret_line(int fd, Secret& line);

}  // namespace bl::cli

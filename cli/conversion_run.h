// One run of the converter: every input in turn, as a conversion job (or an
// inspection with --info), reported as text or as JSON lines.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "bl/convert_types.h"
#include "cli/command_line.h"

namespace bl::cli {

struct Console {
    std::FILE* out = stdout;
    std::FILE* err = stderr;
    bool show_progress = false;  // only when standard error is a terminal
};

// Converts or inspects every input with the same password and returns the exit
// status. Stops before the next input once `token` is set.
int run_inputs(const Options& options, const Secret& password, const CancellationToken& token,
               const Console& console);

// "1.7" for 17; "unknown" for 0.
std::string pdf_version_text(std::int32_t version);

// "612 x 792 pt (215.9 x 279.4 mm)"
std::string page_size_text(PageSize size);

}  // namespace bl::cli

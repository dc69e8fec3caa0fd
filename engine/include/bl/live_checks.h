// The pure checks a front end runs while the user types, before any job: page
// selections, file names from the naming template, and pixel sizes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "bl/convert_types.h"

namespace bl {

// The selected pages of "1-3, 5, 8-" or "all", ascending and without
// duplicates, or the first problem of the text.
Result<std::vector<std::int32_t>> parse_page_selection(std::string_view text,
                                                       std::int32_t page_count);

// The problems a selection has whatever the document: every one that
// parse_page_selection reports except a page beyond the end.
MaybeError check_page_selection_syntax(std::string_view text);

struct NamingValues {
    std::string original;  // the input's stem, already cleaned (200 bytes)
    std::int32_t page_number = 1;
    std::int32_t page_count = 1;
    std::int32_t dpi = 150;
};

MaybeError validate_naming_template(std::string_view naming_template);

// Expands the template and cleans the result into a file name (without
// extension) of at most 200 bytes. A long {original} value is shortened alike
// for every page of a document, so that page numbers survive.
Result<std::string> render_file_name(std::string_view naming_template, const NamingValues& values);

// A usable file name of at most max(limit, 8) bytes; never fails.
std::string sanitize_file_name(std::string_view text, std::size_t limit);

struct PixelSize {
    std::int32_t width = 0;
    std::int32_t height = 0;

    friend bool operator==(const PixelSize&, const PixelSize&) = default;
};

// The pixel size of a page at `dpi`, or why it cannot be rendered.
Result<PixelSize> page_pixel_size(PageSize size, double dpi, const ConvertLimits& limits);

}  // namespace bl

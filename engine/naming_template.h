// File naming templates such as "{original}_page_{page_number:0001}", and the
// cleaning that makes any text a safe file name.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/convert_types.h"

namespace bl {

struct NamingValues {
    std::string original;  // the input's stem, already cleaned (200 bytes)
    std::int32_t page_number = 1;
    std::int32_t page_count = 1;
    std::int32_t dpi = 150;
};

// The one walk over a template: checks it and, when values and an output are
// given, appends the expansion to `out`.
MaybeError expand_naming_template(std::string_view naming_template, const NamingValues* values,
                                  std::string* out);

MaybeError validate_naming_template(std::string_view naming_template);

// Expands the template and cleans the result into a file name (without
// extension) of at most 200 bytes.
Result<std::string> render_file_name(std::string_view naming_template, const NamingValues& values);

// A usable file name of at most max(limit, 8) bytes; never fails.
std::string sanitize_file_name(std::string_view text, std::size_t limit);

// CON, PRN, AUX, NUL, COM0-9, LPT0-9 and their superscript-digit forms.
bool is_reserved_device_name(std::string_view text);

// The number in decimal, zero-padded on the left to `width` characters.
std::string format_padded(std::int64_t number, std::int32_t width);

}  // namespace bl

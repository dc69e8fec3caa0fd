// File names from naming templates such as "{original}_page_{page_number:0001}",
// and the cleaning that makes any text a safe file name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "bl/convert_types.h"

namespace bl {

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

}  // namespace bl

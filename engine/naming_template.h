// File naming templates such as "{original}_page_{page_number:0001}", and the
// cleaning that makes any text a safe file name: the parts only the engine uses.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "bl/naming_template.h"

namespace bl {

// The one walk over a template: checks it and, when values and an output are
// given, appends the expansion to `out`.
MaybeError expand_naming_template(std::string_view naming_template, const NamingValues* values,
                                  std::string* out);

// CON, PRN, AUX, NUL, COM0-9, LPT0-9 and their superscript-digit forms.
bool is_reserved_device_name(std::string_view text);

// The number in decimal, zero-padded on the left to `width` characters.
std::string format_padded(std::int64_t number, std::int32_t width);

}  // namespace bl

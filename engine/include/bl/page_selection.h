// Page selections such as "1-3, 5, 8-" or "all".
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

// The shortest text that parse_page_selection reads back as `pages` (ascending,
// without duplicates, within 1 to `page_count`): "all" for every page, runs as
// ranges, and a run up to the last page left open, as in "1-3, 5, 8-". Empty
// for no page, which no text selects.
std::string format_page_selection(const std::vector<std::int32_t>& pages, std::int32_t page_count);

}  // namespace bl

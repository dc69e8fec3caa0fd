// Naming templates and file-name cleaning: whatever the bytes, a rendered name
// is a usable file name within its limit, the same every time, and the pages of
// one document get names of their own whenever the template leaves room for
// its numbers.
//
// Input: line 1 the template, line 2 the {original} value, line 3 the page
// number, page count and DPI (lenient decimals); all of it also goes through
// sanitize_file_name as it is.

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "engine/naming_template.h"
#include "fuzz/fuzz_support.h"

namespace {

using bl::fuzz::check;

constexpr std::size_t kNameBytes = 200;

void check_clean_name(const std::string& name, std::size_t limit) {
    check(!name.empty(), "a clean name is never empty");
    check(name.size() <= std::max<std::size_t>(limit, 8), "a clean name keeps its limit");
    check(bl::fuzz::is_well_formed_utf8(name), "a clean name is valid UTF-8");
    check(name.front() != ' ' && name.front() != '.' && name.back() != ' ' && name.back() != '.',
          "no space or dot at either end");
    check(!bl::is_reserved_device_name(name), "no device name");
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        check(byte >= 0x20 && byte != 0x7F &&
                  std::string_view("\"*/:<>?\\|").find(c) == std::string_view::npos,
              "no control character, separator or character a file name cannot hold");
    }
    check(bl::sanitize_file_name(name, limit) == name, "a clean name stays as it is");
}

// Up to three numbers separated by spaces; those missing keep their value.
void numbers_of(std::string_view line, std::int32_t (&numbers)[3]) {
    for (std::int32_t& number : numbers) {
        while (!line.empty() && line.front() == ' ') {
            line.remove_prefix(1);
        }
        number = static_cast<std::int32_t>(bl::fuzz::leading_number(line, number));
        const std::size_t space = line.find(' ');
        line.remove_prefix(space == std::string_view::npos ? line.size() : space);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view all = bl::fuzz::as_text(data, size);
    for (const std::size_t limit : {std::size_t{0}, std::size_t{9}, kNameBytes, std::size_t{255}}) {
        const std::string name = bl::sanitize_file_name(all, limit);
        check_clean_name(name, limit);
        check(bl::sanitize_file_name(all, limit) == name, "cleaning is deterministic");
    }

    std::string_view rest = all;
    // Exactly sized copies let the address sanitizer see a read past the end.
    const std::string_view template_line = bl::fuzz::take_line(rest);
    const std::vector<char> naming_template(template_line.begin(), template_line.end());
    const std::string_view view(naming_template.data(), naming_template.size());
    bl::NamingValues values;
    values.original = std::string(bl::fuzz::take_line(rest));
    std::int32_t numbers[3] = {7, 12, 150};
    numbers_of(bl::fuzz::take_line(rest), numbers);
    values.page_number = numbers[0];
    values.page_count = numbers[1];
    values.dpi = numbers[2];

    const bl::MaybeError error = bl::validate_naming_template(view);
    std::string expanded = "kept";
    check(bl::expand_naming_template(view, &values, &expanded) == error,
          "expanding checks as validating does");
    const auto rendered = bl::render_file_name(view, values);
    if (error) {
        check(error->kind == bl::ErrorKind::InvalidNamingTemplate && error->page == 0,
              "a template error is a naming error of no page");
        check(!error->message.empty() && error->message.back() == '.', "messages are sentences");
        check(expanded == "kept", "a failed expansion appends nothing");
        check(!rendered && rendered.error() == *error, "rendering fails as validating does");
        return 0;
    }
    check(rendered.has_value(), "a valid template renders");
    check_clean_name(*rendered, kNameBytes);
    check(bl::render_file_name(view, values) == rendered, "rendering is deterministic");
    const std::string uncut =
        bl::sanitize_file_name(expanded.substr(4), std::numeric_limits<std::size_t>::max());
    // A name is shortened when the document's widest page number needs it, so
    // that all its pages are cut alike.
    bl::NamingValues widest = values;
    widest.page_number = std::max(values.page_number, values.page_count);
    std::string widest_expanded;
    bl::expand_naming_template(view, &widest, &widest_expanded);
    if (uncut.size() <= kNameBytes &&
        bl::sanitize_file_name(widest_expanded, std::numeric_limits<std::size_t>::max()).size() <=
            kNameBytes) {
        check(*rendered == uncut, "a name that fits is only cleaned");
    }

    // Two pages of one document. When the template without {original} leaves
    // room for the widest page number, their names differ.
    if (values.page_count >= 2 && values.page_number >= 1 &&
        values.page_number < values.page_count) {
        bl::NamingValues probe = values;
        probe.original.clear();
        probe.page_number = values.page_count;
        std::string fixed;
        bl::expand_naming_template(view, &probe, &fixed);
        if (fixed.size() < kNameBytes) {
            // Neighbours, the last page, and one whose number is a digit longer.
            for (const std::int32_t other :
                 {values.page_number + 1, values.page_count,
                  std::min(values.page_number + 10, values.page_count)}) {
                if (other == values.page_number) {
                    continue;
                }
                bl::NamingValues next = values;
                next.page_number = other;
                const auto other_name = bl::render_file_name(view, next);
                check(other_name.has_value() && *other_name != *rendered,
                      "pages of one document get names of their own");
            }
        }
    }
    bl::is_reserved_device_name(all);
    return 0;
}

// Naming templates and file-name cleaning: whatever the bytes, a cleaned or
// rendered name is a usable file name within its limit that cleaning leaves as
// it is, a name that fits is only cleaned, and the pages of one document get
// names of their own whenever the template leaves room for its numbers.
//
// Input: line 1 the template, line 2 the {original} value, line 3 the page
// number, page count and DPI (lenient decimals); all of it also goes through
// sanitize_file_name as it is.

#include "engine/naming_template.h"
#include "fuzz/fuzz_support.h"

namespace {

using bl::fuzz::check;

constexpr std::size_t kNameBytes = 200;

// Control characters (the NUL at the end too), DEL, and what a file name cannot hold.
constexpr char kForbidden[] =
    "\1\2\3\4\5\6\7\10\11\12\13\14\15\16\17\20\21\22\23\24\25\26\27\30\31\32\33\34\35\36\37\177\"*/"
    ":<>?\\|";

void check_clean_name(const std::string& name, std::size_t limit) {
    check(!name.empty() && name.size() <= std::max<std::size_t>(limit, 8) &&
              bl::fuzz::is_well_formed_utf8(name) && !bl::is_reserved_device_name(name) &&
              name.find_first_of(kForbidden, 0, sizeof kForbidden) == std::string::npos &&
              name.find_first_of(" .") != 0 && name.find_last_of(" .") != name.size() - 1 &&
              bl::sanitize_file_name(name, limit) == name,
          "a clean name: not empty, within its limit, UTF-8, no device name, nothing "
          "forbidden, no space or dot at either end, and cleaning leaves it as it is");
}

// The template's expansion with `values`, neither cleaned nor cut.
std::string expand(std::string_view naming_template, const bl::NamingValues& values) {
    std::string out;
    bl::expand_naming_template(naming_template, &values, &out);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view all = std::string_view(reinterpret_cast<const char*>(data), size);
    for (const std::size_t limit : {std::size_t{0}, std::size_t{9}, kNameBytes, std::size_t{255}}) {
        check_clean_name(bl::sanitize_file_name(all, limit), limit);
    }

    std::string_view rest = all;
    // An exactly sized copy lets the address sanitizer see a read past the end.
    const std::string_view template_line = bl::fuzz::take_line(rest);
    const std::vector<char> naming_template(template_line.begin(), template_line.end());
    const std::string_view view(naming_template.data(), naming_template.size());
    bl::NamingValues values{std::string(bl::fuzz::take_line(rest)), 7, 12, 150};
    std::sscanf(std::string(bl::fuzz::take_line(rest)).c_str(), "%9d %9d %9d", &values.page_number,
                &values.page_count, &values.dpi);

    const bl::MaybeError error = bl::validate_naming_template(view);
    std::string expanded = "kept";
    check(bl::expand_naming_template(view, &values, &expanded) == error,
          "expanding checks as validating does");
    const auto rendered = bl::render_file_name(view, values);
    if (error) {
        check(error->kind == bl::ErrorKind::InvalidNamingTemplate && error->page == 0 &&
                  error->message.ends_with('.'),
              "a template error is a sentence of the naming kind, of no page");
        check(expanded == "kept" && !rendered && rendered.error() == *error,
              "a failed expansion appends nothing; rendering fails as validating does");
        return 0;
    }
    check(rendered.has_value(), "a valid template renders");
    check_clean_name(*rendered, kNameBytes);
    // A name is shortened when the document's widest page number needs it, so
    // that all its pages are cut alike.
    bl::NamingValues widest = values;
    widest.page_number = std::max(values.page_number, values.page_count);
    const std::string uncut = bl::sanitize_file_name(expanded.substr(4), SIZE_MAX);
    check(uncut.size() > kNameBytes ||
              bl::sanitize_file_name(expand(view, widest), SIZE_MAX).size() > kNameBytes ||
              *rendered == uncut,
          "a name that fits is only cleaned");

    // Two pages of one document. When the template without {original} leaves
    // room for the widest page number, their names differ.
    widest.original.clear();
    if (values.page_number >= 1 && values.page_number < values.page_count &&
        expand(view, widest).size() < kNameBytes) {
        // Neighbours, the last page, and one whose number is a digit longer.
        for (const std::int32_t other : {values.page_number + 1, values.page_count,
                                         std::min(values.page_number + 10, values.page_count)}) {
            const auto other_name =
                bl::render_file_name(view, {values.original, other, values.page_count, values.dpi});
            check(other_name && *other_name != *rendered,
                  "pages of one document get names of their own");
        }
    }
    return 0;
}

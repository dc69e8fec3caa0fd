#include "bl/naming_template.h"
#include "engine/naming_template.h"

#include <algorithm>
#include <limits>
#include <optional>

#include "bl/utf8.h"

namespace bl {
namespace {

constexpr std::size_t kMaxTemplateBytes = 512;
constexpr std::size_t kMaxPaddingDigits = 9;
constexpr std::size_t kFileNameBytes = 200;
constexpr std::size_t kMinFileNameBytes = 8;

enum class TokenKind { Original, PageNumber, PageCount, Dpi };

struct Token {
    TokenKind kind = TokenKind::Original;
    std::int32_t width = 0;
};

ConvertError template_error(std::string message) {
    return make_error(ErrorKind::InvalidNamingTemplate, std::move(message));
}

std::optional<TokenKind> token_kind(std::string_view name) {
    if (name == "original") {
        return TokenKind::Original;
    }
    if (name == "page_number") {
        return TokenKind::PageNumber;
    }
    if (name == "page_count") {
        return TokenKind::PageCount;
    }
    if (name == "dpi") {
        return TokenKind::Dpi;
    }
    return std::nullopt;
}

Result<Token> parse_token(std::string_view content) {
    const std::size_t colon = content.find(':');
    const auto kind = token_kind(content.substr(0, colon));
    if (!kind) {
        return tl::unexpected(template_error("Unknown token {" + std::string(content) + "}."));
    }
    if (colon == std::string_view::npos) {
        return Token{*kind, 0};
    }
    if (*kind == TokenKind::Original) {
        return tl::unexpected(template_error("{original} does not take a format."));
    }
    const std::string_view format = content.substr(colon + 1);
    if (format.empty() || format.size() > kMaxPaddingDigits) {
        return tl::unexpected(template_error("Padding in {" + std::string(content) +
                                             "} must be 1–9 digits, e.g. 0001."));
    }
    if (!std::all_of(format.begin(), format.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return tl::unexpected(
            template_error("Padding in {" + std::string(content) + "} must be digits, e.g. 0001."));
    }
    // Only the number of digits counts: "0001" and "9999" both mean width 4.
    return Token{*kind, static_cast<std::int32_t>(format.size())};
}

void append_token(const Token& token, const NamingValues& values, std::string& out) {
    switch (token.kind) {
        case TokenKind::Original:
            out += values.original;
            break;
        case TokenKind::PageNumber:
            out += format_padded(values.page_number, token.width);
            break;
        case TokenKind::PageCount:
            out += format_padded(values.page_count, token.width);
            break;
        case TokenKind::Dpi:
            out += format_padded(values.dpi, token.width);
            break;
    }
}

// The checks on the text as a whole, before its tokens are read.
MaybeError check_template_text(std::string_view naming_template) {
    if (naming_template.empty()) {
        return template_error("The naming template is empty.");
    }
    if (naming_template.size() > kMaxTemplateBytes) {
        return template_error("The naming template is too long.");
    }
    if (!utf8::is_valid(naming_template)) {
        return template_error("The naming template is not valid UTF-8.");
    }
    return std::nullopt;
}

// The walk itself; `out` is null when only checking.
MaybeError walk_template(std::string_view naming_template, const NamingValues* values,
                         std::string* out) {
    if (MaybeError error = check_template_text(naming_template)) {
        return error;
    }
    bool has_page_number = false;
    std::size_t at = 0;
    const std::size_t size = naming_template.size();
    while (at < size) {
        const char c = naming_template[at];
        if ((c == '{' || c == '}') && at + 1 < size && naming_template[at + 1] == c) {
            // A doubled brace stands for itself.
            if (out) {
                *out += c;
            }
            at += 2;
        } else if (c == '{') {
            const std::size_t close = naming_template.find('}', at + 1);
            if (close == std::string_view::npos) {
                return template_error("Unclosed '{' in naming template.");
            }
            const auto token = parse_token(naming_template.substr(at + 1, close - at - 1));
            if (!token) {
                return token.error();
            }
            has_page_number = has_page_number || token->kind == TokenKind::PageNumber;
            if (out) {
                append_token(*token, *values, *out);
            }
            at = close + 1;
        } else if (c == '}') {
            return template_error(
                "Unmatched '}' in naming template; use '}}' for a literal brace.");
        } else if (c == '/' || c == '\\') {
            return template_error("The naming template cannot contain folder separators.");
        } else {
            // Characters a file name cannot hold are left to sanitize_file_name.
            if (out) {
                *out += c;
            }
            ++at;
        }
    }
    if (!has_page_number) {
        return template_error("The naming template must include {page_number}.");
    }
    return std::nullopt;
}

bool is_forbidden_ascii(unsigned char byte) {
    if (byte < 0x20 || byte == 0x7F) {
        return true;
    }
    switch (byte) {
        case '"':
        case '*':
        case '/':
        case ':':
        case '<':
        case '>':
        case '?':
        case '\\':
        case '|':
            return true;
        default:
            return false;
    }
}

bool is_space_or_dot(char c) {
    return c == ' ' || c == '.';
}

void strip_trailing_spaces_and_dots(std::string& text) {
    while (!text.empty() && is_space_or_dot(text.back())) {
        text.pop_back();
    }
}

char ascii_upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// The name cleaned but not yet cut to its length.
std::string clean_uncut(std::string_view text) {
    return sanitize_file_name(text, std::numeric_limits<std::size_t>::max());
}

// The expansion with a shorter {original} value that lets the clean name fit
// without a cut, if there is one. Cutting the name at its end would lose
// the page number that usually ends it, and every page would get one name.
std::optional<std::string> shorten_original(std::string_view naming_template,
                                            const NamingValues& values) {
    // The room is measured with the widest page number of the document, so that
    // all its pages cut the value at the same place and their names still differ
    // in their numbers.
    NamingValues probe = values;
    probe.page_number = std::max(values.page_number, values.page_count);
    probe.original.clear();
    std::string without;
    expand_naming_template(naming_template, &probe, &without);
    probe.original = "x";
    std::string with_one;
    expand_naming_template(naming_template, &probe, &with_one);
    const std::size_t uses = with_one.size() - without.size();
    if (uses == 0 || without.size() >= kFileNameBytes) {
        return std::nullopt;
    }
    std::size_t room = (kFileNameBytes - without.size()) / uses;
    // The cut is settled with the widest number too, then used for this page.
    NamingValues widest = probe;
    for (;;) {
        widest.original = std::string(utf8::cut(values.original, room));
        std::string expanded;
        expand_naming_template(naming_template, &widest, &expanded);
        if (clean_uncut(expanded).size() <= kFileNameBytes) {
            break;
        }
        // A device name gained a "_" in front: one character less.
        if (widest.original.empty()) {
            return std::nullopt;
        }
        room = widest.original.size() - 1;
    }
    NamingValues shortened = values;
    shortened.original = widest.original;
    std::string expanded;
    expand_naming_template(naming_template, &shortened, &expanded);
    std::string name = clean_uncut(expanded);
    if (name.size() > kFileNameBytes) {
        return std::nullopt;
    }
    return name;
}

}  // namespace

MaybeError expand_naming_template(std::string_view naming_template, const NamingValues* values,
                                  std::string* out) {
    if (values == nullptr || out == nullptr) {
        return walk_template(naming_template, nullptr, nullptr);
    }
    // A failed walk leaves the caller's text as it was, not half expanded.
    const std::size_t kept = out->size();
    MaybeError error = walk_template(naming_template, values, out);
    if (error) {
        out->resize(kept);
    }
    return error;
}

MaybeError validate_naming_template(std::string_view naming_template) {
    return expand_naming_template(naming_template, nullptr, nullptr);
}

Result<std::string> render_file_name(std::string_view naming_template, const NamingValues& values) {
    std::string expanded;
    if (MaybeError error = expand_naming_template(naming_template, &values, &expanded)) {
        return tl::unexpected(std::move(*error));
    }
    std::string name = clean_uncut(expanded);
    // Whether to shorten is decided by the document's widest page number, so that
    // a page whose name would just fit is not left longer than its neighbours
    // and given a name a shortened one can repeat.
    NamingValues widest = values;
    widest.page_number = std::max(values.page_number, values.page_count);
    std::string widest_expanded;
    expand_naming_template(naming_template, &widest, &widest_expanded);
    if (name.size() <= kFileNameBytes && clean_uncut(widest_expanded).size() <= kFileNameBytes) {
        return name;
    }
    if (auto shortened = shorten_original(naming_template, values)) {
        return std::move(*shortened);
    }
    // Even without the value the template is too long: cut at the end. The
    // driver refuses pages whose names then collide.
    return sanitize_file_name(expanded, kFileNameBytes);
}

std::string sanitize_file_name(std::string_view text, std::size_t limit) {
    const std::size_t max_bytes = std::max(limit, kMinFileNameBytes);

    std::string name;
    name.reserve(text.size());
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t length = utf8::sequence_length(text, at);
        if (length == 0) {
            name += '_';
            at += 1;
        } else if (length == 1) {
            const auto byte = static_cast<unsigned char>(text[at]);
            name += is_forbidden_ascii(byte) ? '_' : static_cast<char>(byte);
            at += 1;
        } else {
            name.append(text.substr(at, length));
            at += length;
        }
    }
    const auto first_kept = std::find_if_not(name.begin(), name.end(), is_space_or_dot);
    name.erase(name.begin(), first_kept);
    strip_trailing_spaces_and_dots(name);

    if (is_reserved_device_name(name)) {
        name.insert(name.begin(), '_');
    }
    if (name.size() > max_bytes) {
        std::size_t cut = max_bytes;
        while (cut > 0 && utf8::is_continuation(static_cast<unsigned char>(name[cut]))) {
            --cut;
        }
        name.resize(cut);
        strip_trailing_spaces_and_dots(name);
        // The cut can bare a device name, as in "COM1" followed by spaces and more
        // text; such a name is at most five bytes, so the prefix still fits.
        if (is_reserved_device_name(name)) {
            name.insert(name.begin(), '_');
        }
    }
    if (name.empty()) {
        return "page";
    }
    return name;
}

bool is_reserved_device_name(std::string_view text) {
    std::string_view stem = text.substr(0, text.find('.'));
    while (!stem.empty() && stem.back() == ' ') {
        stem.remove_suffix(1);
    }
    if (stem.size() < 3 || stem.size() > 5) {
        return false;
    }
    std::string upper(stem);
    std::transform(upper.begin(), upper.end(), upper.begin(), ascii_upper);
    if (upper == "CON" || upper == "PRN" || upper == "AUX" || upper == "NUL") {
        return true;
    }
    const std::string_view head = std::string_view(upper).substr(0, 3);
    if (head != "COM" && head != "LPT") {
        return false;
    }
    const std::string_view tail = std::string_view(upper).substr(3);
    if (tail.size() == 1) {
        return tail[0] >= '0' && tail[0] <= '9';
    }
    // Superscript one, two and three in UTF-8.
    return tail == "\xC2\xB9" || tail == "\xC2\xB2" || tail == "\xC2\xB3";
}

std::string format_padded(std::int64_t number, std::int32_t width) {
    const bool negative = number < 0;
    // Built from the magnitude so that the lowest int64 value does not overflow.
    auto magnitude = static_cast<std::uint64_t>(number);
    if (negative) {
        magnitude = ~magnitude + 1;
    }
    std::string digits = std::to_string(magnitude);
    const std::size_t wanted = width > 0 ? static_cast<std::size_t>(width) : 0;
    const std::size_t used = digits.size() + (negative ? 1 : 0);
    if (used < wanted) {
        digits.insert(0, wanted - used, '0');
    }
    // Zeros go after the sign: -5 at width 4 is "-005".
    return negative ? "-" + digits : digits;
}

}  // namespace bl

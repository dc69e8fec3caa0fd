// Just enough JSON output for the converter's machine-readable mode: one
// object per line, always valid whatever bytes file names contain.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace bl::cli {

// `text` as a JSON string literal with its quotes. Control characters, quotes
// and backslashes are escaped; bytes that do not form valid UTF-8 each become
// U+FFFD, so the output is valid JSON for any input.
std::string json_string(std::string_view text);

// A finite number in the shortest form that reads back exactly; "null" for NaN
// and infinities, which JSON cannot express.
std::string json_number(double value);

// Builds one JSON text; commas between members and elements are added
// automatically. The caller keeps the nesting balanced.
class JsonWriter {
  public:
    JsonWriter& begin_object();
    JsonWriter& end_object();
    JsonWriter& begin_array();
    JsonWriter& end_array();
    // The name of the next member of the current object.
    JsonWriter& key(std::string_view name);

    JsonWriter& string(std::string_view text);
    JsonWriter& number(double value);
    JsonWriter& integer(std::int64_t value);
    JsonWriter& unsigned_integer(std::uint64_t value);
    JsonWriter& boolean(bool value);
    JsonWriter& null();

    const std::string& text() const { return out_; }

  private:
    void before_value();

    std::string out_;
    // Per open object or array: whether it has no member yet.
    std::vector<bool> empty_;
    bool after_key_ = false;
};

}  // namespace bl::cli

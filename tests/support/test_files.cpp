#include "tests/support/test_files.h"

namespace bl {

void PrintTo(const ConvertError& error, std::ostream* out) {
    *out << "{kind " << static_cast<std::uint32_t>(error.kind) << ", \"" << error.message
         << "\", page " << error.page << "}";
}

}  // namespace bl

namespace bl::test {

std::set<std::string> names_in(const std::filesystem::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

}  // namespace bl::test

// Helpers for tests that check the files a unit leaves behind and the errors
// it reports.
#pragma once

#include <filesystem>
#include <ostream>
#include <set>
#include <string>

#include "bl/convert_types.h"

namespace bl {

// Lets GoogleTest print an error that failed a comparison; found by argument lookup.
void PrintTo(const ConvertError& error, std::ostream* out);

}  // namespace bl

namespace bl::test {

// The error a step failed with, so that an outcome is checked in one comparison;
// a success shows as an error no step reports.
template <class T>
ConvertError error_of(const Result<T>& result) {
    return result ? make_error(ErrorKind::InternalError, "(no error: the step succeeded)")
                  : result.error();
}

// Every entry of the folder by name, hidden ones (such as temporary files) included.
std::set<std::string> names_in(const std::filesystem::path& folder);

}  // namespace bl::test

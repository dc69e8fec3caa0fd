// What a PDF holds, read without converting it: the page count and sizes, the
// version and the encryption.
#pragma once

#include <filesystem>
#include <string>

#include "bl/convert_types.h"
#include "bl/secret.h"

namespace bl {

// Checks and opens the file in a render helper, reads the document's facts and
// closes it again. The password is wiped in every outcome. Never throws.
Result<DocumentInfo> inspect_pdf(const std::filesystem::path& path, Secret password,
                                 const ConvertLimits& limits);

}  // namespace bl

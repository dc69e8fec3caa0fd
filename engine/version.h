// What the programs report about themselves.
#pragma once

#include <string>

namespace bl {

struct VersionInfo {
    std::string application;
    std::string pdfium;
    std::string libjpeg_turbo;
};

// The versions of the application and of the libraries it was built with.
VersionInfo version_info();

}  // namespace bl

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

// The sandbox the render helpers run in on this system, as a started helper
// reports it: "seccomp, Landlock ABI 3", "seccomp only", "none", or
// "unavailable" when no helper starts.
std::string sandbox_summary();

}  // namespace bl

#include "bl/version.h"

#include "engine/render_helper.h"

namespace bl {

VersionInfo version_info() {
    return VersionInfo{BL_APP_VERSION, BL_PDFIUM_BUILD, BL_TURBOJPEG_VERSION};
}

std::string sandbox_summary() {
    namespace proto = protocol;
    const auto hello = probe_helper();
    if (!hello) {
        return "unavailable";
    }
    const bool seccomp = (hello->sandbox & proto::kSeccomp) != 0;
    const bool landlock = (hello->sandbox & proto::kLandlock) != 0;
    const std::string landlock_text = "Landlock ABI " + std::to_string(hello->landlock_abi);
    if (seccomp && landlock) {
        return "seccomp, " + landlock_text;
    }
    if (seccomp) {
        return "seccomp only";
    }
    if (landlock) {
        return landlock_text + " only";
    }
    return "none";
}

}  // namespace bl

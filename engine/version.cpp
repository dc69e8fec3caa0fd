#include "bl/version.h"

namespace bl {

VersionInfo version_info() {
    return VersionInfo{BL_APP_VERSION, BL_PDFIUM_BUILD, BL_TURBOJPEG_VERSION};
}

}  // namespace bl

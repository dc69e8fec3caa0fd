# Finds a libjpeg-turbo that offers the TurboJPEG 3 interface and defines the
# imported target TurboJpeg3::TurboJpeg3 and TURBOJPEG_VERSION.
#
# A system libturbojpeg 3.0 or newer found through pkg-config wins; otherwise the
# copy that scripts/setup fetched from the npm registry is used.
find_package(PkgConfig QUIET)
if(PkgConfig_FOUND)
    pkg_check_modules(PC_TURBOJPEG QUIET IMPORTED_TARGET libturbojpeg>=3.0)
endif()

if(PC_TURBOJPEG_FOUND)
    add_library(TurboJpeg3::TurboJpeg3 ALIAS PkgConfig::PC_TURBOJPEG)
    set(TURBOJPEG_VERSION "${PC_TURBOJPEG_VERSION}" CACHE STRING "libjpeg-turbo version")
    set(TURBOJPEG_PINNED_LIBRARY "")
    set(TurboJpeg3_FOUND TRUE)
else()
    find_file(TURBOJPEG_PINNED_LIBRARY NAMES libturbojpeg.so.0 PATHS "${BL_DEPS_DIR}/turbojpeg"
              NO_DEFAULT_PATH)
    include(FindPackageHandleStandardArgs)
    find_package_handle_standard_args(TurboJpeg3
        REQUIRED_VARS TURBOJPEG_PINNED_LIBRARY
        FAIL_MESSAGE "libturbojpeg 3 not found: run scripts/setup")
    if(TurboJpeg3_FOUND AND NOT TARGET TurboJpeg3::TurboJpeg3)
        add_library(TurboJpeg3::TurboJpeg3 SHARED IMPORTED)
        set_target_properties(TurboJpeg3::TurboJpeg3 PROPERTIES
            IMPORTED_LOCATION "${TURBOJPEG_PINNED_LIBRARY}"
            IMPORTED_SONAME "libturbojpeg.so.0")
        set(TURBOJPEG_VERSION "3.1.3" CACHE STRING "libjpeg-turbo version")
    endif()
endif()

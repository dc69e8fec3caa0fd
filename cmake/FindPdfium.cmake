# Finds PDFium and defines the imported target Pdfium::Pdfium and the cache
# variable PDFIUM_BUILD (the PDFium build the library was made from).
#
# A system PDFium found through pkg-config wins; otherwise the copy that
# scripts/setup took out of Debian's libreoffice-core package is used.
find_package(PkgConfig QUIET)
if(PkgConfig_FOUND)
    pkg_check_modules(PC_PDFIUM QUIET IMPORTED_TARGET pdfium)
endif()

if(PC_PDFIUM_FOUND)
    add_library(Pdfium::Pdfium ALIAS PkgConfig::PC_PDFIUM)
    set(PDFIUM_BUILD "system ${PC_PDFIUM_VERSION}")
    set(PDFIUM_PINNED_LIBRARY "")
    set(Pdfium_FOUND TRUE)
else()
    find_library(PDFIUM_PINNED_LIBRARY NAMES pdfiumlo PATHS "${BL_DEPS_DIR}/pdfium" NO_DEFAULT_PATH)
    include(FindPackageHandleStandardArgs)
    find_package_handle_standard_args(Pdfium
        REQUIRED_VARS PDFIUM_PINNED_LIBRARY
        FAIL_MESSAGE "PDFium not found: run scripts/setup")
    if(Pdfium_FOUND AND NOT TARGET Pdfium::Pdfium)
        add_library(Pdfium::Pdfium SHARED IMPORTED)
        # The library carries no SONAME, so it must be linked by name, not by path,
        # or the path of this checkout would end up in the program.
        set_target_properties(Pdfium::Pdfium PROPERTIES
            IMPORTED_LOCATION "${PDFIUM_PINNED_LIBRARY}"
            IMPORTED_NO_SONAME TRUE)
        # The library carries no version of its own; name the LibreOffice release
        # whose build it is, as scripts/setup recorded it.
        set(PDFIUM_BUILD "LibreOffice build")
        if(EXISTS "${BL_DEPS_DIR}/pdfium/SOURCE")
            file(READ "${BL_DEPS_DIR}/pdfium/SOURCE" _pdfium_source)
            if(_pdfium_source MATCHES ":([0-9]+\\.[0-9]+\\.[0-9]+)")
                set(PDFIUM_BUILD "LibreOffice ${CMAKE_MATCH_1} build")
            endif()
        endif()
    endif()
endif()

# The Debian package, brightleaf_<version>_amd64.deb, made by `cpack -G DEB`
# (scripts/package) from the install component "deb" (cmake/Install.cmake).
set(CPACK_PACKAGE_NAME "brightleaf")
set(CPACK_PACKAGE_VENDOR "Brightleaf")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_CONTACT "Brightleaf maintainers <maintainers@brightleaf.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "convert PDF pages to JPG images on this computer")
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)

# Only the package's own component, as one package of the project's name.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL deb)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "graphics")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
# The summary above is the synopsis; this is the long description.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Brightleaf turns the pages of PDF documents into JPEG images, in a desktop
window (brightleaf) or on the command line (brightleaf-convert). It offers
page selections, resolutions up to 600 DPI, naming templates, a policy for
existing files and ZIP archives of each document's images.
.
Nothing leaves the computer: reading, rendering, encoding and writing all
happen locally.")
# Depends comes from the binaries: dpkg-shlibdeps reads what every program and
# library links, and finds our two private libraries through their rpath.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS "usr/lib/brightleaf")
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
# Nor are they for ldconfig: no maintainer script calls it.
set(CPACK_POST_BUILD_SCRIPTS "${CMAKE_CURRENT_LIST_DIR}/DropLdconfigScripts.cmake")
# Qt's own translations, for its dialogs and standard buttons in the user's
# language; without them those stay in English.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")

include(CPack)

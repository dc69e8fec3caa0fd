# Two installations from one build.
#
# The default one (`cmake --install`, prefix /opt/brightleaf unless given) is a
# folder of its own: the programs, the render helper and the pinned libraries
# side by side, found through the $ORIGIN rpath, and the licence texts of what
# they use in licenses/.
#
# The component "deb" (`cmake --install --component deb`, prefix /usr), which
# the Debian package is made of (cmake/Package.cmake): the programs in bin/, the
# render helper and the pinned libraries in lib/brightleaf/, the desktop entry,
# the icon in the hicolor theme, the AppStream metainfo, the man pages, an empty
# mailcap registration, and one copyright file with every licence.
if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
    set(CMAKE_INSTALL_PREFIX "/opt/brightleaf" CACHE PATH "Installation folder" FORCE)
endif()

set(BL_PRIVATE_DIR "lib/brightleaf")
set(BL_PROGRAMS "")
foreach(program IN ITEMS brightleaf brightleaf-convert)
    if(TARGET ${program})
        list(APPEND BL_PROGRAMS ${program})
    endif()
endforeach()

# The programs carry the package's rpath, the longer of the two, so that the
# default installation can shorten it in place to $ORIGIN afterwards.
foreach(program IN LISTS BL_PROGRAMS)
    set_target_properties(${program} PROPERTIES INSTALL_RPATH "$ORIGIN/../${BL_PRIVATE_DIR}")
endforeach()

set(BL_PINNED_LIBRARIES "")
foreach(library IN ITEMS "${PDFIUM_PINNED_LIBRARY}" "${TURBOJPEG_PINNED_LIBRARY}")
    if(library)
        list(APPEND BL_PINNED_LIBRARIES "${library}")
    endif()
endforeach()

# Licence texts, each under the name of what it covers: our own, the pinned
# copies', and those of the Debian packages of the libraries in use.
set(BL_LICENSE_FILES "Brightleaf.txt=${PROJECT_SOURCE_DIR}/LICENSE")
if(PDFIUM_PINNED_LIBRARY)
    list(APPEND BL_LICENSE_FILES
         "PDFium (from libreoffice-core).txt=${BL_DEPS_DIR}/pdfium/copyright")
endif()
if(TURBOJPEG_PINNED_LIBRARY)
    list(APPEND BL_LICENSE_FILES
         "libjpeg-turbo npm package.txt=${BL_DEPS_DIR}/turbojpeg/LICENSE.npm-package")
endif()
list(APPEND BL_LICENSE_FILES
    "libjpeg-turbo.txt=/usr/share/doc/libjpeg62-turbo/copyright"
    "FreeType.txt=/usr/share/doc/libfreetype6/copyright"
    "Qt.txt=/usr/share/doc/libqt6core6/copyright"
    "GNU LGPL 3.txt=/usr/share/common-licenses/LGPL-3"
    "GNU GPL 3.txt=/usr/share/common-licenses/GPL-3"
    "Little CMS.txt=/usr/share/doc/liblcms2-2/copyright"
    "OpenJPEG.txt=/usr/share/doc/libopenjp2-7/copyright"
    "ICU.txt=/usr/share/doc/libicu72/copyright"
    "Abseil.txt=/usr/share/doc/libabsl20220623/copyright"
    "zlib.txt=/usr/share/doc/zlib1g/copyright")

# --- The folder of its own ------------------------------------------------------

foreach(program IN LISTS BL_PROGRAMS)
    install(TARGETS ${program} RUNTIME DESTINATION .)
endforeach()
install(CODE "set(BL_PROGRAMS \"${BL_PROGRAMS}\")")
install(SCRIPT "${CMAKE_CURRENT_LIST_DIR}/InstallBesideRpath.cmake")
# The render helper sits beside the programs here, and with the libraries in
# the package.
if(TARGET brightleaf-render)
    install(TARGETS brightleaf-render RUNTIME DESTINATION .)
endif()
install(FILES ${BL_PINNED_LIBRARIES} DESTINATION .)
foreach(entry IN LISTS BL_LICENSE_FILES)
    string(FIND "${entry}" "=" split)
    string(SUBSTRING "${entry}" 0 ${split} name)
    math(EXPR start "${split} + 1")
    string(SUBSTRING "${entry}" ${start} -1 source)
    if(EXISTS "${source}")
        install(FILES "${source}" DESTINATION licenses RENAME "${name}")
    endif()
endforeach()

# --- The Debian package's files -------------------------------------------------

foreach(program IN LISTS BL_PROGRAMS)
    install(TARGETS ${program} RUNTIME DESTINATION bin COMPONENT deb EXCLUDE_FROM_ALL)
endforeach()
if(TARGET brightleaf-render)
    install(TARGETS brightleaf-render RUNTIME DESTINATION "${BL_PRIVATE_DIR}"
            COMPONENT deb EXCLUDE_FROM_ALL)
endif()
install(FILES ${BL_PINNED_LIBRARIES} DESTINATION "${BL_PRIVATE_DIR}"
        COMPONENT deb EXCLUDE_FROM_ALL)
# The npm copy of libjpeg-turbo comes with its symbols; a package ships it
# stripped, like the programs.
if(TURBOJPEG_PINNED_LIBRARY AND CMAKE_STRIP)
    get_filename_component(turbojpeg_name "${TURBOJPEG_PINNED_LIBRARY}" NAME)
    install(CODE "execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-unneeded
                      \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${BL_PRIVATE_DIR}/${turbojpeg_name}\"
                      COMMAND_ERROR_IS_FATAL ANY)"
            COMPONENT deb EXCLUDE_FROM_ALL)
endif()
install(FILES "${PROJECT_SOURCE_DIR}/packaging/lintian-overrides" DESTINATION share/lintian/overrides
        RENAME brightleaf COMPONENT deb EXCLUDE_FROM_ALL)

set(BL_PACKAGING_DIR "${PROJECT_SOURCE_DIR}/packaging")
set(BL_PACKAGE_BUILD_DIR "${PROJECT_BINARY_DIR}/package-files")

# Compressed man pages and changelog, and the copyright file, made at build time.
find_program(BL_GZIP gzip REQUIRED)
set(package_files "")
foreach(page IN ITEMS brightleaf brightleaf-convert)
    if(TARGET ${page})
        set(gz "${BL_PACKAGE_BUILD_DIR}/${page}.1.gz")
        add_custom_command(OUTPUT "${gz}"
            COMMAND "${CMAKE_COMMAND}" -E make_directory "${BL_PACKAGE_BUILD_DIR}"
            COMMAND sh -c "\"${BL_GZIP}\" -9n < \"${BL_PACKAGING_DIR}/man/${page}.1\" > \"${gz}\""
            DEPENDS "${BL_PACKAGING_DIR}/man/${page}.1"
            VERBATIM)
        list(APPEND package_files "${gz}")
        install(FILES "${gz}" DESTINATION share/man/man1 COMPONENT deb EXCLUDE_FROM_ALL)
    endif()
endforeach()
set(changelog "${BL_PACKAGE_BUILD_DIR}/changelog.gz")
add_custom_command(OUTPUT "${changelog}"
    COMMAND "${CMAKE_COMMAND}" -E make_directory "${BL_PACKAGE_BUILD_DIR}"
    COMMAND sh -c "\"${BL_GZIP}\" -9n < \"${BL_PACKAGING_DIR}/changelog\" > \"${changelog}\""
    DEPENDS "${BL_PACKAGING_DIR}/changelog"
    VERBATIM)
set(copyright "${BL_PACKAGE_BUILD_DIR}/copyright")
set(license_sources "")
foreach(entry IN LISTS BL_LICENSE_FILES)
    string(FIND "${entry}" "=" split)
    math(EXPR start "${split} + 1")
    string(SUBSTRING "${entry}" ${start} -1 source)
    if(EXISTS "${source}")
        list(APPEND license_sources "${source}")
    endif()
endforeach()
add_custom_command(OUTPUT "${copyright}"
    COMMAND "${CMAKE_COMMAND}" -DHEADER=${BL_PACKAGING_DIR}/copyright.in -DOUTPUT=${copyright}
            "-DLICENSES=${BL_LICENSE_FILES}" -P "${CMAKE_CURRENT_LIST_DIR}/MakeCopyright.cmake"
    DEPENDS "${BL_PACKAGING_DIR}/copyright.in" "${CMAKE_CURRENT_LIST_DIR}/MakeCopyright.cmake"
            ${license_sources}
    VERBATIM)
list(APPEND package_files "${changelog}" "${copyright}")
add_custom_target(package_files ALL DEPENDS ${package_files})
install(FILES "${changelog}" "${copyright}" DESTINATION share/doc/brightleaf
        COMPONENT deb EXCLUDE_FROM_ALL)

if(TARGET brightleaf)
    set(BL_APP_ID "org.brightleaf.Brightleaf")
    install(FILES "${BL_PACKAGING_DIR}/${BL_APP_ID}.desktop" DESTINATION share/applications
            COMPONENT deb EXCLUDE_FROM_ALL)
    install(FILES "${BL_PACKAGING_DIR}/${BL_APP_ID}.metainfo.xml" DESTINATION share/metainfo
            COMPONENT deb EXCLUDE_FROM_ALL)
    # No mailcap entry from the desktop entry: Brightleaf is no PDF viewer.
    install(FILES "${BL_PACKAGING_DIR}/mailcap" DESTINATION lib/mime/packages RENAME ${BL_APP_ID}
            COMPONENT deb EXCLUDE_FROM_ALL)
    install(FILES "${BL_PACKAGING_DIR}/icons/brightleaf.svg"
            DESTINATION share/icons/hicolor/scalable/apps COMPONENT deb EXCLUDE_FROM_ALL)
    foreach(size IN LISTS BL_ICON_SIZES)
        install(FILES "${BL_ICON_DIR}/${size}.png"
                DESTINATION "share/icons/hicolor/${size}x${size}/apps" RENAME brightleaf.png
                COMPONENT deb EXCLUDE_FROM_ALL)
    endforeach()
endif()

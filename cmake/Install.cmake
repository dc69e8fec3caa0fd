# A runnable installation: the programs, the pinned libraries beside them (found
# through the $ORIGIN rpath), and the licence texts of what they use in licenses/.
if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
    set(CMAKE_INSTALL_PREFIX "/opt/brightleaf" CACHE PATH "Installation folder" FORCE)
endif()

foreach(program IN ITEMS brightleaf brightleaf-convert brightleaf-render)
    if(TARGET ${program})
        install(TARGETS ${program} RUNTIME DESTINATION .)
    endif()
endforeach()

if(PDFIUM_PINNED_LIBRARY)
    install(FILES "${PDFIUM_PINNED_LIBRARY}" DESTINATION .)
    install(FILES "${BL_DEPS_DIR}/pdfium/copyright" DESTINATION licenses
            RENAME "PDFium (from libreoffice-core).txt")
endif()
if(TURBOJPEG_PINNED_LIBRARY)
    install(FILES "${TURBOJPEG_PINNED_LIBRARY}" DESTINATION .)
    install(FILES "${BL_DEPS_DIR}/turbojpeg/LICENSE.npm-package" DESTINATION licenses
            RENAME "libjpeg-turbo npm package.txt")
endif()

# Licence texts from the Debian packages of the libraries in use, each under the
# name of what it covers.
set(BL_LICENSE_FILES
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
foreach(entry IN LISTS BL_LICENSE_FILES)
    string(REPLACE "=" ";" parts "${entry}")
    list(GET parts 0 name)
    list(GET parts 1 source)
    if(EXISTS "${source}")
        install(FILES "${source}" DESTINATION licenses RENAME "${name}")
    endif()
endforeach()

# Installs the build into a fresh folder and checks that the result stands on its
# own: the programs find the pinned libraries beside them, not in the checkout,
# and the licence texts are there.
#   cmake -DBUILD_DIR=... -DPREFIX=... -P install_check.cmake
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE status OUTPUT_QUIET)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "cmake --install failed")
endif()

foreach(required IN ITEMS libpdfiumlo.so libturbojpeg.so.0 licenses/Brightleaf.txt
                          licenses/FreeType.txt licenses/libjpeg-turbo.txt "licenses/GNU LGPL 3.txt"
                          licenses/Qt.txt)
    if(NOT EXISTS "${PREFIX}/${required}")
        message(FATAL_ERROR "the installation lacks ${required}")
    endif()
endforeach()

set(programs "")
foreach(program IN ITEMS brightleaf brightleaf-convert brightleaf-render)
    if(EXISTS "${PREFIX}/${program}")
        list(APPEND programs "${PREFIX}/${program}")
    endif()
endforeach()
if(programs STREQUAL "")
    message(FATAL_ERROR "no program was installed")
endif()

foreach(program IN LISTS programs)
    execute_process(COMMAND ldd "${program}" OUTPUT_VARIABLE libraries RESULT_VARIABLE status)
    if(NOT status EQUAL 0 OR libraries MATCHES "not found")
        message(FATAL_ERROR "${program} has unresolved libraries:\n${libraries}")
    endif()
    # Only the render helper links PDFium; whatever a program loads of the pinned
    # copies must come from beside it.
    foreach(library IN ITEMS libpdfiumlo.so libturbojpeg.so.0)
        if(libraries MATCHES "${library} =>" AND
           NOT libraries MATCHES "${library} => ${PREFIX}/${library}")
            message(FATAL_ERROR "${program} does not load ${library} from beside itself:\n${libraries}")
        endif()
    endforeach()
endforeach()
if(NOT EXISTS "${PREFIX}/brightleaf-render")
    message(FATAL_ERROR "the render helper was not installed")
endif()
execute_process(COMMAND ldd "${PREFIX}/brightleaf-render" OUTPUT_VARIABLE libraries)
if(NOT libraries MATCHES "libpdfiumlo.so => ${PREFIX}/libpdfiumlo.so")
    message(FATAL_ERROR "the render helper does not load PDFium from beside itself:\n${libraries}")
endif()

if(EXISTS "${PREFIX}/brightleaf-convert")
    execute_process(COMMAND "${PREFIX}/brightleaf-convert" --version
                    RESULT_VARIABLE status OUTPUT_VARIABLE version)
    if(NOT status EQUAL 0 OR NOT version MATCHES "0\\.1\\.0")
        message(FATAL_ERROR "the installed converter does not run: ${status} ${version}")
    endif()
    # A real conversion, through the helper installed beside the converter. The
    # file's cross-reference table is left for PDFium to rebuild.
    set(work "${PREFIX}-work")
    file(REMOVE_RECURSE "${work}")
    file(MAKE_DIRECTORY "${work}")
    file(WRITE "${work}/one.pdf" "%PDF-1.4
1 0 obj << /Type /Catalog /Pages 2 0 R >> endobj
2 0 obj << /Type /Pages /Kids [3 0 R] /Count 1 >> endobj
3 0 obj << /Type /Page /Parent 2 0 R /MediaBox [0 0 72 72] >> endobj
trailer << /Root 1 0 R >>
%%EOF
")
    execute_process(COMMAND "${PREFIX}/brightleaf-convert" -o "${work}" "${work}/one.pdf"
                    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT status EQUAL 0 OR NOT EXISTS "${work}/one_page_0001.jpg")
        message(FATAL_ERROR "the installed converter cannot convert: ${status} ${out} ${err}")
    endif()
    file(REMOVE_RECURSE "${work}")
endif()

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

foreach(required IN ITEMS libpdfiumlo.so libturbojpeg.so.0 licenses/FreeType.txt
                          licenses/libjpeg-turbo.txt "licenses/GNU LGPL 3.txt" licenses/Qt.txt)
    if(NOT EXISTS "${PREFIX}/${required}")
        message(FATAL_ERROR "the installation lacks ${required}")
    endif()
endforeach()

set(programs "")
foreach(program IN ITEMS brightleaf brightleaf-convert)
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
    foreach(library IN ITEMS libpdfiumlo.so libturbojpeg.so.0)
        if(NOT libraries MATCHES "${library} => ${PREFIX}/${library}")
            message(FATAL_ERROR "${program} does not load ${library} from beside itself:\n${libraries}")
        endif()
    endforeach()
endforeach()

if(EXISTS "${PREFIX}/brightleaf-convert")
    execute_process(COMMAND "${PREFIX}/brightleaf-convert" --version
                    RESULT_VARIABLE status OUTPUT_VARIABLE version)
    if(NOT status EQUAL 0 OR NOT version MATCHES "0\\.1\\.0")
        message(FATAL_ERROR "the installed converter does not run: ${status} ${version}")
    endif()
endif()

# Run by cpack once the package is made (CPACK_POST_BUILD_SCRIPTS).
#
# CPack's DEB generator gives every package that holds a shared library under
# /usr/lib a postinst and a postrm that run ldconfig, even when the libraries
# sit in a private folder that ldconfig never reads, as ours do in
# /usr/lib/brightleaf: the programs find them through their RUNPATH. Such
# scripts do nothing useful (lintian: maintscript-calls-ldconfig), so the
# package is made again without them. A script that does more stays.
foreach(package IN LISTS CPACK_PACKAGE_FILES)
    if(NOT package MATCHES "\\.deb$")
        continue()
    endif()
    set(tree "${package}.tree")
    file(REMOVE_RECURSE "${tree}")
    execute_process(COMMAND dpkg-deb --raw-extract "${package}" "${tree}"
                    COMMAND_ERROR_IS_FATAL ANY)
    set(changed FALSE)
    foreach(script IN ITEMS postinst postrm)
        if(EXISTS "${tree}/DEBIAN/${script}")
            file(READ "${tree}/DEBIAN/${script}" text)
            string(REGEX REPLACE "#![^\n]*|set -e|if \\[[^\n]*then|ldconfig|fi|[ \t\n]" ""
                   rest "${text}")
            if(rest STREQUAL "")
                file(REMOVE "${tree}/DEBIAN/${script}")
                set(changed TRUE)
            endif()
        endif()
    endforeach()
    if(changed)
        execute_process(COMMAND dpkg-deb --root-owner-group --build "${tree}" "${package}"
                        OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
    endif()
    file(REMOVE_RECURSE "${tree}")
endforeach()

# One step of the package's checks (see CMakeLists.txt beside this file):
#   cmake -DSTEP=build|files|install|handlers|lint -DWORK=... -DBUILD_DIR=... -DSOURCE_DIR=...
#         -DCPACK=... -DMAKE_PDF=... -P package_test.cmake
set(deb "${WORK}/brightleaf_0.1.0_amd64.deb")

function(run)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out
                    ERROR_VARIABLE err)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "${ARGN} failed (${status}):\n${out}\n${err}")
    endif()
    set(out "${out}" PARENT_SCOPE)
    set(err "${err}" PARENT_SCOPE)
endfunction()

# A fresh dpkg root with only this package in it, made with the package and
# shared by the steps that follow.
set(root "${WORK}/root")

if(STEP STREQUAL "build")
    file(REMOVE_RECURSE "${WORK}")
    run("${CPACK}" -G DEB -B "${WORK}" --config "${BUILD_DIR}/CPackConfig.cmake")
    if(NOT EXISTS "${deb}")
        message(FATAL_ERROR "cpack made no ${deb}:\n${out}")
    endif()
    file(MAKE_DIRECTORY "${root}/var/lib/dpkg/info" "${root}/var/lib/dpkg/updates")
    file(TOUCH "${root}/var/lib/dpkg/status")
    # Unpacked, not configured: the fresh root has none of the packages it
    # depends on, nor a shell for maintainer scripts.
    run(dpkg --root=${root} --force-not-root --force-depends --unpack "${deb}")
    return()
endif()

if(STEP STREQUAL "files")
    run(dpkg --root=${root} --listfiles brightleaf)
    string(REPLACE "\n" ";" listed "${out}")
    set(files "")
    foreach(path IN LISTS listed)
        if(NOT path STREQUAL "" AND NOT IS_DIRECTORY "${root}${path}")
            list(APPEND files "${path}")
        endif()
    endforeach()
    file(STRINGS "${SOURCE_DIR}/tests/package/expected_files.txt" expected)
    list(SORT files)
    list(SORT expected)
    if(NOT files STREQUAL expected)
        list(JOIN files "\n  " got)
        list(JOIN expected "\n  " want)
        message(FATAL_ERROR "the package holds\n  ${got}\ninstead of\n  ${want}")
    endif()
    return()
endif()

if(STEP STREQUAL "install")
    set(convert "${root}/usr/bin/brightleaf-convert")
    run("${convert}" --version)
    if(NOT out MATCHES "brightleaf-convert 0\\.1\\.0")
        message(FATAL_ERROR "unexpected version text: ${out}")
    endif()
    # The programs load what they use of the pinned libraries from the package's
    # private folder; the render helper, the only one to use PDFium, lives there.
    foreach(program IN ITEMS bin/brightleaf bin/brightleaf-convert lib/brightleaf/brightleaf-render)
        run(ldd "${root}/usr/${program}")
        get_filename_component(folder "${root}/usr/${program}" DIRECTORY)
        foreach(library IN ITEMS libpdfiumlo.so libturbojpeg.so.0)
            if(out MATCHES "${library} =>" AND
               NOT out MATCHES "${library} => ${folder}/(\\.\\./lib/brightleaf/)?${library}")
                message(FATAL_ERROR "${program} does not load ${library} from lib/brightleaf:\n${out}")
            endif()
        endforeach()
    endforeach()
    run(ldd "${root}/usr/lib/brightleaf/brightleaf-render")
    if(NOT out MATCHES "libpdfiumlo.so => ${root}/usr/lib/brightleaf/libpdfiumlo.so")
        message(FATAL_ERROR "the render helper does not load PDFium beside itself:\n${out}")
    endif()
    set(pages "${WORK}/pages")
    file(REMOVE_RECURSE "${pages}")
    file(MAKE_DIRECTORY "${pages}")
    run("${MAKE_PDF}" "${WORK}/one page.pdf" 1)
    run("${convert}" -o "${pages}" -r 72 "${WORK}/one page.pdf")
    file(GLOB written RELATIVE "${pages}" "${pages}/*")
    if(NOT written STREQUAL "one page_page_0001.jpg")
        message(FATAL_ERROR "the installed converter wrote: ${written}")
    endif()
    file(READ "${pages}/one page_page_0001.jpg" head LIMIT 3 HEX)
    if(NOT head STREQUAL "ffd8ff")
        message(FATAL_ERROR "not a JPEG file: ${head}")
    endif()
    return()
endif()

if(STEP STREQUAL "handlers")
    # Offered for PDF files under "Open with", never made their viewer. Debian's
    # update-mime, pointed at the fresh root, must write no mailcap entry for us.
    file(READ /usr/sbin/update-mime script)
    string(REGEX REPLACE "\"/(etc|usr)/" "\"${root}/\\1/" script "${script}")
    file(WRITE "${WORK}/update-mime" "${script}")
    file(MAKE_DIRECTORY "${root}/etc")
    file(COPY_FILE /usr/lib/mime/mailcap "${root}/etc/mailcap")
    run(perl "${WORK}/update-mime")
    file(STRINGS "${root}/etc/mailcap" entries REGEX "brightleaf")
    if(entries)
        message(FATAL_ERROR "the package makes mailcap entries: ${entries}")
    endif()
    file(GLOB_RECURSE claims "${root}/*mimeapps.list" "${root}/*defaults.list")
    if(claims)
        message(FATAL_ERROR "the package sets default applications: ${claims}")
    endif()
    run(update-desktop-database "${root}/usr/share/applications")
    set(none "${WORK}/no-settings")
    file(MAKE_DIRECTORY "${none}")
    run(env LC_ALL=C PATH=${root}/usr/bin:$ENV{PATH} XDG_DATA_DIRS=${root}/usr/share
            XDG_DATA_HOME=${none} XDG_CONFIG_HOME=${none} XDG_CONFIG_DIRS=${none}
            gio mime application/pdf)
    if(NOT out MATCHES "Registered applications:\n\torg\\.brightleaf\\.Brightleaf\\.desktop\n")
        message(FATAL_ERROR "Brightleaf is not offered for PDF files:\n${out}")
    endif()
    return()
endif()

if(STEP STREQUAL "lint")
    execute_process(COMMAND lintian --display-info --tag-display-limit 0 "${deb}"
                    OUTPUT_VARIABLE out ERROR_VARIABLE err)
    # Clean, and our own programs built with every hardening flag; the pinned
    # libraries come built as they are.
    if(out MATCHES "(^|\n)[EW]: " OR
       out MATCHES "hardening-[a-z-]+ \\[usr/(bin/|lib/brightleaf/brightleaf-render)")
        message(FATAL_ERROR "lintian reports:\n${out}")
    endif()
    run(desktop-file-validate
        "${root}/usr/share/applications/org.brightleaf.Brightleaf.desktop")
    run(appstreamcli validate --no-net
        "${root}/usr/share/metainfo/org.brightleaf.Brightleaf.metainfo.xml")
    return()
endif()

message(FATAL_ERROR "unknown step ${STEP}")

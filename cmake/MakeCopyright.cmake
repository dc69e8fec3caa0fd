# Builds the package's copyright file: our own notice, then every licence text
# the programs are shipped under, each headed with what it covers.
#   cmake -DHEADER=... -DOUTPUT=... -DLICENSES="name=path;..." -P MakeCopyright.cmake
file(READ "${HEADER}" text)
foreach(entry IN LISTS LICENSES)
    string(FIND "${entry}" "=" split)
    string(SUBSTRING "${entry}" 0 ${split} name)
    math(EXPR start "${split} + 1")
    string(SUBSTRING "${entry}" ${start} -1 source)
    if(NOT EXISTS "${source}")
        continue()
    endif()
    if(source MATCHES "^/usr/share/common-licenses/")
        # Debian policy: the licences every system has are referred to, not copied.
        set(licence "On Debian systems, the full text of the ${name} licence is in\n${source}.\n")
        string(REPLACE ".txt licence" " licence" licence "${licence}")
    else()
        file(READ "${source}" licence)
    endif()
    string(APPEND text "\n\n==============================================================================\n"
                       "${name}\n"
                       "==============================================================================\n\n"
                       "${licence}")
endforeach()
file(WRITE "${OUTPUT}" "${text}")

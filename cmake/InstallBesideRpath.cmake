# Part of the default installation: the programs there find the pinned
# libraries beside themselves, so their rpath is shortened from the package's
# "$ORIGIN/../lib/brightleaf" to "$ORIGIN". BL_PROGRAMS names them.
foreach(program IN LISTS BL_PROGRAMS)
    set(file "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${program}")
    if(EXISTS "${file}")
        file(RPATH_CHANGE FILE "${file}" OLD_RPATH "$ORIGIN/../lib/brightleaf"
             NEW_RPATH "$ORIGIN")
    endif()
endforeach()

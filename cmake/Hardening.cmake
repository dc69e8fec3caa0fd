# Debian's hardening flags, as dpkg-buildflags gives them with every hardening
# feature on: fortified functions, the stack protector, relro and bindnow. The
# programs parse untrusted PDFs, so every optimised build of our own targets gets
# them (the pinned libraries come built). Not in sanitizer or fuzzer builds,
# whose instrumentation they would disturb (fortify hides calls from ASan), nor
# without optimisation, where fortify does nothing but warn.
option(BL_HARDENING "Build our own targets with Debian's hardening flags" ON)
add_library(bl_hardening INTERFACE)
if(NOT BL_HARDENING OR NOT BL_SANITIZE STREQUAL "" OR BL_BUILD_FUZZERS)
    return()
endif()

# Without dpkg-buildflags (not Debian), what it gives on Debian 12.
set(compile_flags -fstack-protector-strong -Wformat -Werror=format-security -D_FORTIFY_SOURCE=2)
set(link_flags -Wl,-z,relro -Wl,-z,now)
find_program(BL_DPKG_BUILDFLAGS dpkg-buildflags)
if(BL_DPKG_BUILDFLAGS)
    set(compile_flags "")
    set(link_flags "")
    foreach(kind IN ITEMS CPPFLAGS CXXFLAGS LDFLAGS)
        execute_process(COMMAND "${CMAKE_COMMAND}" -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
                                "${BL_DPKG_BUILDFLAGS}" --get ${kind}
                        OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE
                        COMMAND_ERROR_IS_FATAL ANY)
        separate_arguments(flags UNIX_COMMAND "${flags}")
        foreach(flag IN LISTS flags)
            # Only the hardening features: optimisation, debug information and
            # path mapping stay the build type's.
            if(flag MATCHES "^-Wl,")
                list(APPEND link_flags "${flag}")
            elseif(flag MATCHES "^(-D_FORTIFY_SOURCE|-fstack-|-fcf-protection|-Wformat|-Werror=format)")
                list(APPEND compile_flags "${flag}")
            endif()
        endforeach()
    endforeach()
endif()
set(optimised "$<CONFIG:Release,RelWithDebInfo,MinSizeRel>")
target_compile_options(bl_hardening INTERFACE "$<${optimised}:${compile_flags}>")
target_link_options(bl_hardening INTERFACE "$<${optimised}:${link_flags}>")
list(JOIN compile_flags " " shown)
list(JOIN link_flags " " shown_link)
message(STATUS "Hardening of optimised builds: ${shown} ${shown_link}")

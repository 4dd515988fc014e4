# The LZMA SDK's C sources, as Debian's lzma-dev installs them under
# /usr/include/lzma, compiled into a target of this build. The host's
# /usr/include must not reach a cross build, where it would shadow the
# target's C library, so the files named are copied into a folder of the
# build tree, which the target alone includes. Nothing of the SDK is kept in
# the repository.
#
#   quorvane_lzma_sdk(<target> <file>...)   e.g. LzmaDec.c LzmaDec.h Types.h
include_guard(GLOBAL)

function(quorvane_lzma_sdk target)
    set(folder ${CMAKE_CURRENT_BINARY_DIR}/lzma-sdk)
    foreach(name ${ARGN})
        unset(source)
        find_file(source ${name} PATHS /usr/include/lzma NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH NO_CACHE)
        if(NOT source)
            message(FATAL_ERROR "${name} not found in /usr/include/lzma: install lzma-dev (scripts/install-deps)")
        endif()
        configure_file(${source} ${folder}/${name} COPYONLY)
        if(name MATCHES "\\.c$")
            target_sources(${target} PRIVATE ${folder}/${name})
            # The SDK's own code, compiled as it comes: its warnings are not ours.
            # Optimised for speed even where the rest is built small.
            set_source_files_properties(${folder}/${name} TARGET_DIRECTORY ${target}
                PROPERTIES COMPILE_OPTIONS "-w;-O2")
        endif()
    endforeach()
    target_include_directories(${target} PRIVATE ${folder})
endfunction()

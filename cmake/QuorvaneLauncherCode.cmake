# How the launcher's own code is compiled (Windows builds): without C++
# exceptions and without unwind tables, each function and datum in a section
# of its own for the linker's --gc-sections.
#
# The launcher throws nothing and catches nothing; its allocations either
# check for nullptr (new (std::nothrow)) or end the process as an uncaught
# std::bad_alloc did (app/allocation.cpp). Compiled with exceptions, any of
# its objects would still reference the C++ personality routine, and that
# alone links the runtime's unwinder, its locks (winpthread) and their
# tables: about half the program. The tables would also keep every function
# they describe alive, since the PE linker script keeps .eh_frame whole.
#
# Only targets that go into Quorvane.exe take these options. The payload core,
# which the packer links too, is built a second time for the launcher
# (payload/CMakeLists.txt): the packer and the test programs, which need
# exceptions, link the ordinary one. The libraries only the launcher runs
# (framework/, ui/, payload/launch/) are built once, so the test programs that
# link them run them as they ship.
#
#   quorvane_launcher_code(<target>...)
include_guard(GLOBAL)

function(quorvane_launcher_code)
    if(NOT WIN32 OR NOT CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
        return()
    endif()
    foreach(target ${ARGN})
        target_compile_options(${target} PRIVATE
            $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions>
            $<$<COMPILE_LANGUAGE:C,CXX>:-fno-asynchronous-unwind-tables -fno-unwind-tables -ffunction-sections -fdata-sections>)
    endforeach()
endfunction()

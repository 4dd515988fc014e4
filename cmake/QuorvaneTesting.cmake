# GoogleTest for both builds, and Wine for the Windows one.
#
# Natively GoogleTest comes from Debian's libgtest-dev. Cross-compiled it is
# built from Debian's source under /usr/src/googletest. Windows tests run under
# Wine through CMAKE_CROSSCOMPILING_EMULATOR, in a prefix of their own inside
# the build tree made once by the wine_prefix fixture, one test at a time.

# The 32-bit build runs in a 32-bit prefix with Wine's 32-bit loader; the
# 64-bit twin in a 64-bit prefix with the 64-bit one. Whether the 32-bit one
# can run on this machine is decided at run time (scripts/wine-mode).
if(CMAKE_CROSSCOMPILING AND WIN32)
    set(QUORVANE_WINE ON)
    set(QUORVANE_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
    set(QUORVANE_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/../scripts)
    cmake_path(NORMAL_PATH QUORVANE_SCRIPTS)
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
        set(QUORVANE_WINEARCH win64)
        find_program(QUORVANE_WINE_LOADER NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
        find_program(QUORVANE_WINE_LOADER NAMES wine64)
        if(NOT QUORVANE_WINE_LOADER)
            set(QUORVANE_WINE_LOADER /usr/lib/wine/wine64)
        endif()
    else()
        set(QUORVANE_WINEARCH win32)
        set(QUORVANE_WINE_LOADER wine)
    endif()
    configure_file(${CMAKE_CURRENT_LIST_DIR}/wine-run.in ${CMAKE_BINARY_DIR}/wine-run
        FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE
        @ONLY)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run)
else()
    set(QUORVANE_WINE OFF)
endif()

function(quorvane_find_gtest)
    if(TARGET GTest::gtest_main)
        return()
    endif()
    if(QUORVANE_WINE)
        set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
        set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
        set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
        add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    else()
        find_package(GTest REQUIRED)
    endif()
endfunction()

# Wine tests share one prefix and one wineserver; the fixture makes the prefix.
if(QUORVANE_WINE)
    add_test(NAME wine_prefix
        COMMAND ${QUORVANE_SCRIPTS}/wine-prefix ${QUORVANE_WINEPREFIX} ${QUORVANE_WINEARCH} ${CMAKE_BINARY_DIR}/wine-run)
    set_tests_properties(wine_prefix PROPERTIES FIXTURES_SETUP wine RUN_SERIAL ON SKIP_RETURN_CODE 77 TIMEOUT 1200)
endif()

# Marks a test as running under Wine when this is the Windows build.
function(quorvane_test_properties name)
    if(QUORVANE_WINE)
        set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine RUN_SERIAL ON SKIP_RETURN_CODE 77
            ENVIRONMENT "WINEPREFIX=${QUORVANE_WINEPREFIX}")
    endif()
endfunction()

# A GoogleTest executable registered as one test; under Wine through the emulator.
function(quorvane_add_gtest target)
    quorvane_find_gtest()
    target_link_libraries(${target} PRIVATE GTest::gtest_main)
    add_test(NAME ${target} COMMAND ${target})
    set_tests_properties(${target} PROPERTIES TIMEOUT 300)
    quorvane_test_properties(${target})
endfunction()

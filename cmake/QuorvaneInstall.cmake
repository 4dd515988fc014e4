# What `cmake --install` installs, and the release archives `cpack` makes.
#
#   bin/quorvane-pack            the packer for the build host (cross builds)
#   bin/quorvane-pack.exe        the Windows packer (Windows builds)
#   share/quorvane/Quorvane.exe  the launcher stub (Windows builds)
#   lib/cmake/Quorvane/          QuorvaneConfig.cmake, its version file, QuorvanePack.cmake
#   share/doc/quorvane/          README.md
#
# The win32 build installs all of them; a native build installs its packer
# and the CMake package only.
include(CMakePackageConfigHelpers)

# A cross build installs the packer that runs where it was built: the one
# built from tools/host in this tree, or QUORVANE_HOST_PACK.
if(CMAKE_CROSSCOMPILING)
    _quorvane_host_pack(host_packer host_packer_depends)
    install(PROGRAMS ${host_packer} DESTINATION ${QUORVANE_INSTALL_BIN_DIR}
        RENAME quorvane-pack${CMAKE_HOST_EXECUTABLE_SUFFIX} COMPONENT host_packer)
endif()

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/QuorvaneConfig.cmake.in
    ${PROJECT_BINARY_DIR}/QuorvaneConfig.cmake
    INSTALL_DESTINATION ${QUORVANE_INSTALL_CMAKE_DIR}
    PATH_VARS QUORVANE_INSTALL_BIN_DIR QUORVANE_INSTALL_STUB_DIR)
# The package runs on any host whatever this build's target: no pointer size check.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/QuorvaneConfigVersion.cmake
    VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion ARCH_INDEPENDENT)
install(FILES ${PROJECT_BINARY_DIR}/QuorvaneConfig.cmake ${PROJECT_BINARY_DIR}/QuorvaneConfigVersion.cmake
        ${CMAKE_CURRENT_LIST_DIR}/QuorvanePack.cmake
    DESTINATION ${QUORVANE_INSTALL_CMAKE_DIR} COMPONENT package)

install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${QUORVANE_INSTALL_DOC_DIR} COMPONENT docs)
# The project has no licence file yet; once there is one it is shipped too.
if(EXISTS ${PROJECT_SOURCE_DIR}/LICENSE)
    install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${QUORVANE_INSTALL_DOC_DIR} COMPONENT docs)
endif()

# The release archives come from the 32-bit Windows build: a zip for Windows
# (the Windows packer) and, cross-built, a tar.gz for the build host (its
# packer). Both carry the stub, the CMake package and the documents.
if(NOT (WIN32 AND CMAKE_SIZEOF_VOID_P EQUAL 4))
    return()
endif()
set(CPACK_PACKAGE_NAME Quorvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Self-contained setup launcher for 32-bit Windows")
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_GENERATOR ZIP)
if(CMAKE_CROSSCOMPILING)
    list(APPEND CPACK_GENERATOR TGZ)
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/QuorvaneArchiveContents.cmake.in ${PROJECT_BINARY_DIR}/QuorvaneArchiveContents.cmake @ONLY)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/QuorvaneArchiveContents.cmake)
# CPack's own archives list entries in directory order with the packager's
# owner; this script writes them again, sorted and with fixed metadata.
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/QuorvaneArchiveRewrite.cmake)
set(CPACK_QUORVANE_SOURCE_DIR ${PROJECT_SOURCE_DIR})
include(CPack)

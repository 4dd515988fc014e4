# quorvane_add_installer: packs a launcher at build time.
#
#   quorvane_add_installer(NAME <name> [STUB <launcher target or file>]
#                          PAYLOAD <folders or files>... [EXCLUDE <globs>...]
#                          [OUTPUT <file>] [CODEPAGE <n>] [COMPRESS LZMA|NONE]
#                          [SPLASH <picture>] [BUTTONS <simplified> <traditional> <exit>]
#                          [ICON <file.ico>] [PRODUCT <name>] [COMPANY <name>]
#                          [COPYRIGHT <text>] [VERSION <a[.b[.c[.d]]]>]
#                          [SIGN_COMMAND <command with @FILE@, perhaps @SIGNED@>...
#                           [SIGN_DEPENDS <files or targets>...]]
#                          [STRICT])
#
# Adds a target <name> (built by default) that runs `quorvane-pack build` to
# make OUTPUT (default <name>.exe in the current binary folder) from STUB and
# the payload, creating OUTPUT's folder first. Each payload file is a
# dependency, as are the payload folders themselves: changing, adding or
# removing a file repacks the launcher. Folders are globbed with
# CONFIGURE_DEPENDS, so a new file also reconfigures. EXCLUDE skips files
# (and folders inside payload folders) whose name matches a glob, as
# `build --exclude` does.
#
# STUB defaults to the installed launcher (Quorvane_STUB, set by
# find_package(Quorvane)), or else to this build's Quorvane target.
#
# COMPRESS LZMA packs the payload as one LZMA stream straight after the stub
# (`quorvane-pack build --compress lzma`); NONE, the default, stores it.
#
# The branding arguments brand the stub on the way (quorvane-pack build's
# --splash, --button-simplified, --button-traditional, --button-exit, --icon,
# --product, --company, --copyright and --version): pictures in BMP, PNG or
# JPEG (the splash 600 x 360, each button 118 x 26), an .ico, and texts.
# What is not given stays as the stub has it. The files are dependencies, and
# must exist when configuring (unless a rule of this folder makes them);
# VERSION takes one to four numbers of at most 65535, the missing ones 0, so
# VERSION ${PROJECT_VERSION} does.
#
# SIGN_COMMAND signs the launcher once it is packed. The launcher is packed to
# .<OUTPUT's name>.pending beside OUTPUT; the command runs (in the current
# binary folder) with @FILE@ standing for that file, and signs it in place
# (signtool) or, when it names @SIGNED@, writes the signed launcher there
# (osslsigncode ... -in @FILE@ -out @SIGNED@), a file beside it removed
# before the command runs, which then replaces @FILE@. More steps may follow
# as COMMAND ..., as in add_custom_command. Then the packer's check proves
# that the signed launcher still reads whole and verifies, and only then is
# it renamed to OUTPUT: a failed signing never leaves an unsigned OUTPUT that
# looks built. SIGN_DEPENDS names what the signing needs (a certificate, a
# key, a target that makes them). STRICT fails the build, as `check --strict`
# does, when no edition can start from the launcher or its stub is not the
# launcher; with STRICT too OUTPUT appears only once checked. After a failed
# step the launcher stays as .<name>.pending for a look.
#
# The packer runs on the build host. It is the first of:
#   - QUORVANE_HOST_PACK, an existing host quorvane-pack;
#   - the installed one, the imported executable Quorvane::quorvane-pack;
#   - natively, this build's quorvane-pack;
#   - one configured and built from this repository's tools/host inside the
#     build tree (host-pack/) with the host's default compilers, as the win32
#     build does.
include_guard(GLOBAL)

set(QUORVANE_HOST_PACK "" CACHE FILEPATH "quorvane-pack for the build host (empty: build one)")
# A property, not a variable: the functions are called from other folders,
# and from other projects, than the one that included this file.
get_filename_component(_quorvane_root ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)
set_property(GLOBAL PROPERTY QUORVANE_SOURCE_ROOT ${_quorvane_root})
unset(_quorvane_root)

# Sets <command_var> to the packer's command and <depends_var> to what the
# packing step must depend on.
function(_quorvane_host_pack command_var depends_var)
    get_property(root GLOBAL PROPERTY QUORVANE_SOURCE_ROOT)
    if(QUORVANE_HOST_PACK)
        set(${command_var} ${QUORVANE_HOST_PACK} PARENT_SCOPE)
        set(${depends_var} ${QUORVANE_HOST_PACK} PARENT_SCOPE)
    elseif(TARGET Quorvane::quorvane-pack)
        set(${command_var} $<TARGET_FILE:Quorvane::quorvane-pack> PARENT_SCOPE)
        set(${depends_var} $<TARGET_FILE:Quorvane::quorvane-pack> PARENT_SCOPE)
    elseif(NOT CMAKE_CROSSCOMPILING AND TARGET quorvane-pack)
        set(${command_var} $<TARGET_FILE:quorvane-pack> PARENT_SCOPE)
        set(${depends_var} quorvane-pack PARENT_SCOPE)
    elseif(NOT EXISTS ${root}/tools/host/CMakeLists.txt)
        message(FATAL_ERROR "quorvane_add_installer: no packer for this machine: "
            "use find_package(Quorvane), or set QUORVANE_HOST_PACK to a quorvane-pack that runs here")
    else()
        set(binary ${CMAKE_BINARY_DIR}/host-pack)
        set(packer ${binary}/tools/quorvane-pack${CMAKE_HOST_EXECUTABLE_SUFFIX})
        if(NOT TARGET quorvane_host_pack)
            # The launcher this build makes is the one that packer finds by itself.
            set(stub_note)
            if(TARGET Quorvane)
                set(stub_note -DQUORVANE_BUILD_TREE_STUB=$<TARGET_FILE:Quorvane>)
            endif()
            include(ExternalProject)
            ExternalProject_Add(quorvane_host_pack
                SOURCE_DIR ${root}/tools/host
                BINARY_DIR ${binary}
                CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release ${stub_note}
                BUILD_ALWAYS ON
                INSTALL_COMMAND ""
                BUILD_BYPRODUCTS ${packer})
        endif()
        set(${command_var} ${packer} PARENT_SCOPE)
        set(${depends_var} quorvane_host_pack ${packer} PARENT_SCOPE)
    endif()
endfunction()

# Sets <args_var> to the packer's branding options for the caller's parsed
# arguments (ARG_SPLASH...), and <depends_var> to the files they name.
function(_quorvane_brand_arguments args_var depends_var)
    set(args)
    set(depends)
    if(DEFINED ARG_BUTTONS)
        list(LENGTH ARG_BUTTONS count)
        if(NOT count EQUAL 3)
            message(FATAL_ERROR "quorvane_add_installer(${ARG_NAME}): BUTTONS takes three pictures "
                "(Simplified Chinese, Traditional Chinese, quit), not ${count}")
        endif()
        list(GET ARG_BUTTONS 0 ARG_BUTTON_SIMPLIFIED)
        list(GET ARG_BUTTONS 1 ARG_BUTTON_TRADITIONAL)
        list(GET ARG_BUTTONS 2 ARG_BUTTON_EXIT)
    endif()
    foreach(option SPLASH ICON BUTTON_SIMPLIFIED BUTTON_TRADITIONAL BUTTON_EXIT)
        if(DEFINED ARG_${option})
            get_filename_component(file ${ARG_${option}} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
            get_property(generated SOURCE ${file} PROPERTY GENERATED)
            if(NOT EXISTS ${file} AND NOT generated)
                string(REGEX REPLACE "^BUTTON_.*" "BUTTONS" argument ${option})
                message(FATAL_ERROR "quorvane_add_installer(${ARG_NAME}): ${argument} ${ARG_${option}}: no such file "
                    "(${file})")
            endif()
            string(TOLOWER ${option} name)
            string(REPLACE "_" "-" name ${name})
            list(APPEND args --${name} ${file})
            list(APPEND depends ${file})
        endif()
    endforeach()
    if(DEFINED ARG_VERSION)
        # Four numbers, as the version block holds them: 2.4 is 2.4.0.0.
        string(REPLACE "." ";" numbers "${ARG_VERSION}")
        list(LENGTH numbers count)
        set(sound TRUE)
        if(count GREATER 4 OR NOT ARG_VERSION MATCHES "^[0-9]+(\\.[0-9]+)*$")
            set(sound FALSE)
        endif()
        foreach(number IN LISTS numbers)
            string(LENGTH "${number}" digits)
            if(sound AND (digits GREATER 5 OR number GREATER 65535))
                set(sound FALSE)
            endif()
        endforeach()
        if(NOT sound)
            message(FATAL_ERROR "quorvane_add_installer(${ARG_NAME}): VERSION ${ARG_VERSION}: not a version A.B.C.D "
                "of one to four numbers from 0 to 65535")
        endif()
        while(count LESS 4)
            list(APPEND numbers 0)
            math(EXPR count "${count} + 1")
        endwhile()
        list(JOIN numbers "." ARG_VERSION)
    endif()
    foreach(option PRODUCT COMPANY COPYRIGHT VERSION)
        if(DEFINED ARG_${option})
            string(TOLOWER ${option} name)
            list(APPEND args --${name} ${ARG_${option}})
        endif()
    endforeach()
    set(${args_var} ${args} PARENT_SCOPE)
    set(${depends_var} ${depends} PARENT_SCOPE)
endfunction()

function(quorvane_add_installer)
    cmake_parse_arguments(PARSE_ARGV 0 ARG "STRICT"
        "NAME;STUB;OUTPUT;CODEPAGE;COMPRESS;SPLASH;ICON;PRODUCT;COMPANY;COPYRIGHT;VERSION"
        "PAYLOAD;BUTTONS;EXCLUDE;SIGN_COMMAND;SIGN_DEPENDS")
    if(NOT ARG_NAME OR NOT ARG_PAYLOAD)
        message(FATAL_ERROR "quorvane_add_installer needs NAME and PAYLOAD")
    endif()
    if(ARG_UNPARSED_ARGUMENTS)
        message(FATAL_ERROR "quorvane_add_installer: unknown arguments ${ARG_UNPARSED_ARGUMENTS}")
    endif()
    if(NOT ARG_STUB)
        if(Quorvane_STUB)
            set(ARG_STUB ${Quorvane_STUB})
        elseif(TARGET Quorvane)
            set(ARG_STUB Quorvane)
        else()
            message(FATAL_ERROR "quorvane_add_installer(${ARG_NAME}) needs STUB: no installed launcher "
                "(find_package(Quorvane)) and no Quorvane target")
        endif()
    endif()
    if(NOT ARG_OUTPUT)
        set(ARG_OUTPUT ${ARG_NAME}.exe)
    endif()
    get_filename_component(output ${ARG_OUTPUT} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_BINARY_DIR})
    if(NOT ARG_CODEPAGE)
        set(ARG_CODEPAGE 936)
    endif()
    if(NOT ARG_COMPRESS)
        set(ARG_COMPRESS NONE)
    endif()
    string(TOLOWER "${ARG_COMPRESS}" compress)
    if(NOT compress MATCHES "^(lzma|none)$")
        message(FATAL_ERROR "quorvane_add_installer(${ARG_NAME}): COMPRESS ${ARG_COMPRESS}: not LZMA or NONE")
    endif()
    # Stored is the packer's default: a packer without the option packs it too.
    set(compress_option)
    if(compress STREQUAL "lzma")
        set(compress_option --compress lzma)
    endif()

    # A bare name that is no file is a target, perhaps one defined further on.
    get_filename_component(stub_file ${ARG_STUB} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
    if(TARGET ${ARG_STUB} OR (NOT ARG_STUB MATCHES "[/\\\\]" AND NOT EXISTS ${stub_file}))
        set(stub $<TARGET_FILE:${ARG_STUB}>)
        set(stub_depends ${ARG_STUB})
        set(stub_is_file FALSE)
    else()
        set(stub ${stub_file})
        set(stub_depends ${stub})
        set(stub_is_file TRUE)
    endif()

    # The packer refuses these too, but only when the build runs; refused here,
    # a project never gets a rule that packs its output into the next build
    # (Make would only warn about a circular dependency) or replaces its stub.
    get_filename_component(output_dir ${output} DIRECTORY)
    get_filename_component(output_name ${output} NAME)
    file(REAL_PATH ${output_dir} output_real)
    set(output_real ${output_real}/${output_name})
    if(stub_is_file)
        file(REAL_PATH ${stub} stub_real)
        if(stub_real STREQUAL output_real)
            message(FATAL_ERROR "quorvane_add_installer(${ARG_NAME}): OUTPUT ${output} is the STUB: packing would destroy it")
        endif()
    endif()

    set(paths)
    set(payload_depends)
    foreach(item IN LISTS ARG_PAYLOAD)
        get_filename_component(path ${item} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
        file(REAL_PATH ${path} path_real)
        if(IS_DIRECTORY ${path})
            cmake_path(IS_PREFIX path_real ${output_real} NORMALIZE inside)
        else()
            string(COMPARE EQUAL ${path_real} ${output_real} inside)
        endif()
        if(inside)
            message(FATAL_ERROR "quorvane_add_installer(${ARG_NAME}): OUTPUT ${output} lies inside PAYLOAD ${item}: "
                "each build would pack the last one (give an OUTPUT outside the payload)")
        endif()
        list(APPEND paths ${path})
        if(IS_DIRECTORY ${path})
            file(GLOB files CONFIGURE_DEPENDS LIST_DIRECTORIES false ${path}/*)
            # The folder itself too: its time stamp moves when a file goes.
            list(APPEND payload_depends ${path} ${files})
        else()
            list(APPEND payload_depends ${path})
        endif()
    endforeach()

    set(excludes)
    foreach(glob IN LISTS ARG_EXCLUDE)
        list(APPEND excludes --exclude ${glob})
    endforeach()
    if(ARG_SIGN_DEPENDS AND NOT ARG_SIGN_COMMAND)
        message(FATAL_ERROR "quorvane_add_installer(${ARG_NAME}): SIGN_DEPENDS without SIGN_COMMAND")
    endif()

    _quorvane_brand_arguments(brand brand_depends)
    _quorvane_host_pack(packer packer_depends)
    # Signed or checked, the launcher is packed beside OUTPUT first and takes
    # OUTPUT's name once it has passed; otherwise it is packed into place.
    set(packed ${output})
    set(finish)
    if(ARG_SIGN_COMMAND OR ARG_STRICT)
        set(packed ${output_dir}/.${output_name}.pending)
        set(signed ${output_dir}/.${output_name}.signed)
        set(sign)
        foreach(word IN LISTS ARG_SIGN_COMMAND)
            string(REPLACE "@FILE@" "${packed}" word "${word}")
            string(REPLACE "@SIGNED@" "${signed}" word "${word}")
            list(APPEND sign "${word}")
        endforeach()
        if(ARG_SIGN_COMMAND MATCHES "@SIGNED@")
            set(sign COMMAND ${CMAKE_COMMAND} -E rm -f ${signed}
                COMMAND ${sign}
                COMMAND ${CMAKE_COMMAND} -E rename ${signed} ${packed})
        elseif(sign)
            set(sign COMMAND ${sign})
        endif()
        set(strict)
        if(ARG_STRICT)
            set(strict --strict)
        endif()
        set(finish ${sign}
            COMMAND ${packer} check --codepage ${ARG_CODEPAGE} ${strict} ${packed}
            COMMAND ${CMAKE_COMMAND} -E rename ${packed} ${output})
    endif()
    # Ninja makes an output's folder itself, Make does not.
    add_custom_command(OUTPUT ${output}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${output_dir}
        COMMAND ${packer} build -q -o ${packed} --stub ${stub} --codepage ${ARG_CODEPAGE} ${compress_option}
            ${excludes} ${brand} ${paths}
        ${finish}
        DEPENDS ${packer_depends} ${stub_depends} ${payload_depends} ${brand_depends} ${ARG_SIGN_DEPENDS}
        COMMENT "Packing ${ARG_NAME}"
        VERBATIM)
    add_custom_target(${ARG_NAME} ALL DEPENDS ${output})
endfunction()

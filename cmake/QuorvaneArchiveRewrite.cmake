# CPack post-build script: writes each release archive again from CPack's
# staged tree, so that the same sources give the same bytes whoever packs them
# and on whatever file system:
#   - entries in bytewise name order, folders included;
#   - every time stamp SOURCE_DATE_EPOCH, or else the last commit's time;
#   - owner and group 0, modes u=rwX,go=rX;
#   - tar.gz: ustar, gzip without file name or time; zip: no extra fields,
#     times in UTC.
# cpack gives CPACK_PACKAGE_FILES (this generator's archive),
# CPACK_TEMPORARY_DIRECTORY (one staged tree per component in
# CPACK_COMPONENTS_ALL) and CPACK_PACKAGE_FILE_NAME, the archive's top
# folder. Needs GNU tar, gzip and Info-ZIP zip.

if(DEFINED ENV{SOURCE_DATE_EPOCH})
    set(epoch $ENV{SOURCE_DATE_EPOCH})
else()
    execute_process(COMMAND git -C ${CPACK_QUORVANE_SOURCE_DIR} log -1 --format=%ct
        OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE status ERROR_QUIET)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "release archives: set SOURCE_DATE_EPOCH (no git history to take the time from)")
    endif()
endif()
if(NOT epoch MATCHES "^[0-9]+$")
    message(FATAL_ERROR "release archives: SOURCE_DATE_EPOCH '${epoch}' is not a number of seconds")
endif()

# The components' trees merged under the archive's top folder.
set(top ${CPACK_TEMPORARY_DIRECTORY}/reproducible)
set(root ${CPACK_PACKAGE_FILE_NAME})
file(REMOVE_RECURSE ${top})
file(MAKE_DIRECTORY ${top}/${root})
foreach(component IN LISTS CPACK_COMPONENTS_ALL)
    if(IS_DIRECTORY ${CPACK_TEMPORARY_DIRECTORY}/${component})
        file(COPY ${CPACK_TEMPORARY_DIRECTORY}/${component}/ DESTINATION ${top}/${root})
    endif()
endforeach()
file(GLOB_RECURSE entries LIST_DIRECTORIES true RELATIVE ${top} ${top}/${root}/*)
list(APPEND entries ${root})
list(SORT entries)
list(JOIN entries "\n" listing)
set(list_file ${top}/${root}.entries)
file(WRITE ${list_file} "${listing}\n")

function(run what)
    execute_process(${ARGN} WORKING_DIRECTORY ${top} RESULTS_VARIABLE statuses ERROR_VARIABLE errors)
    foreach(status IN LISTS statuses)
        if(NOT status EQUAL 0)
            message(FATAL_ERROR "release archives: ${what} failed (${statuses}): ${errors}")
        endif()
    endforeach()
endfunction()

# The merged copies get the modes and times both formats store. Zip keeps
# DOS times, which begin in 1980.
set(zip_epoch ${epoch})
if(zip_epoch LESS 315532800)
    set(zip_epoch 315532800)
endif()
run("chmod" COMMAND chmod -R u=rwX,go=rX ${top})
run("touch" COMMAND touch -h -d @${zip_epoch} ${entries})

foreach(package IN LISTS CPACK_PACKAGE_FILES)
    file(REMOVE ${package})
    if(package MATCHES "\\.zip$")
        run("zip" COMMAND ${CMAKE_COMMAND} -E env --unset=ZIPOPT TZ=UTC0 zip -X -9 -q ${package} -@
            INPUT_FILE ${list_file})
    elseif(package MATCHES "\\.tar\\.gz$")
        run("tar" COMMAND ${CMAKE_COMMAND} -E env --unset=TAR_OPTIONS
                tar --format=ustar --no-recursion --owner=0 --group=0 --numeric-owner
                    --mtime=@${epoch} --mode=u=rwX,go=rX -cf - -T ${list_file}
            COMMAND ${CMAKE_COMMAND} -E env --unset=GZIP gzip -9 -n
            OUTPUT_FILE ${package})
    else()
        message(FATAL_ERROR "release archives: no reproducible writer for ${package}")
    endif()
endforeach()

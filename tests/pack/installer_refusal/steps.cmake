# Builds the "steps" case of this folder's project with a real packer and
# stub: an installer with EXCLUDE, STRICT, a two-number VERSION and a signing
# step that writes through @SIGNED@ must build and hold what was asked; one
# STRICT installer no edition can start from, and one whose signing step
# spoils the launcher, must fail to build and leave no OUTPUT.
# Usage: cmake -DPACK=... -DSTUB=... -DBINARY=... -P steps.cmake
file(REMOVE_RECURSE ${BINARY})
execute_process(COMMAND ${CMAKE_COMMAND} -S ${CMAKE_CURRENT_LIST_DIR} -B ${BINARY}
        -DQUORVANE_CMAKE_DIR=${CMAKE_CURRENT_LIST_DIR}/../../../cmake -DCASE=steps
        -DQUORVANE_HOST_PACK=${PACK} -DSTUB=${STUB}
    RESULT_VARIABLE failed OUTPUT_VARIABLE log ERROR_VARIABLE log)
if(failed)
    message(FATAL_ERROR "configuring failed:\n${log}")
endif()

execute_process(COMMAND ${CMAKE_COMMAND} --build ${BINARY} --target signed
    RESULT_VARIABLE failed OUTPUT_VARIABLE log ERROR_VARIABLE log)
if(failed OR NOT EXISTS ${BINARY}/out/signed.exe)
    message(FATAL_ERROR "the signed installer did not build:\n${log}")
endif()
execute_process(COMMAND ${PACK} list ${BINARY}/out/signed.exe OUTPUT_VARIABLE listing RESULT_VARIABLE failed)
if(failed OR listing MATCHES "Thumbs.db" OR NOT listing MATCHES "ZelkSetupGb.exe"
   OR NOT listing MATCHES "version: 2.4.0.0 \\(file\\), 2.4.0.0 \\(product\\)")
    message(FATAL_ERROR "the signed installer does not hold what was asked:\n${listing}")
endif()
if(EXISTS ${BINARY}/out/.signed.exe.pending OR EXISTS ${BINARY}/out/.signed.exe.signed)
    message(FATAL_ERROR "the signing step left its files behind")
endif()

set(reason_unstartable "no edition can start")
set(reason_spoiled "holds no payload")
foreach(target unstartable spoiled)
    execute_process(COMMAND ${CMAKE_COMMAND} --build ${BINARY} --target ${target}
        RESULT_VARIABLE failed OUTPUT_VARIABLE log ERROR_VARIABLE log)
    if(NOT failed OR EXISTS ${BINARY}/out/${target}.exe)
        message(FATAL_ERROR "the ${target} installer was built:\n${log}")
    endif()
    string(FIND "${log}" "${reason_${target}}" at)
    if(at EQUAL -1)
        message(FATAL_ERROR "the ${target} installer failed, but not because ${reason_${target}}:\n${log}")
    endif()
endforeach()
message(STATUS "installer steps: excluded, versioned, signed and checked; refused when unstartable or spoiled")

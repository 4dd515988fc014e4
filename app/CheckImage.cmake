# Build check: the launcher's image must end before the payload offset, since
# the payload is laid at that fixed offset behind it. Run with
#   cmake -DIMAGE=<exe> -DHEADER=<payload/archive.h> -P CheckImage.cmake
cmake_minimum_required(VERSION 3.25)
file(STRINGS "${HEADER}" line REGEX "PAYLOAD_OFFSET = 0x[0-9A-Fa-f]+;")
string(REGEX MATCH "0x[0-9A-Fa-f]+" offset "${line}")
if(NOT offset)
    message(FATAL_ERROR "CheckImage: no PAYLOAD_OFFSET in ${HEADER}")
endif()
math(EXPR limit "${offset}")
file(SIZE "${IMAGE}" size)
if(size GREATER limit)
    file(REMOVE "${IMAGE}")
    message(FATAL_ERROR "${IMAGE} is ${size} bytes, more than the payload offset ${offset} (${limit} bytes); removed it")
endif()
math(EXPR spare "${limit} - ${size}")
message(STATUS "${IMAGE}: ${size} bytes, ${spare} below the payload offset")

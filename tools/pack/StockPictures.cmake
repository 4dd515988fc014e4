# Digests of the stock stub's pictures, for the packer to tell them from a
# product's own. Each is the SHA-256 of the resource's bytes spelt in
# lower-case hexadecimal (file(READ ... HEX) and string(SHA256)).
#
#   quorvane_stock_bitmap_digest(VAR BMP)   the BMP less its 14-byte file header
#   quorvane_stock_icon_digests(VAR ICO)    each image of the icon, joined by ';'

# Little-endian value of COUNT bytes at OFFSET of FILE.
function(_quorvane_stock_le var file offset count)
    file(READ ${file} hex OFFSET ${offset} LIMIT ${count} HEX)
    set(value 0)
    math(EXPR last "${count} - 1")
    foreach(i RANGE ${last})
        math(EXPR pos "(${last} - ${i}) * 2")
        string(SUBSTRING "${hex}" ${pos} 2 byte)
        math(EXPR value "${value} * 256 + 0x${byte}")
    endforeach()
    set(${var} ${value} PARENT_SCOPE)
endfunction()

function(quorvane_stock_bitmap_digest var bmp)
    file(READ ${bmp} hex OFFSET 14 HEX)
    string(SHA256 digest "${hex}")
    set(${var} ${digest} PARENT_SCOPE)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${bmp})
endfunction()

function(quorvane_stock_icon_digests var ico)
    _quorvane_stock_le(count ${ico} 4 2)
    set(digests "")
    math(EXPR last "${count} - 1")
    foreach(i RANGE ${last})
        math(EXPR entry "6 + 16 * ${i}")
        math(EXPR at "${entry} + 8")
        _quorvane_stock_le(length ${ico} ${at} 4)
        math(EXPR at "${entry} + 12")
        _quorvane_stock_le(offset ${ico} ${at} 4)
        file(READ ${ico} hex OFFSET ${offset} LIMIT ${length} HEX)
        string(SHA256 digest "${hex}")
        list(APPEND digests ${digest})
    endforeach()
    set(${var} "${digests}" PARENT_SCOPE)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${ico})
endfunction()

/* The formats a launcher reads. Its version block lists them under
   PAYLOAD_FORMATS_KEY, separated by spaces; the packer packs a compressed
   archive only behind a stub that lists PAYLOAD_FORMAT_LZMA, and compresses
   the stub's pictures only when it lists PAYLOAD_FORMAT_PICTURES too
   (compressed_picture.h). Included by the resource scripts too, so macros
   only. */
#ifndef QUORVANE_PAYLOAD_FORMATS_H
#define QUORVANE_PAYLOAD_FORMATS_H

#define PAYLOAD_FORMATS_KEY "PayloadFormats"
#define PAYLOAD_FORMAT_STORED "stored"
#define PAYLOAD_FORMAT_LZMA "lzma1"
#define PAYLOAD_FORMAT_PICTURES "lzpic1"
/* Spelt out: resource compilers do not join adjacent strings. */
#define PAYLOAD_FORMATS "stored lzma1 lzpic1"

#endif

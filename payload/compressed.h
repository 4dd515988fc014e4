// The compressed archive: the same entries, in the same order and under the
// same names, with their data compressed as one LZMA stream.
//
// A compressed launcher is the stub's bytes, the archive straight after them
// (at `start`, no filler), and an end record that ends the file, or the bytes
// before a certificate table and up to 7 zero bytes of its padding. Readers
// find the archive through that record; it is always there.
//
//   archive header, 32 bytes, at start
//     0   magic        8   "QVARCHLZ"
//     8   version      2   1
//     10  codec        2   1: LZMA
//     12  entries      4   how many entries follow
//     16  properties   5   LZMA properties: (pb * 5 + lp) * 9 + lc, then
//                          the dictionary size (4 bytes), at most 64 MiB
//     21  reserved     3   zero
//     24  unpacked     8   the sum of the entries' unpacked sizes
//   then each entry: a 140-byte header followed by its packed bytes
//     0   name       128   as in the stored archive: ANSI code page,
//                          NUL-terminated, a bare file name
//     128 unpacked     4   the entry's size
//     132 packed       4   how many bytes of the stream follow
//     136 method       1   1: LZMA, continuing the archive's one stream
//     137 filter       1   0: none, 1: x86 branch filter (x86_filter.h)
//     138 reserved     2   zero
//   end record, 48 bytes
//     0   magic        8   "QVARCEND"
//     8   version      2   1
//     10  algorithm    2   1: XXH3-128
//     12  entries      4   the number of entries
//     16  start        8   file offset of the archive header
//     24  length       8   its own offset less start
//     32  digest      16   XXH3-128 (canonical, big-endian) of every byte
//                          from start up to the record, barrier included
//
// All numbers are unsigned little-endian. The stream is solid: one LZMA
// stream (no end marker) runs through every entry's data, and its dictionary
// carries over from entry to entry. It is cut where the decoder, having
// produced exactly an entry's unpacked bytes, has consumed exactly that
// entry's packed bytes, so each entry's bytes follow its own header, and a
// reader checks both counts at every entry's end. The stream's end is
// checked as well: after the last byte the decoder's range coder must stand
// at zero with nothing pending.
//
// Readers that know only the stored archive look for entries at
// PAYLOAD_OFFSET. So that none of them ever takes compressed bytes for an
// entry, an archive that reaches PAYLOAD_OFFSET (start <= PAYLOAD_OFFSET <=
// the end record's end) holds a barrier there: 132 bytes that every stored
// reader refuses as an entry header (its name field is empty), which this
// format skips wherever it falls, inside a header or inside packed bytes. When
// the end record would otherwise reach PAYLOAD_OFFSET, up to 48 zero bytes
// after the last entry's data take the barrier to PAYLOAD_OFFSET, and the end
// record follows the barrier. An archive that ends before PAYLOAD_OFFSET
// needs no barrier: stored readers find no archive there at all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "archive.h"

const size_t COMPRESSED_HEADER_SIZE = 32;
const unsigned char COMPRESSED_MAGIC[8] = {'Q', 'V', 'A', 'R', 'C', 'H', 'L', 'Z'};
const uint16_t COMPRESSED_VERSION = 1;
const uint16_t COMPRESSED_CODEC_LZMA = 1;
const size_t LZMA_PROPERTIES_SIZE = 5;
const uint32_t LZMA_DICTIONARY_CAP = 64u << 20;  // readers refuse more, before allocating anything

const size_t COMPRESSED_ENTRY_SIZE = 140;
const uint8_t ENTRY_METHOD_STORED = 0;  // the stored archive's entries
const uint8_t ENTRY_METHOD_LZMA = 1;
const uint8_t ENTRY_FILTER_NONE = 0;
const uint8_t ENTRY_FILTER_X86 = 1;

const size_t END_RECORD_SIZE = 48;
const unsigned char END_RECORD_MAGIC[8] = {'Q', 'V', 'A', 'R', 'C', 'E', 'N', 'D'};
const uint16_t END_RECORD_VERSION = 1;

const size_t BARRIER_SIZE = ENTRY_HEADER_SIZE;
const size_t MAX_BARRIER_PADDING = END_RECORD_SIZE;

// The archive header, decoded.
struct CompressedHeader {
    uint16_t version = 0;
    uint16_t codec = 0;
    uint32_t entries = 0;
    unsigned char properties[LZMA_PROPERTIES_SIZE] = {};
    uint64_t unpacked = 0;
};

// One entry header, decoded; the name as PayloadEntryHeader holds it.
struct CompressedEntry {
    char name[ENTRY_NAME_SIZE] = {};
    uint32_t unpacked = 0;
    uint32_t packed = 0;
    uint8_t method = 0;
    uint8_t filter = 0;
};

void EncodeCompressedHeader(const CompressedHeader& header, unsigned char* raw);
// False unless raw starts with the magic and its reserved bytes are zero.
bool DecodeCompressedHeader(const unsigned char* raw, CompressedHeader* header);
// name is at most 127 bytes; the rest of the field is zero.
void EncodeCompressedEntry(const CompressedEntry& entry, unsigned char* raw);
// NameWithoutNul, UnknownArchive (reserved bytes set), or Ok. Method and
// filter are not judged here.
PayloadError DecodeCompressedEntry(const unsigned char* raw, CompressedEntry* entry);
// The end record carries the integrity record's fields and the archive's start.
void EncodeEndRecord(const IntegrityRecord& record, uint64_t start, unsigned char* raw);
bool DecodeEndRecord(const unsigned char* raw, IntegrityRecord* record, uint64_t* start);
// The 132 bytes at PAYLOAD_OFFSET of a compressed launcher that reaches it.
void MakeBarrier(unsigned char* raw);

// Where an archive from start, with the end record at recordOffset, keeps its
// barrier: PAYLOAD_OFFSET, or 0 for none. Sets *sound to false when the
// record and the barrier would overlap.
uint64_t BarrierOffset(uint64_t start, uint64_t recordOffset, bool* sound);

// Looks for an end record ending at end, or followed by up to
// INTEGRITY_MAX_PADDING zero bytes up to end, whose start and length name its
// own place. Sets *offset to where it starts.
bool FindEndRecord(FILE* file, uint64_t end, IntegrityRecord* record, uint64_t* start, uint64_t* offset);

// The reader's side, behind OpenPayload, NextPayloadEntry, ReadPayloadData and
// ClosePayload (payload_reader.cpp), which hand over here once
// OpenCompressedArchive has found an end record.
struct CompressedReader;
// end: the file's end, or where a certificate table starts. Returns false
// when the file holds no compressed archive (no end record); otherwise true,
// with reader->error saying whether the archive can be read.
bool OpenCompressedArchive(PayloadReader* reader, uint64_t end);
bool NextCompressedEntry(PayloadReader* reader, PayloadEntryHeader* header);
size_t ReadCompressedData(PayloadReader* reader, void* buffer, size_t capacity);
void CloseCompressedArchive(PayloadReader* reader);
// The archive header of the compressed archive reader holds, or nullptr.
const CompressedHeader* CompressedArchiveHeader(const PayloadReader* reader);

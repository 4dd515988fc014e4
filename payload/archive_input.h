// What the stored and the compressed reader share: the archive's bytes as
// both take them from the launcher file, at the reader's position and never
// past its limit, each byte passing the digest of an integrity record on its
// way; and the record's conclusion at the archive's end. The readers call
// this unit, and never each other; the verbs of archive.h choose between
// them (payload_reader.cpp).
#pragma once

#include "archive.h"

// Reads up to count bytes at the reader's position, never past its limit,
// passing them to the digest; fewer when the file ends, with ReadFailed set
// when it could not be read.
size_t ReadArchiveBytes(PayloadReader* reader, void* buffer, size_t count);
// Begins verifying the archive against its record: the digest's state is
// made and the integrity is Pending. False, leaving it Unsupported, when
// there is no memory for it.
bool StartIntegrity(PayloadReader* reader);
// At the archive's end: every byte up to the record has passed the digest;
// sets Verified, or Mismatch and IntegrityMismatch.
void ConcludeIntegrity(PayloadReader* reader);

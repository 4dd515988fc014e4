#include "archive_input.h"

#include <cstring>
#include <new>

#include "digest.h"

size_t ReadArchiveBytes(PayloadReader* reader, void* buffer, size_t count)
{
    uint64_t room = reader->limit > reader->pos ? reader->limit - reader->pos : 0;
    if (count > room)
        count = static_cast<size_t>(room);
    size_t got = count == 0 ? 0 : fread(buffer, 1, count, reader->file);
    reader->pos += got;
    if (reader->digest != nullptr)
        reader->digest->Update(buffer, got);
    if (got < count && ferror(reader->file))
        reader->error = PayloadError::ReadFailed;
    return got;
}

bool StartIntegrity(PayloadReader* reader)
{
    reader->digest = new (std::nothrow) ArchiveDigest();
    if (reader->digest == nullptr || !reader->digest->Valid()) {
        delete reader->digest;
        reader->digest = nullptr;
        return false;
    }
    reader->integrity = IntegrityState::Pending;
    return true;
}

void ConcludeIntegrity(PayloadReader* reader)
{
    if (reader->integrity != IntegrityState::Pending)
        return;
    unsigned char digest[DIGEST_SIZE];
    reader->digest->Final(digest);
    bool match = reader->digest->Valid() && reader->entries == reader->record.entries &&
                 memcmp(digest, reader->record.digest, DIGEST_SIZE) == 0;
    delete reader->digest;
    reader->digest = nullptr;
    reader->integrity = match ? IntegrityState::Verified : IntegrityState::Mismatch;
    if (!match)
        reader->error = PayloadError::IntegrityMismatch;
}

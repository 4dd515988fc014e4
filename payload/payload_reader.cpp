// The reader's verbs (archive.h): the launcher file opened, and each call
// handed to the stored or the compressed reader, whichever the file holds.
#include "archive.h"

#include "compressed.h"
#include "digest.h"
#include "platform.h"

PayloadError OpenPayload(PayloadReader* reader, const char* path)
{
    *reader = PayloadReader();
    reader->file = fopen(path, "rb");
    if (reader->file == nullptr)
        return reader->error = PayloadError::CannotOpenLauncher;
    // Data is read in large blocks straight into the caller's buffer; a stream
    // buffer would only add a copy and split each block into three reads.
    setvbuf(reader->file, nullptr, _IONBF, 0);
    if (FindCertificateTable(reader->file, &reader->certOffset, &reader->certSize) &&
        reader->certOffset >= PAYLOAD_OFFSET)
        reader->limit = reader->certOffset;
    uint64_t fileEnd = 0;
    if (!FileEnd(reader->file, &fileEnd)) {
        fclose(reader->file);
        reader->file = nullptr;
        return reader->error = PayloadError::ReadFailed;
    }
    // A compressed archive is found through its end record, before a
    // certificate table wherever that starts. One that cannot be read says so
    // at the first NextPayloadEntry.
    uint64_t certEnd = reader->certSize != 0 && reader->certOffset <= fileEnd ? reader->certOffset : fileEnd;
    if (OpenCompressedArchive(reader, certEnd))
        return PayloadError::Ok;
    if (!OpenStoredArchive(reader, fileEnd)) {
        fclose(reader->file);
        reader->file = nullptr;
        return reader->error;
    }
    return PayloadError::Ok;
}

bool NextPayloadEntry(PayloadReader* reader, PayloadEntryHeader* header)
{
    if (reader->file == nullptr || reader->error != PayloadError::Ok)
        return false;
    return reader->compressed != nullptr ? NextCompressedEntry(reader, header) : NextStoredEntry(reader, header);
}

size_t ReadPayloadData(PayloadReader* reader, void* buffer, size_t capacity)
{
    return reader->compressed != nullptr ? ReadCompressedData(reader, buffer, capacity)
                                         : ReadStoredData(reader, buffer, capacity);
}

void ClosePayload(PayloadReader* reader)
{
    if (reader->file != nullptr)
        fclose(reader->file);
    reader->file = nullptr;
    delete reader->digest;
    reader->digest = nullptr;
    CloseCompressedArchive(reader);
}

// Reading a launcher for list and check: every entry, where the image, the
// filler and the archive end, the integrity record, and the first damage.
#include "pack.h"

#include <algorithm>

#include "codepage.h"
#include "heap.h"
#include "host_files.h"
#include "pe_image.h"
#include "platform.h"
#include "stub_pictures.h"

namespace {

const size_t READ_BLOCK_SIZE = 1 << 20;

}  // namespace

PayloadError DescribeLauncher(const std::string& path, unsigned codePage, LauncherReport* report)
{
    *report = LauncherReport();
    uint64_t fileSize = 0;
    HostPathKind kind = StatHostPath(path, &fileSize);
    if (kind != HostPathKind::File) {
        report->reason = kind == HostPathKind::Missing ? HostErrorText()
                         : kind == HostPathKind::Folder ? "a folder, not a file"
                                                         : "not a regular file";
        return report->error = PayloadError::CannotOpenLauncher;
    }
    PayloadReader reader;
    if (OpenPayload(&reader, path.c_str()) != PayloadError::Ok) {
        report->reason = HostErrorText();
        return report->error = reader.error;
    }

    FILE* file = reader.file;
    report->fileSize = fileSize;
    report->imageEndKnown = FindImageEnd(file, &report->imageEnd);
    // The launcher's own image lies before the payload offset.
    std::vector<unsigned char> head(static_cast<size_t>(std::min<uint64_t>(fileSize, PAYLOAD_OFFSET)));
    if (SeekFile(file, 0) == 0 && fread(head.data(), 1, head.size(), file) == head.size()) {
        report->launcherStub = IsLauncherImage(head.data(), head.size());
        ResourceDirectory resources;
        uint32_t rva = 0;
        std::string detail;
        if (ReadImageResources(ByteView(head), &resources, &rva, &detail))
            report->pictureError = FindPictureDamage(resources, &report->pictureName);
    }
    report->signedImage = reader.certSize != 0;
    report->certOffset = reader.certOffset;
    report->certSize = reader.certSize;
    report->record = reader.record;
    report->recordOffset = reader.recordOffset;
    report->fillerEnd = std::min<uint64_t>(PAYLOAD_OFFSET, fileSize);
    if (const CompressedHeader* compressed = CompressedArchiveHeader(&reader)) {
        // No filler: the archive follows the image.
        report->compressed = true;
        report->archiveStart = reader.start;
        report->fillerEnd = reader.start;
        report->dictionary = ReadLE32(compressed->properties + 1);
    }

    // The filler is everything from the image's end to the payload offset.
    if (!report->compressed && report->imageEndKnown && report->imageEnd < report->fillerEnd &&
        SeekFile(file, report->imageEnd) == 0) {
        unsigned char chunk[4096];
        uint64_t left = report->fillerEnd - report->imageEnd;
        report->fillerUniform = true;
        bool first = true;
        while (left > 0 && report->fillerUniform) {
            size_t want = static_cast<size_t>(std::min<uint64_t>(left, sizeof chunk));
            if (fread(chunk, 1, want, file) != want) {
                report->fillerUniform = false;
                break;
            }
            if (first)
                report->fillerByte = chunk[0];
            first = false;
            for (size_t i = 0; i < want && report->fillerUniform; ++i)
                report->fillerUniform = chunk[i] == report->fillerByte;
            left -= want;
        }
    }
    if (SeekFile(file, reader.pos) != 0) {
        ClosePayload(&reader);
        return report->error = PayloadError::ReadFailed;
    }

    // With a record to verify every byte is read: in large blocks, not in the
    // reader's small steps over data left unread.
    HeapPtr<unsigned char> block;
    if (reader.integrity == IntegrityState::Pending)
        block = HeapBlock(READ_BLOCK_SIZE);
    PayloadEntryHeader header = {};
    bool convertible = true;
    while (convertible && NextPayloadEntry(&reader, &header)) {
        ListedEntry entry;
        entry.storedName = header.name;
        // A name with no form in the code page stops staging (extract), so
        // it is damage here too: listed, and the first fault.
        convertible = CodePageToUtf8(codePage, entry.storedName, &entry.utf8Name);
        if (!convertible)
            entry.utf8Name.clear();
        entry.size = header.size;
        entry.packedSize = header.packedSize;
        entry.method = header.method;
        entry.filter = header.filter;
        entry.offset = reader.headerOffset;
        report->entries.push_back(entry);
        report->dataBytes += header.size;
        report->packedBytes += header.packedSize;
        if (block)
            while (ReadPayloadData(&reader, block.get(), READ_BLOCK_SIZE) > 0) {
            }
    }
    std::vector<std::string> names;
    for (const ListedEntry& entry : report->entries)
        names.push_back(entry.storedName);
    report->editions = FindEditions(names);
    report->integrity = reader.integrity;
    // Skipping the last entry's data is where a short file shows.
    report->error = convertible ? reader.error : PayloadError::NameNotConvertible;
    if (reader.error == PayloadError::ReadFailed)
        report->reason = HostErrorText();
    if (!convertible || reader.error == PayloadError::DuplicateName || reader.error == PayloadError::TooManyEntries) {
        report->errorOffset = reader.headerOffset;
        report->errorName = header.name;
        report->archiveEnd = report->errorOffset;
    } else if (reader.error == PayloadError::ArchiveCutShort) {
        report->errorOffset = reader.start;
        report->archiveStart = report->archiveEnd = reader.start;
    } else if (report->compressed && reader.error != PayloadError::Ok && reader.error != PayloadError::ReadFailed &&
               reader.error != PayloadError::IntegrityMismatch) {
        // The entry last begun is at fault, or before any the archive's own header.
        report->errorOffset = reader.entries == 0 ? reader.start : reader.headerOffset;
        if (reader.entries > 0 && reader.error != PayloadError::NameWithoutNul)
            report->errorName = header.name;
        report->archiveEnd = reader.pos;
    } else if (reader.error == PayloadError::TruncatedData && !report->entries.empty()) {
        report->errorOffset = report->entries.back().offset;
        report->errorName = report->entries.back().storedName;
        report->archiveEnd = reader.pos;
    } else if (reader.error == PayloadError::NameWithoutNul || reader.error == PayloadError::UnsafeName) {
        report->errorOffset = reader.headerOffset;
        if (reader.error == PayloadError::UnsafeName)
            report->errorName = header.name;
        report->archiveEnd = report->errorOffset;
    } else if (reader.error == PayloadError::IntegrityMismatch) {
        report->trailing = reader.trailing;
        report->archiveEnd = reader.pos - reader.trailing;
    } else if (report->compressed) {
        report->trailing = reader.trailing;
        report->archiveEnd = reader.pos - reader.trailing;
    } else {
        report->trailing = reader.trailing;
        report->archiveEnd = std::max<uint64_t>(reader.pos, PAYLOAD_OFFSET) - reader.trailing;
    }
    ClosePayload(&reader);
    return report->error;
}

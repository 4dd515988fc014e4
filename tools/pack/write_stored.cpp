#include "write_stored.h"

#include <algorithm>
#include <cstring>

#include "compress.h"
#include "digest.h"
#include "heap.h"
#include "host_files.h"

namespace {

const size_t COPY_BUFFER_SIZE = 1 << 20;

// Writes the launcher into out. Every byte written is counted for progress.
class LauncherWriter {
public:
    LauncherWriter(const PackRequest& request, FILE* out, uint64_t total, PackResult* result)
        : request_(request), out_(out), total_(total), result_(result)
    {
    }

    PackError Write(const std::vector<unsigned char>& stub, const std::vector<PackItem>& items)
    {
        HeapPtr<unsigned char> buffer = HeapBlock(COPY_BUFFER_SIZE);
        if (!buffer)
            return Fail(result_, PackError::WriteFailed, request_.output);
        buffer_ = buffer.get();

        if (!Put(stub.data(), stub.size()))
            return result_->error;
        if (request_.compression == PackCompression::Lzma)
            return WriteCompressedArchive(request_, items, out_, done_, result_);
        memset(buffer_, request_.filler, COPY_BUFFER_SIZE);
        uint64_t filler = PAYLOAD_OFFSET - stub.size();
        while (filler > 0) {
            size_t n = static_cast<size_t>(std::min<uint64_t>(filler, COPY_BUFFER_SIZE));
            if (!Put(buffer_, n))
                return result_->error;
            filler -= n;
        }
        // Every archive byte passes the digest on its way out.
        ArchiveDigest digest;
        if (request_.integrity) {
            if (!digest.Valid())
                return Fail(result_, PackError::WriteFailed, request_.output);
            digest_ = &digest;
        }
        for (const PackItem& item : items) {
            if (request_.entryStarted != nullptr)
                request_.entryStarted(item, done_, request_.context);
            if (CopyEntry(item) != PackError::Ok)
                return result_->error;
            ++result_->entries;
            result_->dataBytes += item.size;
        }
        digest_ = nullptr;
        if (request_.integrity) {
            IntegrityRecord record;
            record.version = INTEGRITY_VERSION;
            record.algorithm = INTEGRITY_XXH3_128;
            record.entries = result_->entries;
            record.length = done_ - PAYLOAD_OFFSET;
            digest.Final(record.digest);
            unsigned char raw[INTEGRITY_RECORD_SIZE];
            EncodeIntegrityRecord(record, raw);
            if (!Put(raw, sizeof raw))
                return result_->error;
        }
        result_->packedBytes = result_->dataBytes;
        result_->outputSize = done_;
        return PackError::Ok;
    }

private:
    bool Put(const void* bytes, size_t count)
    {
        if (request_.Cancelled()) {
            Fail(result_, PackError::Interrupted, request_.output);
            return false;
        }
        if (count > 0 && fwrite(bytes, 1, count, out_) != count) {
            FailWithReason(result_, PackError::WriteFailed, request_.output);
            return false;
        }
        if (digest_ != nullptr)
            digest_->Update(bytes, count);
        done_ += count;
        if (request_.progress != nullptr)
            request_.progress(done_, total_, request_.context);
        return true;
    }

    PackError CopyEntry(const PackItem& item)
    {
        unsigned char header[ENTRY_HEADER_SIZE];
        EncodeEntryHeader(item.storedName.c_str(), static_cast<uint32_t>(item.size), header);
        if (!Put(header, sizeof header))
            return result_->error;
        FILE* in = OpenHostFile(item.path, "rb");
        if (in == nullptr)
            return FailWithReason(result_, PackError::ReadFailed, item.path);
        PackError error = Copy(item, in);
        fclose(in);
        return error;
    }

    PackError Copy(const PackItem& item, FILE* in)
    {
        setvbuf(in, nullptr, _IONBF, 0);  // whole blocks straight into the buffer
        uint64_t left = item.size;
        while (left > 0) {
            size_t want = static_cast<size_t>(std::min<uint64_t>(left, COPY_BUFFER_SIZE));
            size_t got = fread(buffer_, 1, want, in);
            if (got < want)
                return ferror(in) ? FailWithReason(result_, PackError::ReadFailed, item.path)
                                  : Fail(result_, PackError::InputChanged, item.path);
            if (!Put(buffer_, got))
                return result_->error;
            left -= got;
        }
        // The size in the header was taken before copying; a file that grew
        // since would leave the entry short of its true content.
        if (fgetc(in) != EOF)
            return Fail(result_, PackError::InputChanged, item.path);
        return PackError::Ok;
    }

    const PackRequest& request_;
    FILE* out_;
    uint64_t total_;
    PackResult* result_;
    unsigned char* buffer_ = nullptr;
    ArchiveDigest* digest_ = nullptr;
    uint64_t done_ = 0;
};

}  // namespace

PackError WriteLauncher(const PackRequest& request, const std::vector<unsigned char>& stub,
                        const std::vector<PackItem>& items, FILE* out, uint64_t total, PackResult* result)
{
    LauncherWriter writer(request, out, total, result);
    return writer.Write(stub, items);
}

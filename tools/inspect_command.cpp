// list, check and extract: a launcher read or staged, the report printed,
// and its damage or the system's refusal said in one line.
#include <cerrno>
#include <cstdio>

#include "tool.h"
#include "windows_api.h"

namespace {

// whole: the fault is the archive's own, not one entry's.
int ReportDamage(const std::string& file, PayloadError error, uint64_t offset, const std::string& name, bool whole)
{
    ErrorKind kind = PayloadErrorKind(error);
    if (kind == ErrorKind::System)
        Message(file + ": " + PayloadErrorText(error));
    else if (error == PayloadError::IntegrityMismatch)
        Message(file + ": damaged: " + PayloadErrorText(error) + ": get a new copy");
    else {
        std::string where = (whole ? "archive at " : "entry at ") + Hex(offset);
        if (!name.empty())
            where += " (" + EscapeName(name) + ")";
        Message(file + ": damaged: " + where + ": " + PayloadErrorText(error));
    }
    return ExitFor(kind);
}

// What a file that ends before the payload offset, and holds no compressed
// archive either, is: a bare stub, another program, something that is no
// program at all, or a launcher cut short.
std::string NoPayloadText(const LauncherReport& report)
{
    if (!report.imageEndKnown)
        return "not a launcher file: not a PE image, and it ends at " + Hex(report.fileSize) +
               ", before the payload offset " + Hex(PAYLOAD_OFFSET);
    // Nothing after the image but, perhaps, the certificate table of a signature.
    bool bare = report.fileSize <= report.imageEnd ||
                (report.signedImage && report.certOffset <= report.imageEnd + 7 &&
                 report.certOffset + report.certSize >= report.fileSize);
    if (bare && report.launcherStub)
        return "holds no payload: it looks like the bare launcher stub (build packs files into it)";
    if (bare)
        return "not a launcher file: a program that holds no payload and is not recognised as the launcher";
    return "damaged: " + std::string(PayloadErrorText(PayloadError::NoArchive)) + " (at " + Hex(report.fileSize) +
           ", " + std::to_string(report.fileSize - report.imageEnd) + " bytes after its image): cut short";
}

struct ExtractTally {
    bool verbose = false;
    bool compressed = false;
    unsigned entries = 0;
    uint64_t size = 0;
    uint64_t packed = 0;
};

void OnEntryStaged(const char* name, const PayloadEntryHeader& header, void* context)
{
    ExtractTally* tally = static_cast<ExtractTally*>(context);
    tally->compressed = tally->compressed || header.method != ENTRY_METHOD_STORED;
    ++tally->entries;
    tally->size += header.size;
    tally->packed += header.packedSize;
    if (tally->verbose && header.method == ENTRY_METHOD_STORED)
        printf("%10u  %s\n", header.size, name);
    else if (tally->verbose)
        printf("%10u  %10u  %s  %-8s  %s\n", header.size, header.packedSize,
               Ratio(header.packedSize, header.size).c_str(), MethodName(header.method, header.filter), name);
}

}  // namespace

int ListOrCheck(const Arguments& args, bool print)
{
    if (args.operands.size() != 1)
        return Usage(args.command + " takes one FILE");
    if (!IsCodePageSupported(args.codePage))
        return Usage("code page " + std::to_string(args.codePage) + " is not supported on this system");
    const std::string& file = args.operands[0];
    LauncherReport report;
    PayloadError error = DescribeLauncher(file, args.codePage, &report);
    if (PayloadErrorSide(error) == PayloadSide::Read) {
        // Nothing was read: there is no report to show.
        Message(file + ": " + PayloadErrorText(error) + (report.reason.empty() ? "" : ": " + report.reason));
        return ExitFor(PayloadErrorKind(error));
    }
    BrandingReport branding;
    bool branded = print && ReadBranding(file, &branding);
    if (print && args.json)
        PrintJsonReport(file, report, error, branded ? &branding : nullptr);
    else if (print)
        PrintTextReport(report, error, branded ? &branding : nullptr);
    if (error != PayloadError::Ok)
        return ReportDamage(file, error, report.errorOffset, report.errorName,
                            (report.compressed && report.errorOffset == report.archiveStart) ||
                                error == PayloadError::ArchiveCutShort);
    if (!report.compressed && report.fileSize < PAYLOAD_OFFSET) {
        // The launcher would find no archive here either, whatever the file is.
        Message(file + ": " + NoPayloadText(report));
        return ExitFor(PayloadErrorKind(PayloadError::NoArchive));
    }
    if (report.pictureError != PayloadError::Ok) {
        // The launcher would show no picture there: a new copy cures that.
        Message(file + ": damaged: picture " + report.pictureName + " in the stub: " +
                PayloadErrorText(report.pictureError));
        return ExitFor(PayloadErrorKind(report.pictureError));
    }
    int warnings = WarnAboutLauncher(file, report.launcherStub, report.editions);
    return warnings > 0 && args.strict ? EXIT_REFUSED : EXIT_SUCCESS_CODE;
}

int Extract(const Arguments& args)
{
    if (args.operands.size() != 2)
        return Usage("extract takes FILE and DIR");
    if (!IsCodePageSupported(args.codePage))
        return Usage("code page " + std::to_string(args.codePage) + " is not supported on this system");
    const std::string& file = args.operands[0];
    HostPathKind kind = StatHostPath(file, nullptr);
    if (kind != HostPathKind::File) {
        Message(file + ": " + PayloadErrorText(PayloadError::CannotOpenLauncher) + ": " +
                (kind == HostPathKind::Missing ? HostErrorText()
                 : kind == HostPathKind::Folder ? "a folder, not a file" : "not a regular file"));
        return ExitFor(PayloadErrorKind(PayloadError::CannotOpenLauncher));
    }
    ExtractTally tally;
    tally.verbose = args.verbose;
    StageResult result;
    errno = 0;
#ifdef _WIN32
    SetLastError(0);
#endif
    if (ExtractLauncher(file, args.operands[1], args.codePage, OnEntryStaged, &tally, &result)) {
        if (tally.compressed)
            printf("decompressed %u entries: %llu bytes of data from %llu packed (ratio %s)\n", tally.entries,
                   static_cast<unsigned long long>(tally.size), static_cast<unsigned long long>(tally.packed),
                   Ratio(tally.packed, tally.size).c_str());
        printf("integrity record: %s\n", IntegrityText(result.integrity, result.record).c_str());
        return EXIT_SUCCESS_CODE;
    }
    // The staging code keeps no reason of its own; the system's last word is it,
    // for a call that failed on either side of the copy.
    std::string reason = HostErrorText();
    LauncherReport report;
    if (result.error == PayloadError::NoArchive && DescribeLauncher(file, args.codePage, &report) == PayloadError::Ok &&
        !report.compressed && report.fileSize < PAYLOAD_OFFSET) {
        Message(file + ": " + NoPayloadText(report));
        return ExitFor(PayloadErrorKind(result.error));
    }
    PayloadSide side = PayloadErrorSide(result.error);
    std::string at = result.stoppedAt[0] != '\0' ? " at " + EscapeName(result.stoppedAt) : std::string();
    Message(file + ": staging stopped" + at + ": " + PayloadErrorText(result.error) +
            (side == PayloadSide::Read || side == PayloadSide::Write ? " in " + args.operands[1] + ": " + reason
                                                                     : std::string()));
    return ExitFor(PayloadErrorKind(result.error));
}

// The packer's errors: one list for building and branding, each error with
// its kind (error_kind.h), which the tool reads for its exit status, and its
// one-line text. A failure also names its culprit and, where there is more to
// say, a second path, a detail or the system's words: PackResult holds them,
// with what a build found on the way. The texts name no command-line option:
// advice about options is the tool's to add.
//
// build and brand word a stub that already carries an archive differently
// (StubCarriesPayload, StubCarriesArchive), and so a file the output would
// replace: the one OutputIsStub says in its detail what writing it would do.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "error_kind.h"

#define PACK_ERRORS(X)                                                                                         \
    X(Ok, None, "ok")                                                                                          \
    X(UnsupportedCodePage, System, "code page is not supported on this system")                               \
    X(MissingInput, Refused, "cannot open the input")                                                         \
    X(NotFileOrFolder, Refused, "not a regular file or folder")                                               \
    X(ReadFailed, System, "read error")                                                                       \
    X(InputChanged, System, "file changed size while being packed")                                           \
    X(InputTooLarge, Refused, "too large for a launcher, whose image must end before 0x200000")               \
    X(NestedFolder, Refused, "folder inside a payload folder: the archive is flat")                           \
    X(NameNotRepresentable, Refused, "name cannot be represented in the code page")                           \
    X(NameTooLong, Refused, "name is longer than 127 bytes once encoded")                                     \
    X(UnsafeName, Refused, "name is not one bare Windows file name")                                          \
    X(UnsafeTrailByte, Refused, "name is not one bare Windows file name once encoded")                        \
    X(DuplicateName, Refused, "names are equal ignoring case")                                                \
    X(FileTooLarge, Refused, "file is 4 GiB or larger")                                                       \
    X(CannotOpenStub, Refused, "cannot open the stub")                                                        \
    X(StubTooLarge, Refused, "stub is longer than the payload offset (2 MiB)")                                \
    X(StubCarriesPayload, Refused, "stub already carries a payload: give the bare launcher")                  \
    X(StubCarriesArchive, Refused, "stub already carries an archive: brand the bare stub, then pack")         \
    X(StubCarriesCompressed, Refused, "stub already carries a compressed archive: give the bare launcher")    \
    X(StubWithoutSignatures, Refused, "stub is not a PE image (MZ and PE signatures)")                        \
    X(StubNotPe, Refused, "stub is not a PE image")                                                           \
    X(StubCannotDecompress, Refused,                                                                          \
      "the stub cannot read compressed archives: its version block lists no lzma1 under PayloadFormats")     \
    X(StubSigned, Refused, "stub carries a certificate table: brand before packing, sign after")              \
    X(StubTrailingData, Refused, "stub has data after its image: give the bare stub")                         \
    X(StubDamaged, Damage, "stub's PE headers or resources are damaged")                                      \
    X(StubLayout, Refused, "stub's sections cannot be laid out again")                                        \
    X(StubNotLauncher, Refused, "stub lacks a resource of the launcher")                                      \
    X(ImageTooLarge, Refused, "the branded image would not end before the payload offset 0x200000")           \
    X(NotAPicture, Refused, "cannot be decoded as a BMP, PNG or JPEG picture")                                \
    X(WrongPictureSize, Refused, "wrong size")                                                                \
    X(PictureTransparent, Refused, "has pixels that are not fully opaque (flatten it onto a background)")    \
    X(NotAnIcon, Refused, "not an icon (.ico) file")                                                          \
    X(BadIconImage, Refused, "holds an image that is damaged or not an icon image")                           \
    X(BadText, Refused, "cannot be used as text")                                                             \
    X(OutputNotFile, System, "the output is a folder or device, not a file")                                  \
    X(OutputIsStub, Refused, "the output is the stub itself")                                                 \
    X(OutputIsInput, Refused, "the output is one of the input files: building would destroy it")             \
    X(OutputIsBrandInput, Refused, "the output is one of the branding inputs: branding would destroy it")     \
    X(OutputInInputFolder, Refused, "the output lies inside a payload folder: each build would pack the last") \
    X(CannotCreateOutput, System, "cannot create the output file")                                            \
    X(WriteFailed, System, "cannot write the output file")                                                    \
    X(OutOfMemory, System, "not enough memory to compress")                                                   \
    X(CompressionFailed, System, "the compressed data did not decode back to the payload")                    \
    X(Interrupted, System, "interrupted")

enum class PackError {
#define PACK_ERROR_ENUM(name, kind, text) name,
    PACK_ERRORS(PACK_ERROR_ENUM)
#undef PACK_ERROR_ENUM
};

const char* PackErrorText(PackError error);
ErrorKind PackErrorKind(PackError error);

// The outcome of a build or of branding: the first failure and what it
// names, the warnings given on the way, and what the build wrote.
struct PackResult {
    PackError error = PackError::Ok;
    std::string culprit;    // the path, name, option or argument at fault
    std::string other;      // the second path of a pair: the other equal name, the file the output would replace
    std::string detail;     // what is wrong with the culprit, where the text does not say
    std::string reason;     // the system's words, when a call failed
    std::string character;  // UnsafeTrailByte: the character, in UTF-8,
    std::string encoded;    // and its bytes in the code page
    std::vector<std::string> warnings;  // branding: an icon without a 16 x 16 or 32 x 32 image
    std::vector<std::string> strays;    // packed files that look left behind by accident
    std::string handOver;               // a packed file named as an edition's hand-over file
    unsigned editions = 0;              // FindEditions over the packed names
    bool launcherStub = false;          // IsLauncherImage over the stub
    unsigned entries = 0;
    uint64_t dataBytes = 0;
    uint64_t packedBytes = 0;  // the entries' data as stored: dataBytes, or the compressed stream's size
    uint64_t outputSize = 0;
};

// Records the failure and returns it: culprit names what is at fault, detail
// what is wrong with it where the error's text does not say.
PackError Fail(PackResult* result, PackError error, const std::string& culprit,
               const std::string& detail = std::string());
// The same for a call the system refused, with the system's words for it:
// call it straight after the failed call.
PackError FailWithReason(PackResult* result, PackError error, const std::string& culprit,
                         const std::string& detail = std::string());
// A fault between two paths: two names equal ignoring case, the output and
// the file it would replace.
PackError FailPair(PackResult* result, PackError error, const std::string& culprit, const std::string& other);

// Why a stub could not be branded: one list for the PE writer, the resource
// model, the picture and icon readers and the brand command. Each failure
// also names its culprit (a file, an option or the stub) and, where there is
// more to say (a size, the system's reason), a detail.
#pragma once

#include <string>
#include <vector>

#define BRAND_ERRORS(X)                                                                                     \
    X(Ok, "ok")                                                                                             \
    X(MissingInput, "cannot open the input")                                                                \
    X(ReadFailed, "read error")                                                                             \
    X(InputTooLarge, "too large for a launcher, whose image must end before 0x200000")                     \
    X(NotAPicture, "cannot be decoded as a BMP, PNG or JPEG picture")                                       \
    X(WrongPictureSize, "wrong size")                                                                       \
    X(PictureTransparent, "has pixels that are not fully opaque (flatten it onto a background)")          \
    X(NotAnIcon, "not an icon (.ico) file")                                                                 \
    X(BadIconImage, "holds an image that is damaged or not an icon image")                                  \
    X(BadText, "cannot be used as text")                                                                    \
    X(StubTooLarge, "stub is longer than the payload offset (2 MiB)")                                       \
    X(StubCarriesArchive, "stub already carries an archive: brand the bare stub, then pack")                \
    X(StubSigned, "stub carries a certificate table: brand before packing, sign after")                     \
    X(StubTrailingData, "stub has data after its image: give the bare stub")                                \
    X(StubNotPe, "stub is not a PE image")                                                                  \
    X(StubDamaged, "stub's PE headers or resources are damaged")                                            \
    X(StubLayout, "stub's sections cannot be laid out again")                                               \
    X(StubNotLauncher, "stub lacks a resource of the launcher")                                             \
    X(ImageTooLarge, "the branded image would not end before the payload offset 0x200000")                  \
    X(OutputIsStub, "the output is the stub itself: branding would destroy it")                             \
    X(OutputIsInput, "the output is one of the branding inputs: branding would destroy it")                 \
    X(OutputNotFile, "the output is a folder or device, not a file")                                        \
    X(CannotCreateOutput, "cannot create the output file")                                                  \
    X(WriteFailed, "cannot write the output file")

enum class BrandError {
#define BRAND_ERROR_ENUM(name, text) name,
    BRAND_ERRORS(BRAND_ERROR_ENUM)
#undef BRAND_ERROR_ENUM
};

const char* BrandErrorText(BrandError error);

// The outcome of branding: the first failure, and the warnings given on the
// way (an icon without a 16 x 16 or 32 x 32 image).
struct BrandResult {
    BrandError error = BrandError::Ok;
    std::string culprit;  // the file, option or stub at fault
    std::string detail;   // what is wrong with it, when the text above is not enough
    std::string reason;   // the system's words, when the system refused
    std::vector<std::string> warnings;
};

// Sets the failure and returns it.
BrandError BrandFail(BrandResult* result, BrandError error, const std::string& culprit,
                     const std::string& detail = std::string());

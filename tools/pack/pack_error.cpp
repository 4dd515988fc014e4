#include "pack_error.h"

#include <cstddef>

#include "host_files.h"

namespace {

struct ErrorRow {
    ErrorKind kind;
    const char* text;
};

const ErrorRow ROWS[] = {
#define PACK_ERROR_ROW(name, kind, text) {ErrorKind::kind, text},
    PACK_ERRORS(PACK_ERROR_ROW)
#undef PACK_ERROR_ROW
};

}  // namespace

const char* PackErrorText(PackError error)
{
    return ROWS[static_cast<size_t>(error)].text;
}

ErrorKind PackErrorKind(PackError error)
{
    return ROWS[static_cast<size_t>(error)].kind;
}

PackError Fail(PackResult* result, PackError error, const std::string& culprit, const std::string& detail)
{
    result->error = error;
    result->culprit = culprit;
    result->other.clear();
    result->detail = detail;
    return error;
}

PackError FailWithReason(PackResult* result, PackError error, const std::string& culprit, const std::string& detail)
{
    std::string reason = HostErrorText();  // before any other call can change it
    Fail(result, error, culprit, detail);
    result->reason = reason;
    return error;
}

PackError FailPair(PackResult* result, PackError error, const std::string& culprit, const std::string& other)
{
    Fail(result, error, culprit);
    result->other = other;
    return error;
}

// How the packer's own sources record a refusal in a PackResult.
#pragma once

#include <string>

#include "host_files.h"
#include "pack.h"

// Records error with its culprit (and the other name of a pair) and returns it.
inline PackError Fail(PackResult* result, PackError error, const std::string& culprit,
                      const std::string& other = std::string())
{
    result->error = error;
    result->culprit = culprit;
    result->other = other;
    return error;
}

// A failure the system refused: its words go with it. Read them first.
inline PackError FailWithReason(PackResult* result, PackError error, const std::string& culprit)
{
    std::string reason = HostErrorText();
    Fail(result, error, culprit);
    result->reason = reason;
    return error;
}

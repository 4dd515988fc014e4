// quorvane-pack's branding: the options that brand and build share, the
// line a refusal prints, and the branding that list shows. The tool itself
// (quorvane-pack.cpp) prints them and chooses the exit status.
#pragma once

#include <string>

#include "brand.h"

// True for a branding option (each takes a value).
bool IsBrandOption(const std::string& option);
// Stores the option's value; false, with the problem, for a bad value.
bool SetBrandOption(const std::string& option, const std::string& value, BrandOptions* options,
                    std::string* problem);

// One line: the culprit, what is wrong and why.
std::string BrandFailureText(const BrandResult& result);
// True for failures of the system rather than of the inputs.
bool IsBrandIoError(BrandError error);

// The branding, as lines for list.
std::string BrandingText(const BrandingReport& report);
// The branding as a JSON value (an object, or null), its lines indented by
// indent; quote turns UTF-8 into a JSON string.
std::string BrandingJson(const BrandingReport* report, const std::string& indent,
                         std::string (*quote)(const std::string&));

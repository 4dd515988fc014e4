// Entry names between the host's UTF-8 and a Windows ANSI code page: iconv on
// POSIX hosts (code page N is iconv's "CPN"), the Win32 conversions on Windows.
#pragma once

#include <string>

const unsigned DEFAULT_CODE_PAGE = 936;  // the launcher's interface is Chinese (PRC)

bool IsCodePageSupported(unsigned codePage);
// Both fail on input that is not valid in its encoding, and on any character
// the target cannot hold exactly: no best-fit letters, no substitute marks.
bool Utf8ToCodePage(unsigned codePage, const std::string& utf8, std::string* out);
bool CodePageToUtf8(unsigned codePage, const std::string& bytes, std::string* out);
// The name upper-cased the way a Windows file system compares names, so two
// names that would land in the same file get the same key. Input is UTF-8.
std::string CaseInsensitiveKey(const std::string& utf8);

// The rules for names: the archive's order, globs and stray files, the
// editions' setup programs, unsafe trail bytes, and names as reports print them.
#include "pack.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "codepage.h"
#include "utf.h"

namespace {

char AsciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

bool FindUnsafeTrailByte(unsigned codePage, const std::string& utf8, std::string* character,
                         std::string* encoded)
{
    for (size_t i = 0; i < utf8.size();) {
        size_t n = std::min(Utf8SequenceLength(static_cast<unsigned char>(utf8[i])), utf8.size() - i);
        std::string one = utf8.substr(i, n), bytes;
        i += n;
        if (!Utf8ToCodePage(codePage, one, &bytes) || bytes.size() < 2)
            continue;
        for (size_t k = 1; k < bytes.size(); ++k) {
            unsigned char c = static_cast<unsigned char>(bytes[k]);
            if (c < 0x20 || strchr("\\/:*?\"<>|", c) != nullptr) {
                *character = one;
                *encoded = bytes;
                return true;
            }
        }
    }
    return false;
}

bool PackOrderLess(const std::string& a, const std::string& b)
{
    size_t common = std::min(a.size(), b.size());
    for (size_t i = 0; i < common; ++i) {
        unsigned char x = static_cast<unsigned char>(AsciiLower(a[i]));
        unsigned char y = static_cast<unsigned char>(AsciiLower(b[i]));
        if (x != y)
            return x < y;
    }
    if (a.size() != b.size())
        return a.size() < b.size();
    return a < b;  // equal ignoring case: bytewise, so 'B' comes before 'b'
}

unsigned FindEditions(const std::vector<std::string>& storedNames)
{
    unsigned found = 0;
    for (const std::string& name : storedNames)
        for (size_t i = 0; i < EDITION_COUNT; ++i) {
            const char* program = EDITIONS[i].packedName;
            if (name.size() == strlen(program) &&
                std::equal(name.begin(), name.end(), program,
                           [](char a, char b) { return AsciiLower(a) == AsciiLower(b); }))
                found |= 1u << i;
        }
    return found;
}

bool IsHandOverName(const std::string& storedName)
{
    const char* handOver = HAND_OVER_NAME;
    return storedName.size() == strlen(handOver) &&
           std::equal(storedName.begin(), storedName.end(), handOver,
                      [](char a, char b) { return AsciiLower(a) == AsciiLower(b); });
}

bool CanStartAnEdition(unsigned editions)
{
    for (size_t i = 0; i < EDITION_COUNT; ++i)
        if (EDITIONS[i].offered && (editions & (1u << i)))
            return true;
    return false;
}

bool MatchesGlob(const std::string& pattern, const std::string& name)
{
    // Iterative, with one point to come back to after the last '*'.
    size_t p = 0, n = 0, starP = std::string::npos, starN = 0;
    while (n < name.size()) {
        size_t length = Utf8SequenceLength(static_cast<unsigned char>(name[n]));
        if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (p < pattern.size() && pattern[p] == '?') {
            ++p;
            n += length;
        } else if (p < pattern.size() && AsciiLower(pattern[p]) == AsciiLower(name[n])) {
            ++p;
            ++n;
        } else if (starP != std::string::npos) {
            p = starP + 1;
            starN += Utf8SequenceLength(static_cast<unsigned char>(name[starN]));
            n = starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

bool IsStrayFileName(const std::string& name)
{
    static const char* const strays[] = {"Thumbs.db", "ehthumbs.db", "desktop.ini", ".DS_Store", "._*",
                                         "*~", "#*#", ".#*", "*.swp", "*.swo", "*.swx", "*.orig",
                                         "*.rej"};
    for (const char* pattern : strays)
        if (MatchesGlob(pattern, name))
            return true;
    return false;
}

std::string HexNumber(uint64_t value, int digits)
{
    char text[24];
    snprintf(text, sizeof text, "0x%0*llX", digits, static_cast<unsigned long long>(value));
    return text;
}

std::string EscapeName(const std::string& bytes)
{
    std::string out;
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char escaped[8];
            snprintf(escaped, sizeof escaped, "\\x%02X", c);
            out += escaped;
        }
    }
    return out;
}

#include "codepage.h"

#include <vector>

#ifdef _WIN32
#include "windows_api.h"
#include "host_files.h"
#else
#include <cerrno>
#include <iconv.h>
#include <locale.h>
#include <wctype.h>

#include "utf.h"
#endif

#ifdef _WIN32

bool IsCodePageSupported(unsigned codePage)
{
    return codePage == CP_UTF8 || IsValidCodePage(codePage);
}

static bool ToWide(unsigned codePage, const std::string& bytes, std::wstring* wide)
{
    wide->clear();
    if (bytes.empty())
        return true;
    int n = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(),
                                static_cast<int>(bytes.size()), nullptr, 0);
    if (n <= 0)
        return false;
    wide->resize(static_cast<size_t>(n));
    return MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(),
                               static_cast<int>(bytes.size()), &(*wide)[0], n) == n;
}

static bool FromWide(unsigned codePage, const std::wstring& wide, std::string* bytes)
{
    bytes->clear();
    if (wide.empty())
        return true;
    // UTF-8 takes neither flag nor default-character report.
    DWORD flags = codePage == CP_UTF8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    BOOL usedDefault = FALSE;
    BOOL* usedDefaultOut = codePage == CP_UTF8 ? nullptr : &usedDefault;
    int n = WideCharToMultiByte(codePage, flags, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                nullptr, usedDefaultOut);
    if (n <= 0 || usedDefault)
        return false;
    bytes->resize(static_cast<size_t>(n));
    return WideCharToMultiByte(codePage, flags, wide.data(), static_cast<int>(wide.size()), &(*bytes)[0],
                               n, nullptr, usedDefaultOut) == n &&
           !usedDefault;
}

static bool Convert(unsigned from, unsigned to, const std::string& in, std::string* out)
{
    std::wstring wide;
    std::string converted;
    if (!ToWide(from, in, &wide) || !FromWide(to, wide, &converted))
        return false;
    *out = converted;
    return true;
}

std::string CaseInsensitiveKey(const std::string& utf8)
{
    // The invariant locale's simple upper case, unit by unit, from KERNEL32:
    // the user interface library would cost the tool its start-up time.
    std::wstring wide = WideFromUtf8(utf8);
    std::wstring upper(wide.size(), L'\0');
    if (wide.empty() ||
        LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, wide.data(), static_cast<int>(wide.size()),
                      &upper[0], static_cast<int>(upper.size()), nullptr, nullptr, 0) != static_cast<int>(wide.size()))
        return utf8;
    return Utf8FromWide(upper);
}

#else

static std::string IconvName(unsigned codePage)
{
    return codePage == 65001 ? std::string("UTF-8") : "CP" + std::to_string(codePage);
}

bool IsCodePageSupported(unsigned codePage)
{
    iconv_t cd = iconv_open(IconvName(codePage).c_str(), "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return false;
    iconv_close(cd);
    return true;
}

static bool Iconv(const std::string& to, const std::string& from, const std::string& in, std::string* out)
{
    iconv_t cd = iconv_open(to.c_str(), from.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1))
        return false;
    std::vector<char> input(in.begin(), in.end());
    std::vector<char> output(in.size() * 4 + 16);
    char* inPtr = input.data();
    size_t inLeft = input.size();
    char* outPtr = output.data();
    size_t outLeft = output.size();
    // A non-zero count means characters were replaced by approximations.
    size_t irreversible = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    bool ok = irreversible == 0 && inLeft == 0;
    if (ok)
        ok = iconv(cd, nullptr, nullptr, &outPtr, &outLeft) == 0;  // flush any shift state
    iconv_close(cd);
    if (ok)
        out->assign(output.data(), static_cast<size_t>(outPtr - output.data()));
    return ok;
}

static bool Convert(unsigned from, unsigned to, const std::string& in, std::string* out)
{
    return Iconv(IconvName(to), IconvName(from), in, out);
}

std::string CaseInsensitiveKey(const std::string& utf8)
{
    // Windows upper-cases each UTF-16 unit on its own: characters beyond the
    // basic plane, two surrogates each, keep their case.
    static locale_t unicode = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
    std::u16string units;
    if (!Utf8ToUtf16(utf8, &units))
        return utf8;  // names come here only once they have converted
    for (char16_t& unit : units) {
        if (unit >= 0xD800 && unit <= 0xDFFF)
            continue;
        if (unicode != nullptr) {
            wint_t upper = towupper_l(static_cast<wint_t>(unit), unicode);
            if (upper <= 0xFFFF)
                unit = static_cast<char16_t>(upper);
        } else if (unit >= u'a' && unit <= u'z') {
            unit = static_cast<char16_t>(unit - (u'a' - u'A'));
        }
    }
    return Utf16ToUtf8(units);
}

#endif

// The way back must give the same text: a converter that quietly maps a
// character to a look-alike would otherwise store a different name.
bool Utf8ToCodePage(unsigned codePage, const std::string& utf8, std::string* out)
{
    std::string converted, back;
    if (!Convert(65001, codePage, utf8, &converted) || !Convert(codePage, 65001, converted, &back) ||
        back != utf8)
        return false;
    *out = converted;
    return true;
}

bool CodePageToUtf8(unsigned codePage, const std::string& bytes, std::string* out)
{
    return Convert(codePage, 65001, bytes, out);
}

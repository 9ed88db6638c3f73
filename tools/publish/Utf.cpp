#include "Utf.h"

bool Utf8ToUtf16(const std::string& str, std::u16string* pOut)
{
    pOut->clear();
    for (size_t i = 0; i < str.size();) {
        const unsigned char c0 = static_cast<unsigned char>(str[i]);
        int nTrail = 0;
        char32_t cp = 0;
        char32_t cpMin = 0;
        if (c0 < 0x80) {
            cp = c0;
        } else if ((c0 & 0xE0) == 0xC0) {
            nTrail = 1, cp = c0 & 0x1F, cpMin = 0x80;
        } else if ((c0 & 0xF0) == 0xE0) {
            nTrail = 2, cp = c0 & 0x0F, cpMin = 0x800;
        } else if ((c0 & 0xF8) == 0xF0) {
            nTrail = 3, cp = c0 & 0x07, cpMin = 0x10000;
        } else {
            return false;
        }
        if (str.size() - i <= static_cast<size_t>(nTrail))
            return false;
        for (int k = 1; k <= nTrail; ++k) {
            const unsigned char c = static_cast<unsigned char>(str[i + k]);
            if ((c & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (c & 0x3F);
        }
        // Overlong forms, surrogates and values beyond Unicode are not text.
        if (cp < cpMin || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF)
            return false;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            pOut->push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            pOut->push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            pOut->push_back(static_cast<char16_t>(cp));
        }
        i += 1 + nTrail;
    }
    return true;
}

std::string Utf16LeBytes(const std::u16string& str)
{
    std::string bytes;
    bytes.reserve(str.size() * 2);
    for (char16_t ch : str) {
        bytes.push_back(static_cast<char>(ch & 0xFF));
        bytes.push_back(static_cast<char>(ch >> 8));
    }
    return bytes;
}

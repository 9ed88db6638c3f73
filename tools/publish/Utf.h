#pragma once

#include <string>

// UTF-8 to UTF-16; false on bytes that are not well-formed UTF-8.
bool Utf8ToUtf16(const std::string& str, std::u16string* pOut);

// UTF-16LE bytes of a UTF-16 string.
std::string Utf16LeBytes(const std::u16string& str);

#pragma once

#include <string>
#include <string_view>

namespace toolkit {

// Bytes to UTF-16 and back without loss. Valid UTF-8 becomes the characters it encodes; every
// byte that is not part of a valid UTF-8 sequence becomes the lone surrogate U+DC00 + byte
// (U+DC80..U+DCFF), which valid UTF-8 never yields. Decoding turns those surrogates back into
// their bytes, so decodeEscaped(encodeEscaped(b)) == b for any bytes b.
std::u16string decodeEscaped(std::string_view bytes);

// UTF-16 to bytes: characters as UTF-8, the escape surrogates as the bytes they stand for. Every
// lone U+DC00 + byte stands for its byte, U+DC00..U+DC7F included, which decoding never yields
// but a text pane uses to keep a line break inside one line (see lineFromBytes). Any other lone
// surrogate is written as its three-byte form.
std::string encodeEscaped(std::u16string_view text);

}  // namespace toolkit

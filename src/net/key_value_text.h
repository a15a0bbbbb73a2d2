// The key-value text format of the server's replies, the server override
// file and the texts handed between threads: each key is "~", a name and
// "=", directly followed by its value, which ends before the next "~" or "|"
// or at the end of the text. A text also ends at its first zero byte. A
// file-list section is "~fl=" followed by items between "|" marks, closed by
// "||".
//
// Every function takes the text as a buffer and a length (a string_view)
// and is safe on any bytes; a missing key is never an error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace net {

// The value of the first occurrence of `key` (for example "~ac="); empty
// when the key does not occur.
std::string GetValue(std::string_view text, std::string_view key);

// The value of `key` read as a decimal integer: leading white space, an
// optional sign, digits up to the first non-digit, at most the first 51
// characters of the value. 0 when the key is missing or has no digits;
// values beyond the 32-bit range are clamped.
int32_t GetIntValue(std::string_view text, std::string_view key);

// Offset of the first character of `key`'s value inside `text`; nothing
// when the key does not occur.
std::optional<size_t> FindValue(std::string_view text, std::string_view key);

// Walks the file-list section of the zero-terminated text in `text` (at most
// `length` bytes) and calls `visit` with each item. The walk is destructive:
// the "|" after each item is overwritten with a zero byte, so afterwards the
// text as a whole ends where its first item ends. No "~fl=", no opening "|"
// or no closing "||": no items. Returns the number of items visited. Each
// item is a zero-terminated view into `text`, valid while `text` is; the
// std::string overload keeps the string's size (the zero bytes end it for
// every later lookup, the items stay in place behind them).
size_t ForEachListItem(char* text, size_t length, const std::function<void(std::string_view item)>& visit);
size_t ForEachListItem(std::string& text, const std::function<void(std::string_view item)>& visit);

// True when `text` holds a complete file-list section: "~fl=", an opening
// "|" and the closing "||".
bool HasCompleteList(std::string_view text);

// A heap copy of `text` for another thread, which owns it from then on. Like
// every text here the copy ends at the first zero byte of `text`.
std::unique_ptr<std::string> CopyText(std::string_view text);

}  // namespace net

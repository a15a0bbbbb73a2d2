// Lookups on key-value texts. Every function first limits the text to its
// first zero byte (the text's end by definition), then works on string_view
// positions only, so no byte past the given length is ever read.
#include "net/key_value_text.h"

#include <cstring>
#include <limits>

namespace net {
namespace {

constexpr size_t kIntValueWidth = 51;  // characters of a value read as a number
constexpr std::string_view kListKey = "~fl=";

// The text up to its first zero byte.
std::string_view UntilZero(std::string_view text) {
  const size_t zero = text.find('\0');
  return zero == std::string_view::npos ? text : text.substr(0, zero);
}

// The value that starts at `start`: up to the first "~" or "|", or the end.
std::string_view ValueAt(std::string_view text, size_t start) {
  const size_t end = text.find_first_of("~|", start);
  return text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// Positions of the list section: the opening "|" and the first "||" at or
// after it. Nothing when a part is missing.
struct ListBounds {
  size_t open;
  size_t end;
};

std::optional<ListBounds> FindList(std::string_view text) {
  const size_t key = text.find(kListKey);
  if (key == std::string_view::npos) return std::nullopt;
  const size_t open = text.find('|', key + kListKey.size());
  if (open == std::string_view::npos) return std::nullopt;
  const size_t end = text.find("||", open);
  if (end == std::string_view::npos) return std::nullopt;
  return ListBounds{open, end};
}

}  // namespace

std::optional<size_t> FindValue(std::string_view text, std::string_view key) {
  text = UntilZero(text);
  const size_t at = text.find(key);
  if (at == std::string_view::npos) return std::nullopt;
  return at + key.size();
}

std::string GetValue(std::string_view text, std::string_view key) {
  text = UntilZero(text);
  const std::optional<size_t> start = FindValue(text, key);
  if (!start) return {};
  return std::string(ValueAt(text, *start));
}

int32_t GetIntValue(std::string_view text, std::string_view key) {
  text = UntilZero(text);
  const std::optional<size_t> start = FindValue(text, key);
  if (!start) return 0;
  const std::string_view value = ValueAt(text, *start).substr(0, kIntValueWidth);

  size_t i = 0;
  while (i < value.size() && IsSpace(value[i])) ++i;
  bool negative = false;
  if (i < value.size() && (value[i] == '+' || value[i] == '-')) {
    negative = value[i] == '-';
    ++i;
  }
  // Accumulate in 64 bits and stop growing once past the 32-bit range: the
  // result is clamped, never overflowed.
  constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
  int64_t magnitude = 0;
  for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i) {
    if (magnitude <= kLimit) magnitude = magnitude * 10 + (value[i] - '0');
  }
  if (negative) {
    return magnitude >= kLimit ? std::numeric_limits<int32_t>::min() : static_cast<int32_t>(-magnitude);
  }
  return magnitude >= kLimit ? std::numeric_limits<int32_t>::max() : static_cast<int32_t>(magnitude);
}

size_t ForEachListItem(char* text, size_t length, const std::function<void(std::string_view item)>& visit) {
  if (text == nullptr) return 0;
  const std::string_view whole = UntilZero(std::string_view(text, length));
  const std::optional<ListBounds> list = FindList(whole);
  if (!list) return 0;

  size_t visited = 0;
  size_t current = list->open;
  while (current < list->end) {
    // The "|" at list->end guarantees that a next "|" exists.
    const size_t next = whole.find('|', current + 1);
    text[next] = '\0';
    ++visited;
    if (visit) visit(std::string_view(text + current + 1, next - current - 1));
    current = next;
  }
  return visited;
}

size_t ForEachListItem(std::string& text, const std::function<void(std::string_view item)>& visit) {
  // The string keeps its size: the zero bytes written by the walk end the
  // text for every later lookup, and the items stay in place behind them.
  return ForEachListItem(text.data(), text.size(), visit);
}

bool HasCompleteList(std::string_view text) { return FindList(UntilZero(text)).has_value(); }

std::unique_ptr<std::string> CopyText(std::string_view text) { return std::make_unique<std::string>(UntilZero(text)); }

}  // namespace net

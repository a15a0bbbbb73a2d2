// A text field of fixed width, as the application object and the records
// keep them: a value longer than the field is cut to the field's width
// (width minus the terminator), never overflowing it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace app {

template <size_t Width>
class FixedText {
  static_assert(Width >= 1, "a field holds at least its terminator");

 public:
  static constexpr size_t kCapacity = Width - 1;  // characters that fit

  FixedText() = default;
  FixedText(std::string_view value) { Set(value); }  // NOLINT: fields are assigned from texts

  FixedText& operator=(std::string_view value) {
    Set(value);
    return *this;
  }
  // Stores `value`, cut at its first zero byte and to the field's capacity.
  void Set(std::string_view value) {
    const size_t zero = value.find('\0');
    if (zero != std::string_view::npos) value = value.substr(0, zero);
    text_.assign(value.substr(0, kCapacity));
  }
  // Appends as much of `value` as still fits.
  void Append(std::string_view value) { Set(text_ + std::string(value)); }
  void Clear() { text_.clear(); }

  const std::string& str() const { return text_; }
  const char* c_str() const { return text_.c_str(); }
  bool empty() const { return text_.empty(); }
  size_t size() const { return text_.size(); }
  operator std::string_view() const { return text_; }  // NOLINT

 private:
  std::string text_;
};

}  // namespace app

#include "form.h"

namespace refserver {
namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string DecodeComponent(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '+') {
      out += ' ';
    } else if (c == '%' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 && HexDigit(text[i + 2]) >= 0) {
      out += static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2]));
      i += 2;
    } else {
      out += c;
    }
  }
  return out;
}

Form DecodeForm(const std::string& body) {
  Form form;
  size_t start = 0;
  while (start <= body.size()) {
    size_t end = body.find('&', start);
    if (end == std::string::npos) end = body.size();
    const std::string field = body.substr(start, end - start);
    if (!field.empty()) {
      const size_t eq = field.find('=');
      if (eq == std::string::npos) {
        form.emplace_back(DecodeComponent(field), std::string());
      } else {
        form.emplace_back(DecodeComponent(field.substr(0, eq)), DecodeComponent(field.substr(eq + 1)));
      }
    }
    start = end + 1;
  }
  return form;
}

std::string FormValue(const Form& form, const std::string& name) {
  for (const auto& [fieldName, value] : form) {
    if (fieldName == name) return value;
  }
  return {};
}

}  // namespace refserver

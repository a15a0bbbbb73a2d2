// Decoding of url-encoded request forms (application/x-www-form-urlencoded)
// as the update and pixel servlets receive them.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace refserver {

// Decoded fields in the order they arrived; a name may repeat.
using Form = std::vector<std::pair<std::string, std::string>>;

// Splits `body` at "&" and each field at its first "=", then decodes names
// and values: "+" becomes a space and "%XX" the byte XX. A "%" that is not
// followed by two hex digits is kept as it is. Empty fields ("a=1&&b=2")
// are skipped; a field without "=" has an empty value. Never fails.
Form DecodeForm(const std::string& body);

// Value of the first field called `name`; empty when there is none.
std::string FormValue(const Form& form, const std::string& name);

// Decodes one url-encoded component as DecodeForm does.
std::string DecodeComponent(const std::string& text);

}  // namespace refserver

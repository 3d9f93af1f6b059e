// Text helpers for requests: blanks, header tokens, form bodies and cookies.
#pragma once

#include <string>
#include <string_view>

#include "sim/shop/z31shop.h"

namespace z31sim {

std::string_view Trim(std::string_view s);  // without leading and trailing blanks
bool EqualsNoCase(std::string_view a, std::string_view b);
// Whether a comma-separated header value such as "keep-alive, Upgrade" holds `token` (any case).
bool HasToken(std::string_view value, std::string_view token);

// Form decoding: '+' is a space and %XX a byte; a '%' not followed by two hex digits stays as is.
std::string FormDecode(std::string_view s);
// "a=1&b=x+y" -> {{"a","1"},{"b","x y"}}, names and values decoded, in order. A part without
// '=' is a name with an empty value; empty parts are skipped.
HeaderList ParseForm(std::string_view body);
// First value of `name` in a decoded form, "" when missing.
std::string FormValue(const HeaderList& form, std::string_view name);

// The value of cookie `name` in a Cookie header ("a=1; b=2"), "" when missing.
std::string CookieValue(std::string_view header, std::string_view name);

}  // namespace z31sim

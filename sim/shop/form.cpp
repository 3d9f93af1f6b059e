#include "sim/shop/form.h"

#include <cctype>

namespace z31sim {
namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

}  // namespace

std::string_view Trim(std::string_view s) {
    constexpr std::string_view kBlanks = " \t\r\n";
    std::size_t first = s.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    std::size_t last = s.find_last_not_of(kBlanks);
    return s.substr(first, last - first + 1);
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i])) return false;
    }
    return true;
}

bool HasToken(std::string_view value, std::string_view token) {
    while (!value.empty()) {
        std::size_t comma = value.find(',');
        if (EqualsNoCase(Trim(value.substr(0, comma)), token)) return true;
        if (comma == std::string_view::npos) break;
        value.remove_prefix(comma + 1);
    }
    return false;
}

std::string FormDecode(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '+') {
            out += ' ';
        } else if (s[i] == '%' && i + 2 < s.size() && HexDigit(s[i + 1]) >= 0 &&
                   HexDigit(s[i + 2]) >= 0) {
            out += static_cast<char>(HexDigit(s[i + 1]) * 16 + HexDigit(s[i + 2]));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

HeaderList ParseForm(std::string_view body) {
    HeaderList form;
    while (!body.empty()) {
        std::size_t amp = body.find('&');
        std::string_view part = body.substr(0, amp);
        if (!part.empty()) {
            std::size_t eq = part.find('=');
            std::string_view value = eq == std::string_view::npos ? "" : part.substr(eq + 1);
            form.emplace_back(FormDecode(part.substr(0, eq)), FormDecode(value));
        }
        if (amp == std::string_view::npos) break;
        body.remove_prefix(amp + 1);
    }
    return form;
}

std::string FormValue(const HeaderList& form, std::string_view name) {
    for (const auto& [key, value] : form) {
        if (key == name) return value;
    }
    return "";
}

std::string CookieValue(std::string_view header, std::string_view name) {
    while (!header.empty()) {
        std::size_t semi = header.find(';');
        std::string_view part = Trim(header.substr(0, semi));
        std::size_t eq = part.find('=');
        if (eq != std::string_view::npos && Trim(part.substr(0, eq)) == name) {
            return std::string(Trim(part.substr(eq + 1)));
        }
        if (semi == std::string_view::npos) break;
        header.remove_prefix(semi + 1);
    }
    return "";
}

}  // namespace z31sim

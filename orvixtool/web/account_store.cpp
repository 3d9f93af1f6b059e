#include "orvixtool/web/account_store.h"

#include <array>

#include "orvixtool/web/account_scramble.h"
#include "orvixtool/web/registry.h"

namespace devod {
namespace {

constexpr const char* kAccountKey = "SOFTWARE\\DEVOD\\HTTPACCOUNT";
constexpr const char* kSaveValue = "IsAccountSave";
constexpr const char* kIdValue = "AccountID";
constexpr const char* kPassValue = "AccountPass";

uint8_t ScrambleByte(size_t i) { return static_cast<uint8_t>((i + kScrambleKey) & 0xFF); }

// Reads a string the way the login dialog does: into a zero-filled 256-byte buffer offering 255
// bytes. A value that does not fit stays empty.
std::string ReadString(const RegKey& key, const char* name) {
    std::array<char, 256> buffer{};
    uint32_t size = 255;
    if (key.QueryString(name, buffer.data(), &size) != kRegSuccess) return {};
    return std::string(buffer.data());
}

// Each value is written on its own: open the key, set, close. A failed write is not reported.
void WriteDword(const char* name, uint32_t value) {
    RegKey key;
    if (key.Create(kAccountKey) == kRegSuccess) key.SetDword(name, value);
}

void WriteString(const char* name, const std::string& value) {
    RegKey key;
    if (key.Create(kAccountKey) == kRegSuccess) key.SetString(name, value);
}

}  // namespace

std::string ScrambleText(std::string_view text) {
    std::string out;
    size_t n = std::min(text.size(), kScrambleMaxLength);
    out.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        char c = static_cast<char>(static_cast<uint8_t>(text[i]) ^ ScrambleByte(i));
        if (c == '\0') break;
        out += c;
    }
    return out;
}

bool CanScramble(std::string_view text) {
    if (text.size() > kScrambleMaxLength) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        if (static_cast<uint8_t>(text[i]) == ScrambleByte(i)) return false;
    }
    return true;
}

StoredAccount HttpAccountStore::Load() const {
    StoredAccount account;
    RegKey key;
    if (key.Create(kAccountKey) != kRegSuccess) return account;
    uint32_t saved = 0;
    if (key.QueryDword(kSaveValue, &saved) != kRegSuccess || saved != 1) return account;
    account.saved = true;
    account.email = ReadString(key, kIdValue);
    account.password = ScrambleText(ReadString(key, kPassValue));
    return account;
}

bool HttpAccountStore::Save(bool save_flag, const std::string& email,
                            const std::string& password) {
    // A password that would not come back whole (too long, or a byte that scrambles to the zero
    // that ends the stored string, or a zero byte of its own) is not remembered at all.
    bool storable = CanScramble(password) && password.find('\0') == std::string::npos;
    if (save_flag && storable) {
        WriteDword(kSaveValue, 1);
        WriteString(kIdValue, email);
        WriteString(kPassValue, ScrambleText(password));
    } else {
        WriteDword(kSaveValue, 0);
        WriteString(kIdValue, "");
        WriteString(kPassValue, "");
    }
    return !save_flag || storable;
}

}  // namespace devod

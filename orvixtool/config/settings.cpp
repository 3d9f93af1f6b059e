#include "orvixtool/config/settings.h"

#include <array>

#include "orvixtool/config/registry.h"
#include "orvixtool/config/scramble.h"

namespace devod {

using namespace settings_keys;

std::optional<std::string> Settings::ReadString(const char* key, const char* name) {
    RegKey reg;
    if (reg.Create(key) != kRegSuccess) return std::nullopt;
    std::array<char, 256> buffer{};
    uint32_t size = 255;
    if (reg.QueryString(name, buffer.data(), &size) != kRegSuccess) return std::nullopt;
    return std::string(buffer.data());
}

std::optional<uint32_t> Settings::ReadDword(const char* key, const char* name) {
    RegKey reg;
    if (reg.Create(key) != kRegSuccess) return std::nullopt;
    uint32_t value = 0;
    if (reg.QueryDword(name, &value) != kRegSuccess) return std::nullopt;
    return value;
}

void Settings::WriteString(const char* key, const char* name, const std::string& value) {
    RegKey reg;
    if (reg.Create(key) == kRegSuccess) reg.SetString(name, value);
}

void Settings::WriteDword(const char* key, const char* name, uint32_t value) {
    RegKey reg;
    if (reg.Create(key) == kRegSuccess) reg.SetDword(name, value);
}

StoredAccount Settings::LoadAccount(const char* key) {
    StoredAccount account;
    if (ReadDword(key, kIsAccountSave) != 1u) return account;
    account.saved = true;
    account.email = ReadString(key, kAccountId).value_or("");
    account.password = ScrambleText(ReadString(key, kAccountPass).value_or(""));
    return account;
}

bool Settings::SaveAccount(const char* key, bool save, const std::string& email,
                           const std::string& password) {
    // A password that would not come back whole is not remembered at all.
    const bool storable = CanScramble(password) && password.find('\0') == std::string::npos;
    if (save && storable) {
        WriteDword(key, kIsAccountSave, 1);
        WriteString(key, kAccountId, email);
        WriteString(key, kAccountPass, ScrambleText(password));
    } else {
        WriteDword(key, kIsAccountSave, 0);
        WriteString(key, kAccountId, "");
        WriteString(key, kAccountPass, "");
    }
    return !save || storable;
}

std::optional<std::string> Settings::WebHost() const {
    std::optional<std::string> host = ReadString(kWeb, kHost);
    if (host && host->empty()) return std::nullopt;
    return host;
}

std::optional<int> Settings::WebPort() const {
    std::optional<uint32_t> port = ReadDword(kWeb, kPort);
    if (!port || *port < 1 || *port > 65535) return std::nullopt;
    return static_cast<int>(*port);
}

void Settings::SetWebHost(const std::string& host) { WriteString(kWeb, kHost, host); }
void Settings::SetWebPort(int port) { WriteDword(kWeb, kPort, static_cast<uint32_t>(port)); }

std::optional<int> Settings::SerialPort() const {
    std::optional<uint32_t> port = ReadDword(kSerial, kSerialPort);
    if (!port || *port < 1 || *port > 256) return std::nullopt;
    return static_cast<int>(*port);
}

std::optional<std::string> Settings::SerialModel() const {
    std::optional<std::string> model = ReadString(kSerial, kSerialModel);
    if (model && model->empty()) return std::nullopt;
    return model;
}

void Settings::SetSerialPort(int port) {
    WriteDword(kSerial, kSerialPort, static_cast<uint32_t>(port));
}
void Settings::SetSerialModel(const std::string& model) {
    WriteString(kSerial, kSerialModel, model);
}

}  // namespace devod

// Every value DevodTool remembers per user, typed, with its key and value names in one place. The
// registry layer (registry.h) stores them underneath; a value that is missing, of the other type
// or too long to read back is simply absent.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace devod {

// Where each value lives.
namespace settings_keys {
inline constexpr char kHttpAccount[] = "SOFTWARE\\DEVOD\\HTTPACCOUNT";
inline constexpr char kFtpAccount[] = "SOFTWARE\\DEVOD\\FTPACCOUNT";
inline constexpr char kWeb[] = "SOFTWARE\\DEVOD\\WEB";
inline constexpr char kSerial[] = "SOFTWARE\\DEVOD\\SERIAL";

// Both accounts use the same three values.
inline constexpr char kIsAccountSave[] = "IsAccountSave";  // 32-bit integer, 1 = stored
inline constexpr char kAccountId[] = "AccountID";          // string
inline constexpr char kAccountPass[] = "AccountPass";      // string, scrambled
inline constexpr char kHost[] = "Host";                    // string
inline constexpr char kPort[] = "Port";                    // 32-bit integer
inline constexpr char kSerialPort[] = "Port";              // 32-bit integer, a COM number
inline constexpr char kSerialModel[] = "Model";            // string
}  // namespace settings_keys

// A remembered account; the password unscrambled.
struct StoredAccount {
    bool saved = false;
    std::string email;
    std::string password;
};

class Settings {
public:
    // The shop account of the login dialog, and the FTP account, stored alike. An account whose
    // "IsAccountSave" is missing or other than 1 is not saved, whatever else is stored.
    StoredAccount HttpAccount() const { return LoadAccount(settings_keys::kHttpAccount); }
    StoredAccount FtpAccount() const { return LoadAccount(settings_keys::kFtpAccount); }
    // With save: remembers the account; without: forgets it (0 and empty strings). Returns false
    // when the password cannot be remembered (longer than 254 bytes, a zero byte, or a byte that
    // would scramble to the zero ending the stored string); the account is then forgotten.
    bool SaveHttpAccount(bool save, const std::string& email, const std::string& password) {
        return SaveAccount(settings_keys::kHttpAccount, save, email, password);
    }
    bool SaveFtpAccount(bool save, const std::string& email, const std::string& password) {
        return SaveAccount(settings_keys::kFtpAccount, save, email, password);
    }

    // The shop's address as the user overrides it.
    std::optional<std::string> WebHost() const;  // absent when empty
    std::optional<int> WebPort() const;          // absent unless 1 to 65535
    void SetWebHost(const std::string& host);
    void SetWebPort(int port);

    // The serial port and model last used for a device on a serial port.
    std::optional<int> SerialPort() const;  // absent unless 1 to 256
    std::optional<std::string> SerialModel() const;
    void SetSerialPort(int port);
    void SetSerialModel(const std::string& model);

    // A string value as the dialogs read it: into a zero-filled 256-byte buffer offering 255
    // bytes, up to its first zero; absent when missing, of the other type or longer than 254.
    static std::optional<std::string> ReadString(const char* key, const char* name);
    static std::optional<uint32_t> ReadDword(const char* key, const char* name);
    // Each value is written on its own: open (or create) the key, set, close. A failed write is
    // not reported.
    static void WriteString(const char* key, const char* name, const std::string& value);
    static void WriteDword(const char* key, const char* name, uint32_t value);

private:
    static StoredAccount LoadAccount(const char* key);
    static bool SaveAccount(const char* key, bool save, const std::string& email,
                            const std::string& password);
};

}  // namespace devod

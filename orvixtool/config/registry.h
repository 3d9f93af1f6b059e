// A small per-user registry on an INI file (QSettings), for the values the program remembers
// between runs. Keys are paths such as "SOFTWARE\DEVOD\HTTPACCOUNT" under the current user's
// hive; each value keeps its type (a 32-bit integer or a string), and reading a value as the other
// type fails. The results follow the Windows registry calls the dialogs were written against.
//
// The file is $XDG_CONFIG_HOME/DEVOD/DevodTool.ini (or ~/.config/...). It holds a scrambled
// password, so the folder is created 0700 and the file is made 0600 after every write.
#pragma once

#include <cstdint>
#include <string>

namespace devod {

using RegResult = long;
inline constexpr RegResult kRegSuccess = 0;            // ERROR_SUCCESS
inline constexpr RegResult kRegFileNotFound = 2;       // ERROR_FILE_NOT_FOUND: no such value
inline constexpr RegResult kRegAccessDenied = 5;       // ERROR_ACCESS_DENIED: file unusable
inline constexpr RegResult kRegInvalidHandle = 6;      // ERROR_INVALID_HANDLE: key not open
inline constexpr RegResult kRegInvalidData = 13;       // ERROR_INVALID_DATA: other type stored
inline constexpr RegResult kRegInvalidParameter = 87;  // ERROR_INVALID_PARAMETER
inline constexpr RegResult kRegMoreData = 234;         // ERROR_MORE_DATA: buffer too small

// The INI file the registry lives in (not created by this call); empty when neither
// XDG_CONFIG_HOME nor HOME says where the user's configuration goes.
std::string RegistryFilePath();

// One open key. Cheap: the values are read from and written to the file on each call.
class RegKey {
public:
    RegKey() = default;

    // Opens the key, creating it when missing (RegCreateKeyEx). The path uses backslashes,
    // e.g. "SOFTWARE\DEVOD\WEB"; empty parts and characters other than letters, digits, '_',
    // '-', '.' and ' ' are refused.
    RegResult Create(const std::string& path);
    void Close();
    bool is_open() const { return !group_.empty(); }

    // Reads a REG_DWORD value.
    RegResult QueryDword(const std::string& name, uint32_t* value) const;
    // Reads a REG_SZ value into buffer, zero-terminated. *size is the buffer's size in bytes on
    // entry and the stored size (length + 1) on return. When the stored size exceeds *size the
    // result is kRegMoreData and the buffer is left untouched.
    RegResult QueryString(const std::string& name, char* buffer, uint32_t* size) const;

    RegResult SetDword(const std::string& name, uint32_t value);
    // A string containing a zero byte cannot be stored (kRegInvalidParameter).
    RegResult SetString(const std::string& name, const std::string& value);

private:
    RegResult Read(const std::string& name, std::string* tagged) const;
    RegResult Write(const std::string& name, const std::string& tagged);

    std::string group_;  // QSettings group: the key path with '/' separators
};

}  // namespace devod

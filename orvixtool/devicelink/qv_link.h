// The QVLib calls DevodTool makes for a device on a serial port, behind one small interface: the
// program uses the library itself (QvLibLink), the tests a script. Every call has the meaning and
// the results of the library's export of the same name.
#pragma once

#include <string>
#include <vector>

#include "qvlib/session/qvlib.h"

namespace devod {

// The six settings lists of a session, by value.
struct SerialSettings {
    std::vector<int> speeds, warning, unit, gmt, summer, clock;
    bool operator==(const SerialSettings&) const = default;
};

// Whether two lists of user points hold the same points, field by field.
bool SamePoints(const std::vector<UserPointEntry>& a, const std::vector<UserPointEntry>& b);

class IQvLink {
public:
    virtual ~IQvLink() = default;

    // The names of the models a port can be opened as, in table order.
    virtual std::vector<std::string> ModelNames() = 0;
    virtual int OpenDevice(const std::string& model, int port) = 0;
    virtual int CloseDevice(int port) = 0;
    virtual int GetQueryState(int port) = 0;
    virtual int GetQueryResult(int port) = 0;
    virtual int GetQueryProgressMin(int port) = 0;
    virtual int GetQueryProgressMax(int port) = 0;
    virtual int GetQueryProgressPos(int port) = 0;

    virtual int ReqGetDeviceMode(int port) = 0;
    virtual int GetDeviceModeResult(int port) = 0;
    virtual int ReqSetDeviceDNMode(int port) = 0;
    virtual int ReqEraseDB(int port) = 0;
    virtual int ReqWriteDB(int port, const std::string& path) = 0;

    virtual int ReqGetFWVersion(int port) = 0;
    virtual int ReqGetDBVersion(int port) = 0;
    virtual int ReqGetSerialNumber(int port) = 0;
    virtual std::string GetVersionResult(int port) = 0;

    // The settings and user point transfers, and the session's lists they fill and send.
    virtual int ReqGetUserSetting(int port) = 0;
    virtual int ReqSetUserSetting(int port) = 0;
    virtual int ReqGetUserDB(int port) = 0;
    virtual int ReqSetUserDB(int port) = 0;
    virtual SerialSettings GetSettings(int port) = 0;
    virtual void SetSettings(int port, const SerialSettings& settings) = 0;
    virtual std::vector<UserPointEntry> GetUserPoints(int port) = 0;
    virtual void SetUserPoints(int port, const std::vector<UserPointEntry>& points) = 0;

    virtual int ReqFindDevice(const std::string& model) = 0;
    virtual int FindDeviceState() = 0;
    virtual int GetFoundDeviceCount() = 0;
    virtual int GetFoundDevicePort(int index) = 0;
};

// The library itself.
class QvLibLink : public IQvLink {
public:
    std::vector<std::string> ModelNames() override;
    int OpenDevice(const std::string& model, int port) override;
    int CloseDevice(int port) override;
    int GetQueryState(int port) override;
    int GetQueryResult(int port) override;
    int GetQueryProgressMin(int port) override;
    int GetQueryProgressMax(int port) override;
    int GetQueryProgressPos(int port) override;
    int ReqGetDeviceMode(int port) override;
    int GetDeviceModeResult(int port) override;
    int ReqSetDeviceDNMode(int port) override;
    int ReqEraseDB(int port) override;
    int ReqWriteDB(int port, const std::string& path) override;
    int ReqGetFWVersion(int port) override;
    int ReqGetDBVersion(int port) override;
    int ReqGetSerialNumber(int port) override;
    std::string GetVersionResult(int port) override;
    int ReqGetUserSetting(int port) override;
    int ReqSetUserSetting(int port) override;
    int ReqGetUserDB(int port) override;
    int ReqSetUserDB(int port) override;
    SerialSettings GetSettings(int port) override;
    void SetSettings(int port, const SerialSettings& settings) override;
    std::vector<UserPointEntry> GetUserPoints(int port) override;
    void SetUserPoints(int port, const std::vector<UserPointEntry>& points) override;
    int ReqFindDevice(const std::string& model) override;
    int FindDeviceState() override;
    int GetFoundDeviceCount() override;
    int GetFoundDevicePort(int index) override;
};

}  // namespace devod

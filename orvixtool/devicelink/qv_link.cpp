#include "orvixtool/devicelink/qv_link.h"

#include <cstring>

#include "qvlib/session/qvlib.h"

namespace devod {

bool SamePoints(const std::vector<UserPointEntry>& a, const std::vector<UserPointEntry>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const UserPointEntry& x = a[i];
        const UserPointEntry& y = b[i];
        if (x.w0Bits0to3 != y.w0Bits0to3 || x.w0Bits4to9 != y.w0Bits4to9 ||
            x.w0Bits10to15 != y.w0Bits10to15 || x.w1Bits0to1 != y.w1Bits0to1 ||
            x.w1Bits2to5 != y.w1Bits2to5 || x.w1Bits6to10 != y.w1Bits6to10 ||
            x.w1Bits11to15 != y.w1Bits11to15 || x.word2 != y.word2 || x.latitude != y.latitude ||
            x.word5 != y.word5 || x.longitude != y.longitude || x.direction != y.direction ||
            x.word9 != y.word9 || x.word10 != y.word10) {
            return false;
        }
    }
    return true;
}

namespace {

std::vector<int> List(int port, unsigned (*count)(int), int (*get)(int, int)) {
    std::vector<int> values;
    const unsigned n = count(port);
    for (unsigned i = 0; i < n; ++i) values.push_back(get(port, static_cast<int>(i)));
    return values;
}

void SetList(int port, const std::vector<int>& values, int (*delete_all)(int),
             int (*add)(int, int)) {
    delete_all(port);
    for (int v : values) add(port, v);
}

}  // namespace

std::vector<std::string> QvLibLink::ModelNames() {
    std::vector<std::string> names;
    char name[256];
    for (int i = 0; ::GetModelName(i, name, sizeof name) >= 0; ++i) names.emplace_back(name);
    return names;
}

int QvLibLink::OpenDevice(const std::string& model, int port) {
    return ::OpenDevice(model.c_str(), port);
}
int QvLibLink::CloseDevice(int port) { return ::CloseDevice(port); }
int QvLibLink::GetQueryState(int port) { return ::GetQueryState(port); }
int QvLibLink::GetQueryResult(int port) { return ::GetQueryResult(port); }
int QvLibLink::GetQueryProgressMin(int port) { return ::GetQueryProgressMin(port); }
int QvLibLink::GetQueryProgressMax(int port) { return ::GetQueryProgressMax(port); }
int QvLibLink::GetQueryProgressPos(int port) { return ::GetQueryProgressPos(port); }
int QvLibLink::ReqGetDeviceMode(int port) { return ::ReqGetDeviceMode(port); }
int QvLibLink::GetDeviceModeResult(int port) { return ::GetDeviceModeResult(port); }
int QvLibLink::ReqSetDeviceDNMode(int port) { return ::ReqSetDeviceDNMode(port); }
int QvLibLink::ReqEraseDB(int port) { return ::ReqEraseDB(port); }
int QvLibLink::ReqWriteDB(int port, const std::string& path) {
    return ::ReqWriteDB(port, path.c_str());
}
int QvLibLink::ReqGetFWVersion(int port) { return ::ReqGetFWVersion(port); }
int QvLibLink::ReqGetDBVersion(int port) { return ::ReqGetDBVersion(port); }
int QvLibLink::ReqGetSerialNumber(int port) { return ::ReqGetSerialNumber(port); }
std::string QvLibLink::GetVersionResult(int port) {
    const char* text = ::GetVersionResult(port);
    return text != nullptr ? text : "";
}
int QvLibLink::ReqGetUserSetting(int port) { return ::ReqGetUserSetting(port); }
int QvLibLink::ReqSetUserSetting(int port) { return ::ReqSetUserSetting(port); }
int QvLibLink::ReqGetUserDB(int port) { return ::ReqGetUserDB(port); }
int QvLibLink::ReqSetUserDB(int port) { return ::ReqSetUserDB(port); }

SerialSettings QvLibLink::GetSettings(int port) {
    return {List(port, ::GetUserSpeedCount, ::GetUserSpeed),
            List(port, ::GetWarningBySecondCount, ::GetWarningBySecond),
            List(port, ::GetSpeedUnitCount, ::GetSpeedUnit),
            List(port, ::GetGMTCount, ::GetGMT),
            List(port, ::GetSummerTimeCount, ::GetSummerTime),
            List(port, ::GetTimeSetCount, ::GetTimeSet)};
}

void QvLibLink::SetSettings(int port, const SerialSettings& s) {
    SetList(port, s.speeds, ::DeleteAllUserSpeeds, ::AddUserSpeed);
    SetList(port, s.warning, ::DeleteAllWarningBySeconds, ::AddWarningBySecond);
    SetList(port, s.unit, ::DeleteAllSpeedUnit, ::AddSpeedUnit);
    SetList(port, s.gmt, ::DeleteAllGMT, ::AddGMT);
    SetList(port, s.summer, ::DeleteAllSummerTime, ::AddSummerTime);
    SetList(port, s.clock, ::DeleteAllTimeSet, ::AddTimeSet);
}

std::vector<UserPointEntry> QvLibLink::GetUserPoints(int port) {
    std::vector<UserPointEntry> points(::GetUserDBCount(port));
    for (size_t i = 0; i < points.size(); ++i) ::GetUserDB(port, static_cast<int>(i), &points[i]);
    return points;
}

void QvLibLink::SetUserPoints(int port, const std::vector<UserPointEntry>& points) {
    ::DeleteAllUserDBs(port);
    for (const UserPointEntry& p : points) ::AddUserDB(port, &p);
}

int QvLibLink::ReqFindDevice(const std::string& model) { return ::ReqFindDevice(model.c_str()); }
int QvLibLink::FindDeviceState() { return ::FindDeviceState(); }
int QvLibLink::GetFoundDeviceCount() { return ::GetFoundDeviceCount(); }
int QvLibLink::GetFoundDevicePort(int index) { return ::GetFoundDevicePort(index); }

}  // namespace devod

// The settings list and user point exports, and the four transfers.
#include "qvlib/session/device_table.h"
#include "qvlib/session/qvlib.h"
#include "qvlib/settings/records.h"
#include "qvlib/settings/user_db.h"
#include "qvlib/settings/user_setting.h"

namespace {

using Member = qv::SettingsList qv::SettingsLists::*;

// What a settings Get returns for an index at or beyond the count.
constexpr int kNoSettingsValue = -1;

// Runs `use` on the session's lists under their lock; `failed` when the port has no session.
template <typename Result, typename Use>
Result WithLists(int port, Result failed, Use use) {
    qv::CQv* session = qv::Devices().Find(port);
    if (session == nullptr) return failed;
    qv::SessionLists& lists = session->Lists();
    std::lock_guard lock(lists.mutex);
    return use(lists);
}

// Indexes are compared unsigned, so that a negative one counts as too large.
template <typename List>
bool InRange(const List& list, int index) {
    return static_cast<uint32_t>(index) < list.size();
}

int Add(int port, Member member, int value, bool empty_first) {
    return WithLists(port, 0, [&](qv::SessionLists& lists) {
        qv::SettingsList& list = lists.settings.*member;
        if (empty_first) list.clear();
        list.push_back(value);
        return 1;
    });
}

int Get(int port, Member member, int index) {
    return WithLists(port, 0, [&](qv::SessionLists& lists) {
        const qv::SettingsList& list = lists.settings.*member;
        return InRange(list, index) ? list[static_cast<uint32_t>(index)] : kNoSettingsValue;
    });
}

unsigned int Count(int port, Member member) {
    return WithLists(port, 0u, [&](qv::SessionLists& lists) {
        return static_cast<unsigned int>((lists.settings.*member).size());
    });
}

template <typename List>
int EraseAt(List& list, int index) {
    if (!InRange(list, index)) return 0;
    list.erase(list.begin() + static_cast<uint32_t>(index));
    return 1;
}

int Delete(int port, Member member, int index) {
    return WithLists(
        port, 0, [&](qv::SessionLists& lists) { return EraseAt(lists.settings.*member, index); });
}

int DeleteAll(int port, Member member) {
    return WithLists(port, 0, [&](qv::SessionLists& lists) {
        (lists.settings.*member).clear();
        return 1;
    });
}

}  // namespace

// The five members of one settings list's family.
#define QV_SETTINGS_LIST(Stem, member, empty_first, DeleteAllName)        \
    QV_API int Add##Stem(int port, int value) {                           \
        return Add(port, &qv::SettingsLists::member, value, empty_first); \
    }                                                                     \
    QV_API int Get##Stem(int port, int index) {                           \
        return Get(port, &qv::SettingsLists::member, index);              \
    }                                                                     \
    QV_API unsigned int Get##Stem##Count(int port) {                      \
        return Count(port, &qv::SettingsLists::member);                   \
    }                                                                     \
    QV_API int Delete##Stem(int port, int index) {                        \
        return Delete(port, &qv::SettingsLists::member, index);           \
    }                                                                     \
    QV_API int DeleteAllName(int port) { return DeleteAll(port, &qv::SettingsLists::member); }

extern "C" {

QV_SETTINGS_LIST(UserSpeed, user_speed, false, DeleteAllUserSpeeds)
QV_SETTINGS_LIST(WarningBySecond, warning_by_second, false, DeleteAllWarningBySeconds)
QV_SETTINGS_LIST(SpeedUnit, speed_unit, false, DeleteAllSpeedUnit)
QV_SETTINGS_LIST(GMT, gmt, true, DeleteAllGMT)
QV_SETTINGS_LIST(SummerTime, summer_time, true, DeleteAllSummerTime)
QV_SETTINGS_LIST(TimeSet, time_set, true, DeleteAllTimeSet)

QV_API int AddUserDB(int port, const UserPointEntry* entry) {
    if (entry == nullptr) return 0;
    return WithLists(port, 0, [&](qv::SessionLists& lists) {
        lists.user_points.push_back(qv::PackUserPoint(*entry));
        return 1;
    });
}

QV_API int GetUserDB(int port, int index, UserPointEntry* entry) {
    if (entry == nullptr) return 0;
    return WithLists(port, 0, [&](qv::SessionLists& lists) {
        if (!InRange(lists.user_points, index)) return 0;
        *entry = qv::UnpackUserPoint(lists.user_points[static_cast<uint32_t>(index)]);
        return 1;
    });
}

QV_API unsigned int GetUserDBCount(int port) {
    return WithLists(port, 0u, [&](qv::SessionLists& lists) {
        return static_cast<unsigned int>(lists.user_points.size());
    });
}

QV_API int DeleteUserDB(int port, int index) {
    return WithLists(port, 0,
                     [&](qv::SessionLists& lists) { return EraseAt(lists.user_points, index); });
}

QV_API int DeleteAllUserDBs(int port) {
    return WithLists(port, 0, [&](qv::SessionLists& lists) {
        lists.user_points.clear();
        return 1;
    });
}

QV_API int ReqGetUserSetting(int port) {
    qv::CQv* session = qv::Devices().Find(port);
    if (session == nullptr) return 0;
    return session->PostCommand(session->MakeCommand<qv::CGetUserSetting>(&session->Lists())) ? 1
                                                                                              : 0;
}

QV_API int ReqSetUserSetting(int port) {
    qv::CQv* session = qv::Devices().Find(port);
    if (session == nullptr) return 0;
    qv::SettingsLists copies;
    {
        std::lock_guard lock(session->Lists().mutex);
        copies = session->Lists().settings;
    }
    return session->PostCommand(session->MakeCommand<qv::CSetUserSetting>(std::move(copies))) ? 1
                                                                                              : 0;
}

QV_API int ReqGetUserDB(int port) {
    qv::CQv* session = qv::Devices().Find(port);
    // The list is emptied only when the request can be handed over: a running command may be a
    // read filling it, and a refused request must not lose it.
    if (session == nullptr || session->GetQueryState() == qv::kStateRunning) return 0;
    {
        std::lock_guard lock(session->Lists().mutex);
        session->Lists().user_points.clear();
    }
    return session->PostCommand(session->MakeCommand<qv::CGetUserDB>(&session->Lists())) ? 1 : 0;
}

QV_API int ReqSetUserDB(int port) {
    qv::CQv* session = qv::Devices().Find(port);
    if (session == nullptr) return 0;
    std::vector<qv::UserPointRecord> copy;
    {
        std::lock_guard lock(session->Lists().mutex);
        copy = session->Lists().user_points;
    }
    return session->PostCommand(session->MakeCommand<qv::CSetUserDB>(std::move(copy))) ? 1 : 0;
}

}  // extern "C"

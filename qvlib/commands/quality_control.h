// The quality-control reports of a device in download mode.
//
// qv::CReqViewQC: "$viewqc\r"; the GPS test report from "$GPSRESULT" through "END\r\n" (at most
// 1023 characters of it) lands in the session's QC view text.
//
// qv::CReqQCTestResult: "$qcresult\r\n"; the verdict "$PASS", "$FAIL" or "$NOTDONE" (searched in
// that order) lands in the session's QC test result as 0, 1 or 2, or 3 when the reply holds none
// (also when the command could not be sent).
// The reply is collected by 1000 ms reads until 512 bytes have arrived, or until the device has
// fallen silent: one silent read before any byte, or two silent reads in a row after the first
// byte, end the collection. A device that never answers thus costs 1 s, one that stops early 2 s
// after its last byte; one that trickles bytes slower than that is still ended by the 512 bytes.
#pragma once

#include <atomic>

#include "qvlib/session/command.h"

namespace qv {

enum QcTestResult : int { kQcPass = 0, kQcFail = 1, kQcNotDone = 2, kQcUnknown = 3 };

class CReqViewQC : public CCommand {
public:
    // `view_text` holds kViewSize bytes.
    CReqViewQC(CSerialPort* port, CProgressInfo* progress, const ModelInfo* model, char* view_text)
        : CCommand(port, progress, model), view_text_(view_text) {}

    int Execute() override;

    static constexpr uint32_t kViewSize = 1024;
    // Copies the report from "$GPSRESULT" through "END\r\n" into `view_text` (at most
    // kViewSize - 1 characters, terminated); false, leaving `view_text` alone, when either marker
    // is missing.
    static bool ExtractReport(const char* reply, char* view_text);

private:
    char* view_text_;
};

class CReqQCTestResult : public CCommand {
public:
    CReqQCTestResult(CSerialPort* port, CProgressInfo* progress, const ModelInfo* model,
                     std::atomic<int>* test_result)
        : CCommand(port, progress, model), test_result_(test_result) {}

    int Execute() override;

    static constexpr uint32_t kEnoughBytes = 512;
    static constexpr uint32_t kReadTimeoutMs = 1000;
    static constexpr int kSilentReadsAfterFirstByte = 2;

    // The verdict in a reply: kQcPass, kQcFail, kQcNotDone, or kQcUnknown.
    static QcTestResult Verdict(const char* reply);

private:
    std::atomic<int>* test_result_;
};

}  // namespace qv

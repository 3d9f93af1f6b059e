/*
 * QVLib: drives Z31-family devices on serial (COM) ports.
 *
 * Every per-device function is keyed by a COM port number from 1 to 256. A port is opened with
 * OpenDevice, which starts a session with a thread of its own. A function whose name begins with
 * Req hands one command to the port's session and returns at once: 1 when the command was handed
 * over, 0 when it was not (invalid port, no session, or a command still running on the port; a
 * running command is never replaced). The caller then polls GetQueryState until it reports 2 and
 * reads the outcome with GetQueryResult (1 success, 2 failure) and the Get function of the command.
 *
 * Text results point into the session and stay valid until the port is closed; the next command
 * that fills the same buffer overwrites them. Nothing is allocated here for the caller to free.
 * The functions are meant to be called from one thread of the caller.
 *
 * Port N is the device "$QVLIB_PORT_DIR/comN" when QVLIB_PORT_DIR is set, otherwise COM1-32 are
 * /dev/ttyS0-31, COM33-64 /dev/ttyUSB0-31 and COM65-96 /dev/ttyACM0-31.
 *
 * Models are read from "model.txt" in the current directory at every OpenDevice (one model per
 * line: name,ID code,NMEA baud rate,command baud rate[,x,y]); without that file the built-in
 * models apply.
 */
#ifndef QVLIB_H
#define QVLIB_H

#include <stdint.h>

#define QV_API __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Ports and sessions ---- */

/* 1 when 1 <= port <= 256, else 0. */
QV_API int IsPortValid(int port);
/* 1 when the port has an open session, else 0 (also for an invalid port). */
QV_API int IsDeviceOpened(int port);
/* Opens the port at the NMEA baud rate of the named model (exact, case-sensitive name) and starts
 * its session. 1 on success; 0 for an invalid port, a port already open (left untouched), an
 * unknown model, a port that cannot be opened or a thread that cannot start. */
QV_API int OpenDevice(const char* model_name, int port);
/* Stops the session (a running command fails at its next read or write and ends), closes the port
 * and discards the session's results. 1 when a session was closed, 0 when there was none. */
QV_API int CloseDevice(int port);

/* The models a port can be opened as, by index from 0: copies the name of the model at the index,
 * zero-terminated and cut to size - 1 characters, into buffer and returns the name's full length;
 * -1 for an index beyond the table, a null buffer or a size below 1. Index 0 reads "model.txt"
 * of the current directory again (the built-in models without it), as OpenDevice does. */
QV_API int GetModelName(int index, char* buffer, int size);

/* ---- Command state, result and progress ---- */

/* 0 no command since the port was opened (also: no session), 1 running, 2 finished. */
QV_API int GetQueryState(int port);
/* 0 until a command has finished, then 1 success or 2 failure; 0 without a session. */
QV_API int GetQueryResult(int port);
/* Progress of the last command that reports progress (file writes); 0 without a session. */
QV_API int GetQueryProgressMin(int port);
QV_API int GetQueryProgressMax(int port);
QV_API int GetQueryProgressPos(int port);

/* ---- Version and identity queries (device in download mode) ----
 * Each reads one value into the port's version text; 1 when handed over, 0 otherwise. */
QV_API int ReqGetFWVersion(int port);
QV_API int ReqGetDBVersion(int port);
QV_API int ReqGetVOCVersion(int port);
QV_API int ReqGetDeviceID(int port);
QV_API int ReqGetSerialNumber(int port);
/* The version text (at most 1023 characters), meaningful once the query ended with result 1; it
 * keeps the last successful value when a query fails. Null without a session. */
QV_API const char* GetVersionResult(int port);

/* ---- Device mode and reset ----
 * Mode 0: neither NMEA sentences nor the prompt seen; 1: normal operation (NMEA sentences; the port
 * is left at the model's NMEA rate); 2: download mode (prompt "QV>>"; the port is left at the
 * command rate). Each request returns 1 when handed over, 0 otherwise. */
/* Checks the mode: result 1 when it is 1 or 2, 2 when nothing was recognised. */
QV_API int ReqGetDeviceMode(int port);
/* The mode found by the last check (of any of the three requests); 0 without a session. */
QV_API int GetDeviceModeResult(int port);
/* Switches the device into download mode; result 1 when it then shows the prompt (also when it
 * was there already). */
QV_API int ReqSetDeviceDNMode(int port);
/* Sends the device back to normal operation; result 1 when it then streams NMEA sentences. Checks
 * up to three times, a second apart. */
QV_API int ReqResetDevice(int port);

/* ---- Erasing (device in download mode) ----
 * Each erases one area; result 1 when the device reports "Completed!", else 2 (the reply is
 * printed to standard output). 1 when handed over, 0 otherwise. */
QV_API int ReqEraseFW(int port);
QV_API int ReqEraseDB(int port);
QV_API int ReqEraseVOC(int port);
QV_API int ReqEraseBootloader(int port);
QV_API int ReqEraseAll(int port);

/* ---- Serial number and quality control (device in download mode) ----
 * Each request returns 1 when handed over, 0 otherwise. */
/* Writes the serial number (NUL-terminated text; null is refused with 0). Result 1 when the device
 * reports "Completed!"; 2 when it answers "EraseFirst!" (a number is stored: erase it first) or
 * does not report completion. */
QV_API int ReqSetSerialNumber(int port, const char* serial_number);
/* Erases the stored serial number; result 1 when the device reports "Completed!". */
QV_API int ReqEraseSerialNumber(int port);
/* Reads the GPS test report; empties the QC view text at the request and fills it only with a
 * complete report. Result 1 when one was received. */
QV_API int ReqViewQC(int port);
/* The QC view text: the report from "$GPSRESULT" through "END\r\n", at most 1023 characters.
 * Null without a session. */
QV_API const char* GetViewQC(int port);
/* Reads the verdict of the quality-control test; result 1 when the reply held one. The reply is
 * collected until 512 bytes have arrived or the device falls silent: one silent read of 1000 ms
 * before any byte, or two in a row after the first byte, end the collection. */
QV_API int ReqQCTestResult(int port);
/* 0 pass, 1 fail, 2 not done, 3 no verdict known (before any query, after a reply without a
 * verdict, and without a session). */
QV_API int GetQCTestResult(int port);

/* ---- Image writes (device in download mode, port at the command rate) ----
 * Each sends the file at `path` byte for byte: the path is copied at the request and the file
 * opened when the command runs. Progress: range 0 to the file's size, position the bytes sent.
 * Result 1 when the device answers "WriteSucceed!"; 2 for any other verdict, none, or a file
 * that cannot be opened (then nothing is sent and the progress is left as it was). 1 when handed
 * over, 0 otherwise. */
QV_API int ReqWriteFW(int port, const char* path);
QV_API int ReqWriteDB(int port, const char* path);
QV_API int ReqWriteVOC(int port, const char* path);
/* Writes a bootloader image: a start command at 9600 baud, the file at 115200 baud (whatever the
 * model's rates; the port stays at 115200), then result 1 when the prompt "QV>>" shows. A file
 * that cannot be opened gives 2 and leaves the port as it was. */
QV_API int ReqWriteBootloader(int port, const char* path);

/* ---- User settings and user points ----
 * Each session holds seven lists, empty when the port is opened: six settings lists (UserSpeed,
 * WarningBySecond, SpeedUnit, GMT, SummerTime, TimeSet) and the user point database. Every
 * function below returns 0 for an invalid port or a port without a session, touching nothing.
 * Indexes are compared unsigned against the count, so a negative index is out of range.
 *
 * A settings list holds signed values. On the device a value travels as its low 16 bits and comes
 * back sign-extended; FFFF (-1) means "no value". Of the UserSpeed list the first five entries
 * travel, of every other list the first entry; an empty list travels as "no value".
 *   Add<List>(port, value): 1. AddGMT, AddSummerTime and AddTimeSet empty their list first, so it
 *     holds just that value; AddUserSpeed, AddWarningBySecond and AddSpeedUnit append. To set one
 *     of the appending lists, empty it with its DeleteAll function first.
 *   Get<List>(port, index): the value at the index; -1 (the device's "no value", which a read
 *     never puts in a list) for an index at or beyond the count.
 *   Get<List>Count(port): the number of values.
 *   Delete<List>(port, index): 1 after removing that entry (later ones move down), 0 when the
 *     index is out of range.
 *   DeleteAll...(port): 1 after emptying the list, also when it was empty.
 * The transfers: ReqGetUserSetting reads the settings from the device; only a well-formed answer
 * replaces the six lists, and a failed read leaves them as they were. ReqSetUserSetting writes
 * copies of the six lists taken at the call; later changes do not reach it. Result 1 when the
 * device confirms. While a read runs (query state 1) the lists of that port are being filled:
 * read them once the state is 2. */
QV_API int AddUserSpeed(int port, int value);
QV_API int GetUserSpeed(int port, int index);
QV_API unsigned int GetUserSpeedCount(int port);
QV_API int DeleteUserSpeed(int port, int index);
QV_API int DeleteAllUserSpeeds(int port);
QV_API int AddWarningBySecond(int port, int value);
QV_API int GetWarningBySecond(int port, int index);
QV_API unsigned int GetWarningBySecondCount(int port);
QV_API int DeleteWarningBySecond(int port, int index);
QV_API int DeleteAllWarningBySeconds(int port);
QV_API int AddSpeedUnit(int port, int value);
QV_API int GetSpeedUnit(int port, int index);
QV_API unsigned int GetSpeedUnitCount(int port);
QV_API int DeleteSpeedUnit(int port, int index);
QV_API int DeleteAllSpeedUnit(int port);
QV_API int AddGMT(int port, int value);
QV_API int GetGMT(int port, int index);
QV_API unsigned int GetGMTCount(int port);
QV_API int DeleteGMT(int port, int index);
QV_API int DeleteAllGMT(int port);
QV_API int AddSummerTime(int port, int value);
QV_API int GetSummerTime(int port, int index);
QV_API unsigned int GetSummerTimeCount(int port);
QV_API int DeleteSummerTime(int port, int index);
QV_API int DeleteAllSummerTime(int port);
QV_API int AddTimeSet(int port, int value);
QV_API int GetTimeSet(int port, int index);
QV_API unsigned int GetTimeSetCount(int port);
QV_API int DeleteTimeSet(int port, int index);
QV_API int DeleteAllTimeSet(int port);
QV_API int ReqGetUserSetting(int port);
QV_API int ReqSetUserSetting(int port);

/* One user point, unpacked. The seven bit-fields are stored packed in two 16-bit words: bits
 * beyond a field's width are dropped when a point is added. Latitude and longitude are in units of
 * 1/100000 degree. */
typedef struct UserPointEntry {
    uint16_t w0Bits0to3;   /* 0-15 */
    uint16_t w0Bits4to9;   /* 0-63 */
    uint16_t w0Bits10to15; /* 0-63 */
    uint16_t w1Bits0to1;   /* 0-3 */
    uint16_t w1Bits2to5;   /* 0-15 */
    uint16_t w1Bits6to10;  /* 0-31 */
    uint16_t w1Bits11to15; /* 0-31 */
    uint16_t word2;
    int32_t latitude;
    uint16_t word5;
    int32_t longitude;
    int16_t direction;
    int16_t word9;
    uint16_t word10;
} UserPointEntry;

/* 1 after appending the packed point; 0 also for a null entry. */
QV_API int AddUserDB(int port, const UserPointEntry* entry);
/* 1 after filling *entry from the point at the index; 0, with *entry untouched, when the index is
 * out of range or entry is null. */
QV_API int GetUserDB(int port, int index, UserPointEntry* entry);
QV_API unsigned int GetUserDBCount(int port);
QV_API int DeleteUserDB(int port, int index);
QV_API int DeleteAllUserDBs(int port);
/* Reads the device's user points: empties the list at the call (only when the request is handed
 * over), then appends the points of the reply that pass the device's own validity check (bits
 * 0-3 of word 0 from 1 to 12, bits 11-15 of word 1 at most 24, bits 4-9 of word 0 at most 60), in
 * order. Result 2, with the list empty, when the reply lacks "Completed!" or the end line, or has
 * a first line without the end line after it; the end line alone is an empty database (result 1).
 * Lines too short to hold their 11 words are dropped like invalid points. The whole reply must
 * fit in 20480 bytes (a little over 300 points). */
QV_API int ReqGetUserDB(int port);
/* Writes a copy of the list taken at the call, one line a point, numbered from 0000. A list of
 * more than 9999 points cannot be written (line 9999 ends the database): result 2, and nothing is
 * sent. */
QV_API int ReqSetUserDB(int port);

/* ---- Device finder ----
 * Searches every COM port for devices of one model: each port is opened, its device put into
 * download mode and asked for its device ID; the ports whose ID equals the model's ID code exactly
 * are found. Ports already open (also by this host) are left out. The search runs on a thread of
 * its own; the probed ports are closed again when it ends. */
/* 1 when a search was started; 0 while one runs, for an unknown model, when no port is listed or
 * none could be opened. */
QV_API int ReqFindDevice(const char* model_name);
/* 0 never searched, 1 searching, 2 the last search finished. */
QV_API int FindDeviceState(void);
/* The number of ports found by the last search; 0 while searching. */
QV_API int GetFoundDeviceCount(void);
/* The port number at `index` (from 0, in probe order) of the ports found; 0 when out of range. */
QV_API int GetFoundDevicePort(int index);

#ifdef __cplusplus
}
#endif

#endif /* QVLIB_H */

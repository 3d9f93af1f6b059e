/* qvhost: a small host of the installed QVLib.
 *
 *   qvhost PORT          opens COM port PORT for the model Z40PRO, reads the device's firmware
 *                        version and prints it
 *   qvhost --find MODEL  lists the ports of the devices of MODEL, then reads the firmware
 *                        version of the first one found and prints it
 *
 * Exit status: 0 done, 1 the device reported a failure or nothing was found, 2 usage error,
 * 3 the port cannot be opened, 4 time-out. */
#define _POSIX_C_SOURCE 200809L
#include <qvlib.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

static void SleepMs(long ms) {
    struct timespec t = {ms / 1000, (ms % 1000) * 1000000L};
    nanosleep(&t, NULL);
}

/* Waits at most timeout_ms for the running command of the port to finish: 1 when it did. */
static int WaitForCommand(int port, long timeout_ms) {
    for (long waited = 0; waited < timeout_ms; waited += 10) {
        if (GetQueryState(port) == 2) return 1;
        SleepMs(10);
    }
    return GetQueryState(port) == 2;
}

/* Searches for devices of the model and prints the ports found; the first port, or 0. */
static int Find(const char* model) {
    if (ReqFindDevice(model) != 1) return 0;
    for (long waited = 0; FindDeviceState() != 2 && waited < 60000; waited += 10) SleepMs(10);
    if (FindDeviceState() != 2) return 0;
    int count = GetFoundDeviceCount();
    for (int i = 0; i < count; ++i) printf("found: COM%d\n", GetFoundDevicePort(i));
    return count > 0 ? GetFoundDevicePort(0) : 0;
}

int main(int argc, char** argv) {
    const char* model = "Z40PRO";
    int port = 0;
    if (argc == 3 && strcmp(argv[1], "--find") == 0) {
        model = argv[2];
        port = Find(model);
        if (port == 0) {
            fprintf(stderr, "no device of %s found\n", model);
            return 1;
        }
    } else if (argc == 2) {
        port = atoi(argv[1]);
    } else {
        fprintf(stderr, "usage: qvhost PORT | qvhost --find MODEL\n");
        return 2;
    }
    if (!IsPortValid(port)) {
        fprintf(stderr, "invalid port %d\n", port);
        return 2;
    }

    if (OpenDevice(model, port) != 1) {
        fprintf(stderr, "cannot open COM%d\n", port);
        return 3;
    }
    int status = 0;
    if (ReqGetFWVersion(port) != 1) {
        fprintf(stderr, "the request was not handed over\n");
        status = 1;
    } else if (!WaitForCommand(port, 10000)) {
        fprintf(stderr, "time-out\n");
        status = 4;
    } else if (GetQueryResult(port) != 1) {
        fprintf(stderr, "the device reported a failure\n");
        status = 1;
    } else {
        printf("firmware: %s\n", GetVersionResult(port));
    }
    CloseDevice(port);
    return status;
}

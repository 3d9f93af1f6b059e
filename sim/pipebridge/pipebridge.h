/* libPipeBridge: the USB access library the desktop program loads with dlopen("libPipeBridge.so").
 *
 * open_dev() returns a descriptor when a device is attached (the caller only closes it), else -1.
 * open_file(name) opens a pipe by the name held in a 32-byte zero-filled buffer: "PIPE00" carries
 * transfers to the device (write/send only), "PIPE01" transfers from it (read only). One write is
 * one transfer and one read returns one transfer. Returns a descriptor or -1 with errno set.
 *
 * Time bounds: opening waits at most Z31_USB_OPEN_TIMEOUT_MS (2000 ms), a read on PIPE01 at most
 * Z31_USB_READ_TIMEOUT_MS (3000 ms) and a write on PIPE00 at most Z31_USB_WRITE_TIMEOUT_MS
 * (1000 ms); a call that runs out fails with EAGAIN. The device socket is Z31_USB_SOCKET, else
 * $XDG_RUNTIME_DIR/z31sim-usb.sock, else /tmp/z31sim-usb-<uid>.sock.
 *
 * A write on a PIPE00 whose device end has gone fails with EPIPE or ECONNRESET; through write(2)
 * that raises SIGPIPE, so callers ignore SIGPIPE or use send(..., MSG_NOSIGNAL). */
#ifndef Z31_PIPEBRIDGE_H
#define Z31_PIPEBRIDGE_H

#ifdef __cplusplus
extern "C" {
#endif

int open_dev(void);
int open_file(char* name);

typedef int (*PipeBridgeOpenDevFn)(void);
typedef int (*PipeBridgeOpenFileFn)(char* name);

#ifdef __cplusplus
}
#endif

#endif /* Z31_PIPEBRIDGE_H */

// A libPipeBridge for the fuzz target of the UserSetting page: open_dev and open_file hand the
// call to functions the fuzz target registers (fuzz_pipe_set_hooks), so that the device the page
// talks to is the target's own buffer of replies, with no socket path and no simulator. The
// target keeps the library loaded, so the page's own dlopen of it finds the same hooks.
#include <cerrno>

namespace {

using OpenDevFn = int (*)();
using OpenFileFn = int (*)(char*);

OpenDevFn g_open_dev = nullptr;
OpenFileFn g_open_file = nullptr;

}  // namespace

#define FUZZ_BRIDGE_EXPORT extern "C" __attribute__((visibility("default")))

FUZZ_BRIDGE_EXPORT void fuzz_pipe_set_hooks(OpenDevFn open_dev, OpenFileFn open_file) {
    g_open_dev = open_dev;
    g_open_file = open_file;
}

FUZZ_BRIDGE_EXPORT int open_dev(void) {
    if (g_open_dev == nullptr) {
        errno = ENODEV;
        return -1;
    }
    return g_open_dev();
}

FUZZ_BRIDGE_EXPORT int open_file(char* name) {
    if (g_open_file == nullptr || name == nullptr) {
        errno = name == nullptr ? EINVAL : ENODEV;
        return -1;
    }
    return g_open_file(name);
}

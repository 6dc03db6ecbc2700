// The table of platform objects behind PlatHandle values.
#include <cerrno>
#include <mutex>
#include <new>

#include "platform/handle.h"
#include "platform/posix/internal.h"

// The service holds one pipe per worker and a few short-lived handles.
const int HANDLE_SLOTS = 4096;

static PosixObject *slots[HANDLE_SLOTS];
static std::mutex slotsLock;

static PosixObject *newObject(int kind) {
    PosixObject *object = new (std::nothrow) PosixObject();
    if (object == nullptr) return nullptr;
    object->kind = kind;
    object->fd = object->listenFd = object->lockFd = -1;
    return object;
}

PlatHandle posixHandleNew(int kind, PosixObject **object) {
    *object = newObject(kind);
    if (*object == nullptr) {
        posixSetError(ENOMEM);
        return PLAT_INVALID_HANDLE;
    }
    std::lock_guard<std::mutex> guard(slotsLock);
    for (int i = 0; i < HANDLE_SLOTS; i++) {
        if (slots[i] == nullptr) {
            slots[i] = *object;
            return static_cast<PlatHandle>(i + 1);
        }
    }
    delete *object;
    *object = nullptr;
    posixSetError(EMFILE);
    return PLAT_INVALID_HANDLE;
}

PosixObject *posixHandleGet(PlatHandle h, int kind) {
    std::lock_guard<std::mutex> guard(slotsLock);
    PosixObject *object = h >= 1 && h <= HANDLE_SLOTS ? slots[h - 1] : nullptr;
    if (object == nullptr || (kind != POSIX_FREE && object->kind != kind)) {
        posixSetError(EBADF);
        return nullptr;
    }
    return object;
}

void posixHandleRelease(PlatHandle h) {
    std::lock_guard<std::mutex> guard(slotsLock);
    if (h < 1 || h > HANDLE_SLOTS) return;
    delete slots[h - 1];
    slots[h - 1] = nullptr;
}

int platCloseHandle(PlatHandle h) {
    PosixObject *object = posixHandleGet(h, POSIX_FREE);
    if (object == nullptr) return EBADF;
    if (object->kind == POSIX_PIPE_SERVER || object->kind == POSIX_PIPE_CLIENT) {
        posixPipeClose(object);
    } else if (object->kind == POSIX_EVENT) {
        posixEventClose(object);
    }
    posixHandleRelease(h);
    return 0;
}

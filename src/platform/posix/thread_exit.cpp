// Thread-end clean-ups as thread-specific keys: the system calls a key's destructor on the
// ending thread, after the language's thread-local destructors, with the non-null value set.
#include "platform/thread_exit.h"
#include "platform/posix/posix_support.h"

namespace platform {

int threadExitRegister(ThreadExitFn fn) {
    pthread_key_t key;
    if (pthread_key_create(&key, fn) != 0)
        return -1;
    return static_cast<int>(key);
}

bool threadExitSet(int id, void* value) {
    return id >= 0 && pthread_setspecific(static_cast<pthread_key_t>(id), value) == 0;
}

void threadExitUnregister(int id) {
    if (id >= 0)
        pthread_key_delete(static_cast<pthread_key_t>(id));
}

}  // namespace platform

// The umbrella header twice in one translation unit; the generated alone_*.cpp files include
// each public header with nothing before it.
#include "nxutil.h"
#include "nxutil.h"

#include <gtest/gtest.h>

#include <type_traits>

TEST(PublicHeaders, DeclareTheMemoryInterfaceWithItsFixedLayout) {
    static_assert(sizeof(NxAtomicInt) == 4, "one 32-bit integer");
    static_assert(sizeof(NxCSLocker) == sizeof(void*), "one pointer");
    static_assert(!std::is_polymorphic<NxCriticalSection>::value, "no virtual operations");
    static_assert(!std::is_polymorphic<NxAtomicInt>::value, "no virtual operations");
    SUCCEED();
}

// The owners of what the Win32 API hands out.
#include "base/unique_handle_win.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Values 1, 2, ... stand for handles; 0 owns nothing; closing is recorded.
std::vector<int> g_closed;

struct CountedTraits {
    using Value = int;
    static Value Empty() { return 0; }
    static void Close(Value value) { g_closed.push_back(value); }
};
using Counted = UniqueResource<CountedTraits>;

}  // namespace

TEST(UniqueResource, EveryOwnedValueIsClosedExactlyOnce) {
    g_closed.clear();
    {
        Counted first(1);
        Counted moved(std::move(first));  // ownership moves, nothing closes
        EXPECT_FALSE(first);
        Counted other(2);
        other = std::move(moved);  // 2 closes, 1 is now owned by `other`
        *other.Put() = 3;          // 1 closes before the API stores 3
        Counted kept(4);
        EXPECT_EQ(kept.Release(), 4);  // given up: never closed here
        kept.Reset(5);
        kept.Reset();  // 5 closes
        // 3 closes at the end of the scope
    }
    EXPECT_EQ(g_closed, (std::vector<int>{2, 1, 5, 3}));
}

TEST(UniqueResource, KernelHandlesAndFileHandlesHaveTheirOwnEmptyValue) {
    EXPECT_EQ(UniqueHandle().Get(), nullptr);
    EXPECT_EQ(UniqueFileHandle().Get(), INVALID_HANDLE_VALUE);
    EXPECT_FALSE(UniqueFileHandle(INVALID_HANDLE_VALUE));

    UniqueHandle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(event);
    const HANDLE raw = event.Get();
    DWORD flags = 0;
    EXPECT_TRUE(::GetHandleInformation(raw, &flags));
    event.Reset();
    EXPECT_FALSE(::GetHandleInformation(raw, &flags));  // closed
}

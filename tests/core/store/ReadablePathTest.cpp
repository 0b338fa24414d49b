#include "core/store/ReadablePath.h"

#include <gtest/gtest.h>

namespace {

TEST(ReadablePathTest, DecodesWhatReadsAsTextAndKeepsTheRestEscaped) {
    struct Row {
        const char* path;
        const char* shown;
    } rows[] = {
        {"/a/clip.mp4", "/a/clip.mp4"},
        {"/%E6%97%A5%E6%9C%AC%E8%AA%9E.mp4", "/日本語.mp4"},
        {"/%e6%97%a5/a%20b%2Fc%25d", "/日/a b/c%d"},
        // Bytes of no character, or of one cut short, and escapes that are none.
        {"/%FF%C0%AF/%E6%97%A5%E6", "/%FF%C0%AF/日%E6"},
        {"/%zz%4/100%", "/%zz%4/100%"},
        // What would act on the screen stays escaped as captured: controls, a direction
        // override, a zero-width space.
        {"/a%0d%0Ab%00%1B[2J%7F%C2%85", "/a%0d%0Ab%00%1B[2J%7F%C2%85"},
        {"/%E2%80%AEvmw.exe%E2%80%8B", "/%E2%80%AEvmw.exe%E2%80%8B"},
        // Raw bytes that cannot be shown get an escape of their own.
        {"/a\x1b\x7f\xff\xe6\x97\xa5\xe2\x80\xae", "/a%1B%7F%FF日%E2%80%AE"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(ReadablePath::of(row.path), row.shown) << row.path;
    }
}

}  // namespace

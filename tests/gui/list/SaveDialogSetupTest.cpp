#include "gui/list/SaveDialogSetup.h"

#include <gtest/gtest.h>

namespace {
struct NameCase {
    const char* path;
    const char* suffix;
    const char* expected;
};

class ProposedFileName : public testing::TestWithParam<NameCase> {};

TEST_P(ProposedFileName, FromPathAndSuffix) {
    const NameCase& c = GetParam();
    EXPECT_EQ(SaveDialogSetup::proposedFileName(c.path, c.suffix), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProposedFileName,
    testing::Values(NameCase{"/a/b.wmv?x=1", ".wmv", "b.wmv"},
                    NameCase{"/Movies/CLIP.WMV", ".wmv", "clip.wmv"},
                    NameCase{"/x.asf/y.asf", ".asf", "x.asf"},  // cut after the first occurrence
                    NameCase{"b.mp3", ".mp3", "b.mp3"},         // no slash at all
                    NameCase{"/a/b.WMV?x=1", ".WMV", "b.wmv"},  // capital suffix not found
                    NameCase{"/a/b.asx#frag", ".WMV", "b.asx"},
                    NameCase{"/dir/", ".wmv", "download.wmv"},  // nothing to propose
                    NameCase{"/dir/?a=b.wmv", ".wmv", "?a=b.wmv"}));

TEST(SaveDialogSetup, FilterAndDefaultExtension) {
    EXPECT_EQ(SaveDialogSetup::typeFilter("Windows Media", ".asf"), "Windows Media (*.asf)");
    EXPECT_EQ(SaveDialogSetup::defaultExtension(".asf"), "asf");
    EXPECT_EQ(SaveDialogSetup::defaultExtension(""), "");
}
}  // namespace

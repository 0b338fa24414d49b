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
    testing::Values(
        NameCase{"/a/b.wmv?x=1", ".wmv", "b.wmv"}, NameCase{"/Movies/CLIP.WMV", ".wmv", "clip.wmv"},
        NameCase{"/x.asf/y.asf", ".asf", "x.asf"},  // cut after the first occurrence
        NameCase{"b.mp3", ".mp3", "b.mp3"},         // no slash at all
        NameCase{"/a/b.WMV?x=1", ".WMV", "b.wmv"},  // capital suffix not found
        NameCase{"/a/b.asx#frag", ".WMV", "b.asx"},
        NameCase{"/dir/", ".wmv", "download.wmv"},  // nothing to propose
        NameCase{"/dir/?a=b.wmv", ".wmv", "?a=b.wmv"},
        // Percent-decoded, and only ever one file in the chosen folder.
        NameCase{"/a/My%20Clip.wmv", ".wmv", "my clip.wmv"},
        NameCase{"/a/%E3%83%86.mp3", ".mp3", "\xe3\x83\x86.mp3"},
        NameCase{"/a/x%2Fy.wmv", ".wmv", "x_y.wmv"}, NameCase{"/a/%2e%2e", ".wmv", "download.wmv"},
        NameCase{"/a/b%0a%1b%7f.wmv", ".wmv", "b___.wmv"}, NameCase{"/a/%00.wmv", ".wmv", "_.wmv"},
        NameCase{"/a/100%.wmv", ".wmv", "100%.wmv"},
        NameCase{"/a/%zz%4.wmv", ".wmv", "%zz%4.wmv"}));

TEST(SaveDialogSetup, LongNamesKeepTheirExtensionAndWholeCharacters) {
    std::string path = "/";
    for (int i = 0; i < 300; ++i) {
        path += "%e3%83%86";
    }
    const std::string name = SaveDialogSetup::proposedFileName(path + ".wmv", ".wmv");
    EXPECT_LE(name.size(), SaveDialogSetup::kNameMax);
    EXPECT_EQ(name.size(), 83 * 3 + 4u);
    EXPECT_TRUE(name.ends_with("\xe3\x83\x86.wmv"));
    EXPECT_EQ(SaveDialogSetup::safeFileName(std::string(400, 'a')).size(), 255u);
}

TEST(SaveDialogSetup, FilterAndDefaultExtension) {
    EXPECT_EQ(SaveDialogSetup::typeFilter("Windows Media", ".asf"), "Windows Media (*.asf)");
    EXPECT_EQ(SaveDialogSetup::defaultExtension(".asf"), "asf");
    EXPECT_EQ(SaveDialogSetup::defaultExtension(""), "");
}
}  // namespace

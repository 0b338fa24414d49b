#include "core/file/FreeFileName.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

namespace {

// The number goes before the last suffix of the file name, never into a folder's name; a
// name at the longest a file system takes loses the end of its stem, never half a character.
TEST(FreeFileName, PutsTheNumberBeforeTheSuffix) {
    const std::string longStem = std::string(NAME_MAX - 10, 'a') + "\xE6\x98\xA0";  // "映"
    const struct {
        std::string path;
        int number;
        std::string expected;
    } cases[] = {
        {"/d/clip.mp4", 0, "/d/clip.mp4"},
        {"/d/clip.mp4", 12, "/d/clip (12).mp4"},
        {"/d/a.tar.gz", 1, "/d/a.tar (1).gz"},
        {"/d/noext", 2, "/d/noext (2)"},
        {"/d/.hidden", 1, "/d/.hidden (1)"},
        {"/d.x/name", 1, "/d.x/name (1)"},
        {"clip.mp4", 3, "clip (3).mp4"},
        {"/d/n.not-a-type-suffix", 1, "/d/n.not-a-type-suffix (1)"},
        {"/d/" + longStem + ".mp4", 7, "/d/" + std::string(NAME_MAX - 10, 'a') + " (7).mp4"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FreeFileName::Numbered(c.path, c.number), c.expected) << c.path;
    }
}

TEST(FreeFileName, FindsTheFirstNameNothingClaimsAndEveryKindOfEntryClaims) {
    const std::set<std::string> taken{"/d/v.mp4", "/d/v (1).mp4", "/d/v (3).mp4"};
    const auto claims = [&](const std::string& name) { return taken.count(name) > 0; };
    EXPECT_EQ(FreeFileName::Find("/d/v.mp4", claims), "/d/v (2).mp4");
    EXPECT_EQ(FreeFileName::Find("/d/w.mp4", claims), "/d/w.mp4");
    EXPECT_EQ(FreeFileName::Find("/d/v.mp4", [](const std::string&) { return true; }),
              std::nullopt);

    const auto dir =
        std::filesystem::temp_directory_path() / ("qvx-free-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir / "folder");
    std::ofstream(dir / "file") << "x";
    std::filesystem::create_symlink(dir / "nowhere", dir / "dangling");
    for (const char* name : {"file", "folder", "dangling"}) {
        EXPECT_TRUE(FreeFileName::Exists((dir / name).string())) << name;
    }
    EXPECT_FALSE(FreeFileName::Exists((dir / "missing").string()));
    EXPECT_FALSE(FreeFileName::Exists((dir / "file" / "below").string()));
    std::filesystem::remove_all(dir);
}

}  // namespace

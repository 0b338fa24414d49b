#include "core/download/OwnedFile.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

namespace {

// What the download's path names when the file is opened.
enum class Target { kNew, kExistingFile, kLinkToFile, kLinkToDevice, kMissingFolder };
// What happens to the path while the download runs.
enum class Meanwhile { kNothing, kReplacedByAnotherFile, kReplacedByALink, kDeleted };

struct OwnedFileCase {
    const char* name;
    Target target;
    Meanwhile meanwhile;
    int openError;     // what Open returns
    bool removed;      // what Remove returns; then the path names nothing
    const char* left;  // otherwise what the path still reads (through a link), "" when nothing
};

const OwnedFileCase kCases[] = {
    {"NewFile", Target::kNew, Meanwhile::kNothing, 0, true, ""},
    {"TruncatedFile", Target::kExistingFile, Meanwhile::kNothing, 0, true, ""},
    {"LinkIsNeverFollowed", Target::kLinkToFile, Meanwhile::kNothing, 0, false, "written"},
    {"DeviceStays", Target::kLinkToDevice, Meanwhile::kNothing, 0, false, ""},
    {"AnotherFileInItsPlace", Target::kNew, Meanwhile::kReplacedByAnotherFile, 0, false, "other"},
    {"LinkInItsPlace", Target::kNew, Meanwhile::kReplacedByALink, 0, false, "other"},
    {"AlreadyGone", Target::kNew, Meanwhile::kDeleted, 0, false, ""},
    {"NotOpened", Target::kMissingFolder, Meanwhile::kNothing, ENOENT, false, ""},
};

std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void Write(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

TEST(OwnedFile, RemovesOnlyTheRegularFileItOpened) {
    for (const OwnedFileCase& c : kCases) {
        SCOPED_TRACE(c.name);
        std::string pattern = (fs::temp_directory_path() / "quorvex-owned-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        const fs::path dir = pattern;
        const fs::path other = dir / "other";
        Write(other, "other");
        fs::path path = dir / "target";
        switch (c.target) {
            case Target::kNew:
                break;
            case Target::kExistingFile:
                Write(path, "old contents");
                break;
            case Target::kLinkToFile:
                fs::create_symlink(dir / "linked", path);
                break;
            case Target::kLinkToDevice:
                fs::create_symlink("/dev/null", path);
                break;
            case Target::kMissingFolder:
                path = dir / "missing" / "target";
                break;
        }

        OwnedFile file;
        ASSERT_EQ(file.Open(path.string(), 0644), c.openError);
        EXPECT_EQ(file.isOpen(), c.openError == 0);
        if (file.isOpen()) {
            ASSERT_EQ(::write(file.fd(), "written", 7), 7);
        }
        switch (c.meanwhile) {
            case Meanwhile::kNothing:
                break;
            case Meanwhile::kReplacedByAnotherFile:
                fs::rename(other, path);
                break;
            case Meanwhile::kReplacedByALink:
                fs::remove(path);
                fs::create_symlink(other, path);
                break;
            case Meanwhile::kDeleted:
                fs::remove(path);
                break;
        }
        EXPECT_EQ(file.Remove(), c.removed);
        EXPECT_FALSE(file.isOpen());
        EXPECT_FALSE(file.Remove());  // at most once
        if (c.removed || c.meanwhile == Meanwhile::kDeleted || c.openError != 0) {
            EXPECT_FALSE(fs::exists(fs::symlink_status(path)));
        } else {
            EXPECT_EQ(Read(path), c.left);
        }
        EXPECT_EQ(fs::is_symlink(path), c.target == Target::kLinkToFile ||
                                            c.target == Target::kLinkToDevice ||
                                            c.meanwhile == Meanwhile::kReplacedByALink);
        fs::remove_all(dir);
    }
}

TEST(OwnedFile, CloseKeepsTheFileAndItStaysRemovable) {
    std::string pattern = (fs::temp_directory_path() / "quorvex-owned-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    const fs::path path = fs::path(pattern) / "kept";
    {
        OwnedFile file;
        ASSERT_EQ(file.Open(path.string(), 0644), 0);
        EXPECT_EQ(file.Close(), 0);
        EXPECT_TRUE(fs::exists(path));
        EXPECT_EQ(file.Close(), 0);
    }
    EXPECT_TRUE(fs::exists(path));  // destruction closes, never deletes
    OwnedFile again;
    ASSERT_EQ(again.Open(path.string(), 0644), 0);
    ASSERT_EQ(again.Close(), 0);
    EXPECT_TRUE(again.Remove());
    EXPECT_FALSE(fs::exists(path));
    fs::remove_all(pattern);
}

}  // namespace

#include "core/session/TrustedProgramPath.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

// One change to a fresh tree (a/b/prog, open/prog in a folder anyone may write to, and links
// between them) and what checking `asked` must give: the resolved path, or "" for refused.
struct TrustCase {
    const char* name;
    const char* changed;  // relative path whose mode or owner changes; "" none
    mode_t mode;          // 0: kept
    bool otherOwner;      // given to another user (needs root)
    const char* asked;
    const char* trusted;
};

const TrustCase kCases[] = {
    {"Plain", "", 0, false, "a/b/prog", "a/b/prog"},
    {"FileGroupWritable", "a/b/prog", 0775, false, "a/b/prog", ""},
    {"NotExecutable", "a/b/prog", 0644, false, "a/b/prog", ""},
    {"OwnFolderOpenEvenIfSticky", "a/b", 01777, false, "a/b/prog", ""},
    {"FolderAboveOpenAndSticky", "a", 01777, false, "a/b/prog", "a/b/prog"},
    {"FolderAboveOpen", "a", 0777, false, "a/b/prog", ""},
    {"FileOfAnotherUser", "a/b/prog", 0, true, "a/b/prog", ""},
    {"FolderOfAnotherUser", "a", 0, true, "a/b/prog", ""},
    {"LinkFromAnOpenFolderToATrustedFile", "", 0, false, "open/link", "a/b/prog"},
    {"LinkToAFileInAnOpenFolder", "", 0, false, "a/b/link", ""},
};

void MakeProgram(const fs::path& path) {
    std::ofstream(path) << "#!/bin/sh\n";
    ::chmod(path.c_str(), 0755);
}

TEST(TrustedProgramPath, OnlyWhatNoOtherUserOrGroupCanHavePutThere) {
    for (const TrustCase& c : kCases) {
        SCOPED_TRACE(c.name);
        if (c.otherOwner && ::geteuid() != 0) {
            continue;  // giving a file away needs root, as the tests have in CI
        }
        std::string pattern = (fs::temp_directory_path() / "quorvex-trust-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        const fs::path root = fs::canonical(pattern);
        fs::create_directories(root / "a/b");
        fs::create_directory(root / "open");
        ::chmod((root / "a").c_str(), 0755);
        ::chmod((root / "a/b").c_str(), 0755);
        ::chmod((root / "open").c_str(), 0777);
        MakeProgram(root / "a/b/prog");
        MakeProgram(root / "open/prog");
        fs::create_symlink(root / "a/b/prog", root / "open/link");
        fs::create_symlink(root / "open/prog", root / "a/b/link");
        const fs::path changed = root / c.changed;
        if (c.mode != 0) {
            ASSERT_EQ(::chmod(changed.c_str(), c.mode), 0);
        }
        if (c.otherOwner) {
            ASSERT_EQ(::chown(changed.c_str(), 65534, 65534), 0);
        }
        const std::string expected = *c.trusted == '\0' ? "" : (root / c.trusted).string();
        EXPECT_EQ(TrustedProgramPath::checked((root / c.asked).string(), ::geteuid()), expected);
        fs::remove_all(root);
    }
}

}  // namespace

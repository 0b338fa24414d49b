#include "core/file/AsideFile.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// What the target's name holds when the file is opened.
enum class Target {
    kNew,
    kExistingFile,   // "old contents"
    kLinkToFile,     // a link to "linked", which holds "linked contents"
    kLinkToDevice,   // a link to /dev/null
    kLeftoverPart,   // nothing, but ".target.part" is taken by "leftover"
    kFolder,         // a directory
    kMissingFolder,  // in a folder that does not exist
    kFifo,           // a named pipe nobody reads
};
// What happens after "written" has been written.
enum class Action {
    kCommit,
    kCommitNoReplace,
    kDiscard,
    kPartReplacedThenCommit,  // another file takes the temporary file's name meanwhile
    kPartDeletedThenDiscard,
    kTargetAppearsThenCommitNoReplace,  // "other" gets the target's name meanwhile
};

struct AsideCase {
    const char* name;
    Target target;
    Action action;
    int openError;
    int commitError;
    const char* after;  // what the target's name reads afterwards; nullptr: nothing
    bool linkAfter = false;
};

const AsideCase kCases[] = {
    {"NewCommitted", Target::kNew, Action::kCommit, 0, 0, "written"},
    {"NewDiscarded", Target::kNew, Action::kDiscard, 0, 0, nullptr},
    {"ExistingReplaced", Target::kExistingFile, Action::kCommit, 0, 0, "written"},
    {"ExistingKeptOnDiscard", Target::kExistingFile, Action::kDiscard, 0, 0, "old contents"},
    {"LinkItselfReplaced", Target::kLinkToFile, Action::kCommit, 0, 0, "written"},
    {"LinkKeptOnDiscard", Target::kLinkToFile, Action::kDiscard, 0, 0, "linked contents", true},
    {"LinkToDeviceReplaced", Target::kLinkToDevice, Action::kCommit, 0, 0, "written"},
    {"LeftoverPartIsLeftAlone", Target::kLeftoverPart, Action::kCommit, 0, 0, "written"},
    {"NoReplaceCreates", Target::kNew, Action::kCommitNoReplace, 0, 0, "written"},
    {"NoReplaceKeepsWhatAppeared", Target::kNew, Action::kTargetAppearsThenCommitNoReplace, 0,
     EEXIST, "other"},
    {"ForeignPartNeverBecomesTheTarget", Target::kExistingFile, Action::kPartReplacedThenCommit, 0,
     ENOENT, "old contents"},
    {"PartAlreadyGone", Target::kNew, Action::kPartDeletedThenDiscard, 0, 0, nullptr},
    {"FolderRefused", Target::kFolder, Action::kCommit, EISDIR, 0, nullptr},
    {"MissingFolder", Target::kMissingFolder, Action::kCommit, ENOENT, 0, nullptr},
    {"PipeWithoutReaderFailsAtOnce", Target::kFifo, Action::kCommit, ENXIO, 0, nullptr},
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

fs::path MakeTempDir() {
    std::string pattern = (fs::temp_directory_path() / "quorvex-aside-XXXXXX").string();
    return mkdtemp(pattern.data()) != nullptr ? fs::path(pattern) : fs::path();
}

std::vector<std::string> Names(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(AsideFile, TargetChangesOnlyOnCommitAndNeverThroughALink) {
    for (const AsideCase& c : kCases) {
        SCOPED_TRACE(c.name);
        const fs::path dir = MakeTempDir();
        ASSERT_FALSE(dir.empty());
        const fs::path linked = dir / "linked";
        Write(linked, "linked contents");
        fs::path path = dir / "target";
        const fs::path part = dir / ".target.part";
        switch (c.target) {
            case Target::kNew:
                break;
            case Target::kExistingFile:
                Write(path, "old contents");
                break;
            case Target::kLinkToFile:
                fs::create_symlink(linked, path);
                break;
            case Target::kLinkToDevice:
                fs::create_symlink("/dev/null", path);
                break;
            case Target::kLeftoverPart:
                Write(part, "leftover");
                break;
            case Target::kFolder:
                fs::create_directory(path);
                break;
            case Target::kMissingFolder:
                path = dir / "missing" / "target";
                break;
            case Target::kFifo:
                ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
                break;
        }

        AsideFile file;
        ASSERT_EQ(file.open(path.string(), 0644), c.openError);
        EXPECT_EQ(file.isOpen(), c.openError == 0);
        int commitError = 0;
        if (file.isOpen()) {
            EXPECT_FALSE(file.holdsData());
            ASSERT_EQ(file.write("written", 7), 0);
            EXPECT_TRUE(file.holdsData());
            // Nothing reaches the target's name before the commit.
            if (c.target != Target::kLeftoverPart) {
                EXPECT_EQ(file.partPath(), part.string());
            }
            EXPECT_NE(Read(path), "written");
            switch (c.action) {
                case Action::kCommit:
                    commitError = file.commit();
                    break;
                case Action::kCommitNoReplace:
                    commitError = file.commit(AsideFile::Replace::kNever);
                    break;
                case Action::kDiscard:
                    file.discard();
                    break;
                case Action::kPartReplacedThenCommit:
                    fs::remove(part);
                    Write(part, "foreign");
                    commitError = file.commit();
                    break;
                case Action::kPartDeletedThenDiscard:
                    fs::remove(part);
                    file.discard();
                    break;
                case Action::kTargetAppearsThenCommitNoReplace:
                    Write(path, "other");
                    commitError = file.commit(AsideFile::Replace::kNever);
                    break;
            }
            EXPECT_FALSE(file.isOpen());
        }
        EXPECT_EQ(commitError, c.commitError);
        if (c.after == nullptr) {
            EXPECT_TRUE(!fs::exists(fs::symlink_status(path)) || c.target == Target::kFolder ||
                        c.target == Target::kFifo);
        } else {
            EXPECT_EQ(Read(path), c.after);
            EXPECT_EQ(fs::is_symlink(path), c.linkAfter);
        }
        EXPECT_EQ(Read(linked), "linked contents");  // never written through a link
        // Only what the case put there is left: no temporary file of ours.
        std::vector<std::string> expected = {"linked"};
        if (c.target == Target::kLeftoverPart) {
            expected.push_back(".target.part");
            EXPECT_EQ(Read(part), "leftover");
        }
        if (c.action == Action::kPartReplacedThenCommit) {
            expected.push_back(".target.part");
            EXPECT_EQ(Read(part), "foreign");
        }
        if (fs::exists(fs::symlink_status(dir / "target"))) {
            expected.push_back("target");
        }
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(Names(dir), expected);
        fs::remove_all(dir);
    }
}

TEST(AsideFile, DeviceIsWrittenInPlaceAndNeverReplaced) {
    AsideFile file;
    ASSERT_EQ(file.open("/dev/null", 0644), 0);
    EXPECT_TRUE(file.inPlace());
    EXPECT_EQ(file.partPath(), "");
    EXPECT_EQ(file.write("written", 7), 0);
    EXPECT_EQ(file.commit(), 0);
    struct stat info {};
    ASSERT_EQ(lstat("/dev/null", &info), 0);
    EXPECT_TRUE(S_ISCHR(info.st_mode));
    EXPECT_FALSE(fs::exists("/dev/.null.part"));
}

TEST(AsideFile, WriteFailureNamesTheCallAndLeavesTheTarget) {
    if (!fs::exists("/dev/full")) {
        GTEST_SKIP() << "no /dev/full";
    }
    AsideFile file;
    ASSERT_EQ(file.open("/dev/full", 0644), 0);
    EXPECT_EQ(file.write("x", 1), ENOSPC);
    EXPECT_STREQ(file.failedCall(), "write");
}

TEST(AsideFile, ReplacementKeepsThePermissionsOfTheOldFile) {
    const fs::path dir = MakeTempDir();
    ASSERT_FALSE(dir.empty());
    const fs::path path = dir / "private";
    Write(path, "old");
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
    AsideFile file;
    ASSERT_EQ(file.open(path.string(), 0644), 0);
    ASSERT_EQ(file.write("new", 3), 0);
    ASSERT_EQ(file.commit(), 0);
    EXPECT_EQ(Read(path), "new");
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    fs::remove_all(dir);
}

// Root may write any file: as root (in CI) the open is tried by a child that has given up root
// for good, on a folder and file it owns.
int OpenAsUnprivilegedUser(const fs::path& dir, const fs::path& path) {
    constexpr uid_t kNobody = 65534;
    const bool root = ::geteuid() == 0;
    if (root && (::chown(dir.c_str(), kNobody, kNobody) != 0 ||
                 ::chown(path.c_str(), kNobody, kNobody) != 0)) {
        return -1;
    }
    const pid_t child = ::fork();
    if (child == 0) {
        if (root && (::setgroups(0, nullptr) != 0 || ::setresgid(kNobody, kNobody, kNobody) != 0 ||
                     ::setresuid(kNobody, kNobody, kNobody) != 0)) {
            ::_exit(255);
        }
        AsideFile file;
        ::_exit(file.open(path.string(), 0644) & 0x7F);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

TEST(AsideFile, ReadOnlyFileIsNotReplaced) {
    const fs::path dir = MakeTempDir();
    ASSERT_FALSE(dir.empty());
    const fs::path path = dir / "protected";
    Write(path, "old");
    fs::permissions(path, fs::perms::owner_read);
    EXPECT_EQ(OpenAsUnprivilegedUser(dir, path), EACCES);
    EXPECT_EQ(Read(path), "old");
    EXPECT_EQ(Names(dir), std::vector<std::string>{"protected"});
    fs::remove_all(dir);
}

TEST(AsideFile, TakenAndLongNamesStillGetATemporaryFile) {
    const fs::path dir = MakeTempDir();
    ASSERT_FALSE(dir.empty());
    // A name of the longest length a folder takes, with a character of three bytes where the
    // temporary name must be cut.
    std::string longName(244, 'a');
    longName += "\xE3\x81\x82" + std::string(8, 'b');
    const fs::path path = dir / longName;
    AsideFile first;
    ASSERT_EQ(first.open(path.string(), 0644), 0);
    AsideFile second;  // another download to the same target at the same time
    ASSERT_EQ(second.open(path.string(), 0644), 0);
    EXPECT_NE(first.partPath(), second.partPath());
    for (const std::string& part : {first.partPath(), second.partPath()}) {
        const std::string name = fs::path(part).filename().string();
        EXPECT_LE(name.size(), 255u);
        EXPECT_TRUE(name.ends_with(".part"));
        EXPECT_EQ(name.front(), '.');
        EXPECT_EQ(name.find('\xE3'), std::string::npos);  // no character cut in half
    }
    ASSERT_EQ(first.write("1", 1), 0);
    ASSERT_EQ(second.write("2", 1), 0);
    ASSERT_EQ(first.commit(), 0);
    ASSERT_EQ(second.commit(), 0);
    EXPECT_EQ(Read(path), "2");
    EXPECT_EQ(Names(dir), std::vector<std::string>{longName});
    fs::remove_all(dir);
}

TEST(AsideFile, DestructionDiscardsWhatWasNotCommitted) {
    const fs::path dir = MakeTempDir();
    ASSERT_FALSE(dir.empty());
    Write(dir / "kept", "old");
    {
        AsideFile file;
        ASSERT_EQ(file.open((dir / "kept").string(), 0644), 0);
        ASSERT_EQ(file.write("new", 3), 0);
    }
    EXPECT_EQ(Read(dir / "kept"), "old");
    EXPECT_EQ(Names(dir), std::vector<std::string>{"kept"});
    fs::remove_all(dir);
}

}  // namespace

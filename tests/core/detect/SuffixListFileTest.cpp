#include "core/detect/SuffixListFile.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "support/FileSizeLimit.h"

namespace {

struct Row {
    std::string suffix;
    std::string typeName;
};

std::vector<Row> rowsOf(const SuffixTable& table) {
    std::vector<Row> rows;
    for (int i = 0; i < table.count(); ++i) {
        rows.push_back({table.row(i).suffix, table.row(i).typeName});
    }
    return rows;
}

// The eleven suffixes the list always had, then today's media.
constexpr const char* kOldDefaultList =
    ".asf\n.mid\n.wma\n.wmv\n.avi\n.mp3\n.eva\n.wav\n.swf\n.rm\n.flv\n";
const std::string kDefaultList = std::string(kOldDefaultList) +
                                 ".mp4\n.m4a\n.m4v\n.webm\n.m3u8\n.mpd\n.ts\n.aac\n.flac\n.ogg\n"
                                 ".opus\n";

struct ParseCase {
    const char* name;
    std::string contents;
    std::vector<std::string> suffixes;
    std::vector<std::string> typeNames;
};

TEST(SuffixListFile, ParsesLinesByTheFileRules) {
    const ParseCase cases[] = {
        {"comments and empty lines only", "# list\n\n#.asf\n\r\n", {}, {}},
        {"trimmed known suffix", " \t.asf \r\n", {".asf"}, {"Windows Media Format"}},
        {"case-sensitive lookup", ".ASF\n", {".ASF"}, {"Other"}},
        {"blank then hash is no comment", " #x\n", {"#x"}, {"Other"}},
        {"line of blanks", "   \n", {""}, {"Other"}},
        {"no final line break", ".mp3", {".mp3"}, {"MPeg2 layer 3 audio"}},
        {"too long for the field",
         ".abcdef\n.abcdefg\n.rm\n",
         {".abcdef", ".rm"},
         {"Other", "RealVideo"}},
        {"long line read in pieces", std::string(1023, 'a') + ".wav\n", {".wav"}, {"Wave Audio"}},
        {"duplicates kept",
         ".wma\n.wma\n",
         {".wma", ".wma"},
         {"Windous Media Audio", "Windous Media Audio"}},
        {"today's media by name",
         ".mp4\n.m4a\n.m3u8\n.mpd\n.ts\n.opus\n",
         {".mp4", ".m4a", ".m3u8", ".mpd", ".ts", ".opus"},
         {"MPEG-4 Video", "MPEG-4 Audio", "HLS Playlist", "DASH Manifest", "MPEG-TS Video",
          "Opus Audio"}},
    };
    for (const ParseCase& c : cases) {
        auto rows = rowsOf(*SuffixListFile::parse(c.contents));
        ASSERT_EQ(rows.size(), c.suffixes.size()) << c.name;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            EXPECT_EQ(rows[i].suffix, c.suffixes[i]) << c.name;
            EXPECT_EQ(rows[i].typeName, c.typeNames[i]) << c.name;
        }
    }
}

TEST(SuffixListFile, KeepsTheFirst64Entries) {
    std::string contents;
    for (int i = 0; i < 70; ++i) {
        contents += ".s" + std::to_string(i) + "\n";
    }
    auto table = SuffixListFile::parse(contents);
    ASSERT_EQ(table->count(), 64);
    EXPECT_STREQ(table->row(63).suffix, ".s63");
}

class SuffixFileOnDisk : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/quorvex-suffix-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    static std::string contentsOf(const std::filesystem::path& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    std::filesystem::path dir_;
};

TEST_F(SuffixFileOnDisk, MissingFileIsCreatedWithTheDefaults) {
    auto path = dir_ / "nested" / "quorvex" / "sufix.txt";
    auto result = SuffixListFile::load(path);
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_TRUE(result.created);
    EXPECT_EQ(contentsOf(path), kDefaultList);
    ASSERT_EQ(result.table->count(), 22);
    EXPECT_STREQ(result.table->row(3).typeName, "Windous Media Video");
    EXPECT_STREQ(result.table->row(10).suffix, ".flv");
    EXPECT_STREQ(result.table->row(15).typeName, "HLS Playlist");

    // A second load reads what is there and changes nothing, not even a list of the eleven
    // suffixes of old.
    for (const char* mine : {"# mine\n.mkv\n", kOldDefaultList}) {
        std::ofstream(path) << mine;
        result = SuffixListFile::load(path);
        EXPECT_FALSE(result.created);
        EXPECT_EQ(contentsOf(path), mine);
        EXPECT_EQ(result.table->count(), std::string(mine) == kOldDefaultList ? 11 : 1);
    }
    EXPECT_STREQ(result.table->row(5).typeName, "MPeg2 layer 3 audio");
}

TEST_F(SuffixFileOnDisk, UnreadableFileIsNeverReplaced) {
    // A directory where the file should be: it cannot be read, and must not be overwritten.
    auto path = dir_ / "sufix.txt";
    std::filesystem::create_directory(path);
    auto result = SuffixListFile::load(path);
    EXPECT_FALSE(result.ok);
    EXPECT_FALSE(result.created);
    EXPECT_FALSE(result.error.empty());
    EXPECT_EQ(result.table->count(), 0);
    EXPECT_TRUE(std::filesystem::is_directory(path));
}

// The list is replaced whole or not at all: a list cut short by a full disk would match almost
// every payload (a cut ".a") and is never what the detector loads.
struct SaveCase {
    const char* name;
    enum { kFile, kLink, kMissingFolder } place;
    rlim_t sizeLimit;   // 0: none
    const char* error;  // empty: saved
    const char* after;  // what the list reads afterwards
};

TEST_F(SuffixFileOnDisk, SaveReplacesTheWholeListOrNothing) {
    const std::string old =
        ".asf\n.rm\n.wmv\n.avi\n.wma\n.mid\n.mp3\n.wav\n.swf\n.eva\n.flv\n.ogg\n.mkv\n.mp4\n";
    const std::string next = ".asf\n.avi\n.flac\n.webm\n.opus\n.m4a\n.mov\n";
    const SaveCase cases[] = {
        {"replaced", SaveCase::kFile, 0, "", ".asf\n.avi\n.flac\n.webm\n.opus\n.m4a\n.mov\n"},
        {"through a link, where it lives", SaveCase::kLink, 0, "",
         ".asf\n.avi\n.flac\n.webm\n.opus\n.m4a\n.mov\n"},
        {"disk full part-way", SaveCase::kFile, 10, "File too large", old.c_str()},
        {"folder missing", SaveCase::kMissingFolder, 0, "No such file or directory", nullptr},
    };
    for (const SaveCase& c : cases) {
        SCOPED_TRACE(c.name);
        const auto folder = dir_ / c.name;
        std::filesystem::create_directory(folder);
        auto path = folder / "sufix.txt";
        const auto real = folder / "real.txt";
        if (c.place == SaveCase::kFile) {
            std::ofstream(path, std::ios::binary) << old;
        } else if (c.place == SaveCase::kLink) {
            std::ofstream(real, std::ios::binary) << old;
            std::filesystem::create_symlink(real, path);
        } else {
            path = folder / "missing" / "sufix.txt";
        }
        std::string error;
        bool saved = false;
        {
            std::optional<FileSizeLimit> limit;
            if (c.sizeLimit != 0) {
                limit.emplace(c.sizeLimit);
            }
            saved = SuffixListFile::save(path, next, error);
        }
        EXPECT_EQ(saved, std::string(c.error).empty());
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
        if (c.after != nullptr) {
            EXPECT_EQ(contentsOf(path), c.after);
        }
        EXPECT_EQ(std::filesystem::is_symlink(path), c.place == SaveCase::kLink);
        // Nothing else is left in the folder: no temporary file.
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            EXPECT_TRUE(entry.path() == path || entry.path() == real) << entry.path();
        }
    }
}

TEST_F(SuffixFileOnDisk, DefaultsCutShortAreNeverCreated) {
    auto path = dir_ / "sufix.txt";
    {
        FileSizeLimit limit(10);
        EXPECT_FALSE(SuffixListFile::createDefault(path));
    }
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_TRUE(std::filesystem::is_empty(dir_));
    // Never over a list that is there.
    std::ofstream(path) << ".ogg\n";
    EXPECT_FALSE(SuffixListFile::createDefault(path));
    EXPECT_EQ(contentsOf(path), ".ogg\n");
    EXPECT_TRUE(SuffixListFile::createDefault(dir_ / "new.txt"));
    EXPECT_EQ(contentsOf(dir_ / "new.txt"), kDefaultList);
}

TEST_F(SuffixFileOnDisk, UserPathFollowsXdgConfigHome) {
    const char* savedXdg = std::getenv("XDG_CONFIG_HOME");
    std::string saved = savedXdg ? savedXdg : "";
    setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
    EXPECT_EQ(SuffixListFile::userPath(), dir_ / "quorvex" / "sufix.txt");
    setenv("XDG_CONFIG_HOME", "relative/dir", 1);  // not absolute: ignored
    setenv("HOME", dir_.c_str(), 1);
    EXPECT_EQ(SuffixListFile::userPath(), dir_ / ".config" / "quorvex" / "sufix.txt");
    if (savedXdg) {
        setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    } else {
        unsetenv("XDG_CONFIG_HOME");
    }
}

}  // namespace

namespace {

TEST(SuffixListFileLocation, BesideTheExecutableWinsWhenItExists) {
    auto beside = std::filesystem::read_symlink("/proc/self/exe").parent_path() / "sufix.txt";
    ASSERT_FALSE(std::filesystem::exists(beside));
    EXPECT_EQ(SuffixListFile::defaultPath(), SuffixListFile::userPath());
    std::ofstream(beside) << ".asf\n";
    EXPECT_EQ(SuffixListFile::defaultPath(), beside);
    std::filesystem::remove(beside);
}

}  // namespace

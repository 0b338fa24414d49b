#include "core/download/StreamCommand.h"

#include <gtest/gtest.h>
#include <cstring>
#include <string>
#include <vector>

#include "core/detect/DetectedStream.h"
#include "core/download/ShellQuote.h"
#include "support/StandInTools.h"

namespace {

struct Fields {
    std::string host, path, query, referer, userAgent, cookie;
};

DetectedStream streamOf(const Fields& f) {
    DetectedStream s{};
    std::strcpy(s.scheme, "http");
    std::strncpy(s.host, f.host.c_str(), sizeof s.host - 1);
    std::strncpy(s.path, f.path.c_str(), sizeof s.path - 1);
    std::strncpy(s.query, f.query.c_str(), sizeof s.query - 1);
    std::strncpy(s.referer, f.referer.c_str(), sizeof s.referer - 1);
    std::strncpy(s.userAgent, f.userAgent.c_str(), sizeof s.userAgent - 1);
    std::strncpy(s.cookie, f.cookie.c_str(), sizeof s.cookie - 1);
    return s;
}

// Fields that try every way out of a quoted word; each would leave a file in the folder. URLs
// hold no space (the command would encode it), so they use ${IFS}.
const Fields kHostile{
    "http://h$(touch${IFS}host)",
    "/a'b\"c`touch${IFS}path`;touch${IFS}x|y&z<v>w*?~{a,b}!#\\.mp4",
    "?q=$(touch${IFS}query)&r='';touch${IFS}q2;'",
    "http://page/'$(touch${IFS}referer)'\"`touch${IFS}r2`\"",
    "Player/1 `touch agent` \"q\" \\ ; 'x' $HOME",
    "a=$(touch cookie); b='`touch c2`'",
};

struct CommandCase {
    const char* name;
    Fields fields;
    StreamCommand::Tool tool;
    std::vector<std::string> argv;  // exactly what the tool must get
};

std::vector<CommandCase> Cases() {
    const std::string url = kHostile.host + kHostile.path + kHostile.query;
    const Fields& h = kHostile;
    Fields noCookie = h;
    noCookie.cookie.clear();
    Fields control{"http://S", "/v\x1b[2J\x7f\xe9.mp4", "?a=\x01", "http://p/\x9b", "Agent\t1",
                   "k=\x1b"};
    Fields minusUrl{"-o/etc/x//h", "/-f.mp4", "", "", "", ""};
    // A path that a tool could expand or a shell could run, with a cookie only curl may carry.
    Fields path{"http://h", "/{a,b}/[1-99999999]/'q\"`touch t`$(touch d)\n%00.mp4", "", "", "",
                "sid=1"};
    const std::string pathUrl = "http://h/{a,b}/[1-99999999]/'q\"`touch%20t`$(touch%20d)%0A%00.mp4";
    Fields fileCookie = path;
    fileCookie.cookie = "/home/u/cookies.txt";
    using T = StreamCommand::Tool;
    return {
        {"CurlWithCookie",
         h,
         T::Curl,
         {"curl", "--globoff", "--referer", h.referer, "--user-agent", h.userAgent, "--cookie",
          h.cookie, "--remote-name", "--url", url}},
        {"CurlWithoutCookieFollowsRedirects",
         noCookie,
         T::Curl,
         {"curl", "--globoff", "--location", "--referer", h.referer, "--user-agent", h.userAgent,
          "--remote-name", "--url", url}},
        {"Ffmpeg",
         h,
         T::Ffmpeg,
         {"ffmpeg", "-referer", h.referer, "-user_agent", h.userAgent, "-i", url, "-c", "copy",
          "abctouchIFSpathtouchIFSxyzvwab.mp4"}},
        {"YtDlp",
         h,
         T::YtDlp,
         {"yt-dlp", "--referer", h.referer, "--user-agent", h.userAgent, "--", url}},
        // Control and non-ASCII bytes: percent-encoded in URLs, tab as space, else left out.
        {"ControlBytes",
         control,
         T::YtDlp,
         {"yt-dlp", "--referer", "http://p/%9B", "--user-agent", "Agent 1", "--",
          "http://S/v%1B[2J%7F%E9.mp4?a=%01"}},
        {"UrlStartingWithMinus",
         minusUrl,
         T::Ffmpeg,
         {"ffmpeg", "-i", "-o/etc/x//h/-f.mp4", "-c", "copy", "f.mp4"}},
        {"NoContext",
         Fields{"http://S", "/v.mp4", "", "", "", ""},
         T::Curl,
         {"curl", "--globoff", "--location", "--remote-name", "--url", "http://S/v.mp4"}},
        {"CurlPath",
         path,
         T::Curl,
         {"curl", "--globoff", "--cookie", "sid=1", "--remote-name", "--url", pathUrl}},
        {"FfmpegPath",
         path,
         T::Ffmpeg,
         {"ffmpeg", "-i", pathUrl, "-c", "copy", "qtouchttouchd00.mp4"}},
        {"YtDlpPath", path, T::YtDlp, {"yt-dlp", "--", pathUrl}},
        // curl would read a cookie without '=' as a file to load.
        {"CurlCookieThatNamesAFile",
         fileCookie,
         T::Curl,
         {"curl", "--globoff", "--location", "--remote-name", "--url", pathUrl}},
    };
}

TEST(StreamCommand, RunByTheShellTheToolGetsExactlyTheFieldsAndNothingElseRuns) {
    StandInTools tools;
    ASSERT_TRUE(tools.ok());
    for (const CommandCase& c : Cases()) {
        SCOPED_TRACE(c.name);
        const DetectedStream stream = streamOf(c.fields);
        EXPECT_EQ(StreamCommand::words(stream, c.tool), c.argv);
        const std::string line = StreamCommand::shellLine(stream, c.tool);
        for (char byte : line) {
            auto value = static_cast<unsigned char>(byte);
            ASSERT_TRUE(value >= 0x20 && value < 0x7F) << "byte " << int(value) << " in " << line;
        }
        EXPECT_EQ(tools.run(line), c.argv) << line;
        EXPECT_EQ(tools.leftovers(), std::vector<std::string>{}) << line;
    }
}

TEST(ShellQuote, EveryByteComesBackAsItWas) {
    StandInTools tools;
    ASSERT_TRUE(tools.ok());
    std::string all;
    for (int byte = 1; byte < 256; ++byte) {
        all += static_cast<char>(byte);
    }
    const std::vector<std::string> words = {"curl", all, "'", "''", "\\'", "", "-", "a b", "\n"};
    EXPECT_EQ(tools.run(ShellQuote::line(words)), words);
    EXPECT_EQ(tools.leftovers(), std::vector<std::string>{});
}

// Only a word the shell would read otherwise is quoted; the rest stays as typed.
TEST(ShellQuote, QuotesOnlyTheWordsThatNeedIt) {
    const std::pair<std::string, std::string> cases[] = {
        {"--url", "--url"},
        {"https://h.test/a_b/c-1.mp4", "https://h.test/a_b/c-1.mp4"},
        {"%41,x+y@z:1", "%41,x+y@z:1"},
        {"", "''"},
        {"a b", "'a b'"},
        {"X=1", "'X=1'"},
        {"~root", "'~root'"},
        {"a*", "'a*'"},
        {"h/a?b", "'h/a?b'"},
        {"{a,b}", "'{a,b}'"},
        {"#x", "'#x'"},
        {"it's", "'it'\\''s'"},
        {"\xC3\xA9", "'\xC3\xA9'"},
    };
    StandInTools tools;
    ASSERT_TRUE(tools.ok());
    std::vector<std::string> words{"curl"};
    for (const auto& [bytes, shown] : cases) {
        EXPECT_EQ(ShellQuote::minimalWord(bytes), shown);
        words.push_back(bytes);
    }
    EXPECT_EQ(tools.run(ShellQuote::line(words)), words);
    EXPECT_EQ(tools.leftovers(), std::vector<std::string>{});
}

TEST(StreamCommand, ToolNames) {
    EXPECT_EQ(StreamCommand::toolNamed("curl"), StreamCommand::Tool::Curl);
    EXPECT_EQ(StreamCommand::toolNamed("ffmpeg"), StreamCommand::Tool::Ffmpeg);
    EXPECT_EQ(StreamCommand::toolNamed("yt-dlp"), StreamCommand::Tool::YtDlp);
    EXPECT_EQ(StreamCommand::toolNamed("wget"), std::nullopt);
    EXPECT_EQ(StreamCommand::outputName("/a/..-"), "stream");
    EXPECT_EQ(StreamCommand::outputName("/a/.hidden.mp4"), "hidden.mp4");
}

}  // namespace

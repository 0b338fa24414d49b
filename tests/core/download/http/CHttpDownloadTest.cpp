#include "core/download/http/CHttpDownload.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <vector>

#include "ExpectedOutcome.h"
#include "RecordingStreamList.h"
#include "TestDownloadHost.h"
#include "core/detect/DetectedStream.h"
#include "support/FileSizeLimit.h"
#include "support/FixtureServer.h"
#include "support/RefusedPort.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const std::string kBadStatus = "サーバから有効なHTTP応答が返りませんでした。";
const std::string kTransferFailed = "ダウンロード中にエラーが発生しました。";
const std::string kConnectFailed = "サーバに接続できませんでした。 ";
const std::string kNoResponse = "サーバーから有効な応答を受け取りませんでした。";
const std::string kFileOpenFailed = "ダウンロードするファイルを開けませんでした。 ";

std::string InParentheses(long code) {
    return "(" + std::to_string(code) + ")";
}
ExpectedOutcome BadStatus(long status, std::string detail) {
    return Failed(status, kBadStatus + InParentheses(status), std::move(detail));
}
ExpectedOutcome TransferFailed(long code, std::string detail) {
    return Failed(code, kTransferFailed + InParentheses(code), std::move(detail));
}
ExpectedOutcome ConnectFailed(long code, std::string detail) {
    return Failed(code, kConnectFailed + InParentheses(code), std::move(detail));
}
ExpectedOutcome NoResponse(long code, std::string detail) {
    return Failed(code, kNoResponse + InParentheses(code), std::move(detail));
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void PrepareRecord(DetectedStream& record, TestDownloadHost& host, StreamList* list) {
    std::memset(&record, 0, sizeof record);
    host.rows = list;
    record.state = kStateDownloading;
}

// A loopback port where nothing listens.
// The request line and the sorted header lines of one request head.
std::pair<std::string, std::vector<std::string>> SplitHead(const std::string& head) {
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < head.size();) {
        std::size_t end = head.find("\r\n", at);
        if (end == std::string::npos || end == at) {
            break;
        }
        lines.push_back(head.substr(at, end - at));
        at = end + 2;
    }
    if (lines.empty()) {
        return {};
    }
    std::string requestLine = lines.front();
    lines.erase(lines.begin());
    std::sort(lines.begin(), lines.end());
    return {requestLine, lines};
}

// What the target's name holds before the download.
enum class Existing {
    kNothing,
    kFile,  // "precious", which must survive anything but a completed download
    kLink,  // a link to "linked" ("precious"), which is never written through
};

// "//HOST/PATH" as HOST and PATH; any other target went to 127.0.0.1.
std::pair<std::string, std::string> HostAndTarget(const std::string& target) {
    if (!target.starts_with("//")) {
        return {"127.0.0.1", target};
    }
    const std::size_t slash = target.find('/', 2);
    return {target.substr(2, slash - 2), target.substr(slash)};
}

// One download from the fixture: its scripted reply, the requests it must cause and the
// outcome it must end with. Request heads must hold exactly the headers a download sends
// (GET of the URL, not from a cache and not into one, any type, the program's name), plus
// `lastHeaders` on the last request (or `headersPerRequest`, when given, on each). A target
// written "//HOST/PATH" went to HOST on the fixture's port instead of 127.0.0.1.
struct HttpCase {
    const char* name;
    std::string reply;  // a route of http_fixture.py, or FixtureServer::Reply(bytes)
    ExpectedOutcome outcome;
    const char* progress;                   // the row's last progress text
    std::string body = {};                  // the file, when completed; else no file is left
    std::vector<std::string> targets = {};  // request targets in order; empty: `reply` once
    std::size_t requests = 0;               // beyond the targets, the last one repeats
    std::vector<std::string> lastHeaders = {};
    std::optional<DownloadHost::Credentials> login = {};  // the answer to the prompt
    const char* realm = nullptr;  // one login prompt, with this realm, is expected
    bool viaProxy = false;        // through the fixture as a proxy, for media.example.invalid
    bool closedPort = false;      // to a port where nothing listens: no request at all
    long stallSeconds = 0;
    Existing existing = Existing::kNothing;
    std::vector<std::vector<std::string>> headersPerRequest = {};
    const char* loginUrl = nullptr;  // the URL the prompt names, after the fixture's address
    // The detected request's context in the record, and what the options make of it.
    std::string referer = {};
    std::string userAgent = {};  // also the User-Agent every request must carry, when set
    std::string cookie = {};
    bool sendContext = true;
    bool cookieReuse = false;
    int tries = 1;                   // how often the download may try in all
    const char* shownTry = nullptr;  // a progress text the row must have shown on the way
};

const DownloadHost::Credentials kGoodLogin{"user", "secret"};
const DownloadHost::Credentials kWrongLogin{"user", "wrong"};
const char* kGoodBasic = "Basic dXNlcjpzZWNyZXQ=";
const char* kWrongBasic = "Basic dXNlcjp3cm9uZw==";

std::vector<HttpCase> Cases() {
    using R = FixtureServer;
    const auto done = Completed();
    return {
        // Complete downloads.
        {"Length", "/file/a.wmv?size=200000", done, "完了", R::Pattern(200000)},
        {"EmptyBody", "/file/empty.wmv?size=0", done, "完了", ""},
        {"NoLengthEndsAtClose", "/nolen/b.wmv?size=70000", done, "完了", R::Pattern(70000)},
        {"Chunked", "/chunked/b.wmv?size=50000", done, "完了", R::Pattern(50000)},
        {"Redirect",
         "/redirect/file/c.wmv?size=5000",
         done,
         "完了",
         R::Pattern(5000),
         {"/redirect/file/c.wmv?size=5000", "/file/c.wmv?size=5000"}},
        // After the prompt libcurl asks once more without a login to learn the scheme.
        {"LoginAfter401",
         "/auth/d.wmv?size=3000",
         done,
         "完了",
         R::Pattern(3000),
         {},
         3,
         {std::string("Authorization: ") + kGoodBasic},
         kGoodLogin,
         "test"},
        {"ProxyLoginAfter407",
         "/file/p.wmv?size=4000",
         done,
         "完了",
         R::Pattern(4000),
         {},
         3,
         {std::string("Proxy-Authorization: ") + kGoodBasic},
         kGoodLogin,
         "proxy",
         true},
        {"ScriptedLength", R::Reply("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello"), done,
         "完了", "hello"},
        {"Http10UntilClose", R::Reply("HTTP/1.0 200 OK\r\n\r\nuntil close"), done, "完了",
         "until close"},
        {"InterimBeforeTheAnswer",
         R::Reply("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"),
         done, "完了", "ok"},

        // The detected request's Referer and User-Agent open a server that checks them.
        {.name = "SendsTheDetectedRequestsContext",
         .reply = "/player/v.mp4?size=3000",
         .outcome = done,
         .progress = "完了",
         .body = R::Pattern(3000),
         .lastHeaders = {"Referer: http://page.example/watch"},
         .referer = "http://page.example/watch",
         .userAgent = "Player/2.1 (X11; Linux)"},
        {.name = "WithoutTheContextTheServerRefuses",
         .reply = "/player/v.mp4?size=3000",
         .outcome = BadStatus(403, "HTTP/1.1 403 Forbidden"),
         .progress = "失敗",
         .referer = "http://page.example/watch",
         .userAgent = "Player/2.1",
         .sendContext = false},
        // A captured cookie goes only with cookie reuse on, and only to its own host: the
        // redirect to another host name gets none.
        {.name = "CookieOnlyToItsHostNeverAfterARedirect",
         .reply = "/redirect-host/localhost/file/k.wmv?size=2000",
         .outcome = done,
         .progress = "完了",
         .body = R::Pattern(2000),
         .targets = {"/redirect-host/localhost/file/k.wmv?size=2000",
                     "//localhost/file/k.wmv?size=2000"},
         .headersPerRequest = {{"Cookie: id=7"}, {}},
         .cookie = "id=7",
         .cookieReuse = true},
        {.name = "CookieKeptToItselfWithoutReuse",
         .reply = "/file/k.wmv?size=2000",
         .outcome = done,
         .progress = "完了",
         .body = R::Pattern(2000),
         .cookie = "id=7",
         .cookieReuse = false},

        // A broken transfer is tried again: it continues the temporary file only on a 206 for
        // exactly the rest of the same file, otherwise it starts the file over.
        {.name = "ResumesWithRangeAfterAReset",
         .reply = "/reset/r1.wmv?size=300000&after=100000&range=1",
         .outcome = done,
         .progress = "完了",
         .body = R::Pattern(300000),
         .requests = 2,
         .headersPerRequest = {{}, {"If-Range: \"v1\"", "Range: bytes=100000-"}},
         .tries = 3,
         .shownTry = "再試行 2/3"},
        {.name = "StartsOverWhenTheServerIgnoresRange",
         .reply = "/reset/r2.wmv?size=300000&after=100000&range=0",
         .outcome = done,
         .progress = "完了",
         .body = R::Pattern(300000),
         .requests = 2,
         .headersPerRequest = {{}, {"If-Range: \"v1\"", "Range: bytes=100000-"}},
         .tries = 2,
         .shownTry = "再試行 2/2"},
        // A 206 for another range is not appended; the next try starts over, breaks again,
        // and the last failure leaves no file, as without retries: the row says so as after a
        // 404, without the percentage it reached.
        {.name = "NeverAppendsAWrongRange",
         .reply = "/reset/r3.wmv?size=300000&after=100000&range=bad",
         .outcome = TransferFailed(18, "transfer closed with 200000 bytes remaining to read"),
         .progress = "失敗",
         .requests = 3,
         .headersPerRequest = {{}, {"If-Range: \"v1\"", "Range: bytes=100000-"}, {}},
         .tries = 3,
         .shownTry = "再試行 3/3"},
        // A body that does not keep to its announced length is never a complete file: one
        // that ends short is continued as after a reset, one that runs on is cut at the length
        // and the file started over; the last such try fails and the old file stays.
        {.name = "ShortResumeIsContinuedThenFails",
         .reply = "/reset/h1.wmv?size=1000&after=500&range=short",
         .outcome = TransferFailed(18, "the server sent 520 of the 1000 bytes it announced"),
         .progress = "失敗",
         .requests = 3,
         .existing = Existing::kFile,
         .headersPerRequest = {{},
                               {"If-Range: \"v1\"", "Range: bytes=500-"},
                               {"If-Range: \"v1\"", "Range: bytes=510-"}},
         .tries = 3},
        {.name = "LongResumeIsCutAndStartedOver",
         .reply = "/reset/h2.wmv?size=1000&after=500&range=long",
         .outcome = TransferFailed(18, "transfer closed with 500 bytes remaining to read"),
         .progress = "失敗",
         .requests = 3,
         .existing = Existing::kFile,
         .headersPerRequest = {{}, {"If-Range: \"v1\"", "Range: bytes=500-"}, {}},
         .tries = 3},
        {.name = "ChunksShortOfTheirLength",
         .reply = "/chunked/h3.wmv?size=510&length=1000",
         .outcome = TransferFailed(18, "the server sent 510 of the 1000 bytes it announced"),
         .progress = "失敗",
         .existing = Existing::kFile},
        {.name = "ChunksPastTheirLength",
         .reply = "/chunked/h4.wmv?size=5500&length=1000",
         .outcome = TransferFailed(8, "the server sent more than the 1000 bytes it announced"),
         .progress = "失敗"},
        {.name = "ServiceUnavailableThenServed",
         .reply = "/busy/b1.wmv?size=2000&code=503&times=2",
         .outcome = done,
         .progress = "完了",
         .body = R::Pattern(2000),
         .requests = 3,
         .tries = 3,
         .shownTry = "再試行 3/3"},
        {.name = "TooManyRequestsWithRetryAfter",
         .reply = "/busy/b2.wmv?size=2000&code=429&times=1&wait=0",
         .outcome = done,
         .progress = "完了",
         .body = R::Pattern(2000),
         .requests = 2,
         .tries = 2,
         .shownTry = "再試行 2/2"},
        {.name = "UnavailableLongerThanTheTries",
         .reply = "/busy/b3.wmv?size=2000&code=503&times=5",
         .outcome = BadStatus(503, "HTTP/1.1 503 Service Unavailable"),
         .progress = "失敗",
         .requests = 2,
         .tries = 2},
        {.name = "BrokenOnEveryTryFailsAfterTheLast",
         .reply = "/early/f.wmv?size=100000&after=2000",
         .outcome =
             Because(TransferFailed(18, "transfer closed with 98000 bytes remaining to read"),
                     FailureCause::kTransferCut),
         .progress = "失敗",
         .requests = 4,
         .tries = 4,
         .shownTry = "再試行 4/4"},
        {.name = "NotFoundIsNotTriedAgain",
         .reply = "/status/404",
         .outcome = BadStatus(404, "HTTP/1.1 404 Not Found"),
         .progress = "失敗",
         .tries = 3},

        // The download replaces what had the target's name, a link itself and not its file.
        {.name = "ReplacesAnExistingFile",
         .reply = "/file/e.wmv?size=3000",
         .outcome = done,
         .progress = "完了",
         .body = R::Pattern(3000),
         .existing = Existing::kFile},
        {.name = "ReplacesALinkNotItsFile",
         .reply = "/file/e.wmv?size=3000",
         .outcome = done,
         .progress = "完了",
         .body = R::Pattern(3000),
         .existing = Existing::kLink},
        // A login behind a redirect to another host: the prompt names the host that asked,
        // which is asked again directly and is the only one to get the login.
        {.name = "LoginForTheHostBehindARedirect",
         .reply = "/redirect-host/localhost/auth/r.wmv?size=2500",
         .outcome = done,
         .progress = "完了",
         .body = R::Pattern(2500),
         .targets = {"/redirect-host/localhost/auth/r.wmv?size=2500",
                     "//localhost/auth/r.wmv?size=2500"},
         .requests = 4,
         .login = kGoodLogin,
         .realm = "test",
         .headersPerRequest = {{}, {}, {}, {std::string("Authorization: ") + kGoodBasic}},
         .loginUrl = "//localhost/auth/r.wmv?size=2500"},
        {.name = "LoginNeverFollowsARedirectToAnotherHost",
         .reply = "/auth-redirect/localhost/file/f.wmv?size=1500",
         .outcome = done,
         .progress = "完了",
         .body = R::Pattern(1500),
         .targets = {"/auth-redirect/localhost/file/f.wmv?size=1500",
                     "/auth-redirect/localhost/file/f.wmv?size=1500",
                     "/auth-redirect/localhost/file/f.wmv?size=1500",
                     "//localhost/file/f.wmv?size=1500"},
         .login = kGoodLogin,
         .realm = "test",
         .headersPerRequest = {{}, {}, {std::string("Authorization: ") + kGoodBasic}, {}}},

        // Failures: the message, state 0, no file left.
        {"Status404", "/status/404",
         Because(BadStatus(404, "HTTP/1.1 404 Not Found"), FailureCause::kNotFound), "失敗"},
        {"Status500", "/status/500", BadStatus(500, "HTTP/1.1 500 Internal Server Error"), "失敗"},
        {"RefusalWithABody", R::Reply("HTTP/1.1 503 Busy\r\nContent-Length: 4\r\n\r\nbusy"),
         BadStatus(503, "HTTP/1.1 503 Busy"), "失敗"},
        {"ControlByteInStatusLine",
         R::Reply("HTTP/1.1 404 Not\x01"
                  "Found\r\nContent-Length: 0\r\n\r\n"),
         BadStatus(404, "HTTP/1.1 404 Not?Found"), "失敗"},
        {"LoginDismissed",
         "/auth/x.wmv",
         BadStatus(401, "HTTP/1.1 401 Unauthorized"),
         "失敗",
         "",
         {},
         0,
         {},
         std::nullopt,
         "test"},
        {"WrongLogin",
         "/auth/x.wmv",
         BadStatus(401, "HTTP/1.1 401 Unauthorized"),
         "失敗",
         "",
         {},
         3,
         {std::string("Authorization: ") + kWrongBasic},
         kWrongLogin,
         "test"},
        {"ProxyLoginDismissed",
         "/file/p.wmv",
         BadStatus(407, "HTTP/1.1 407 Proxy Authentication Required"),
         "失敗",
         "",
         {},
         0,
         {},
         std::nullopt,
         "proxy",
         true},
        {"ClosedBeforeTheLength", "/early/x.wmv?size=100000&after=1000",
         TransferFailed(18, "transfer closed with 99000 bytes remaining to read"), "失敗"},
        {"ScriptedShortBody", R::Reply("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc"),
         TransferFailed(18, "transfer closed with 7 bytes remaining to read"), "失敗"},
        {"BrokenChunk", R::Reply("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n"),
         TransferFailed(56, "chunked-encoding"), "失敗"},
        {"SilentServerTimesOut",
         "/stall/s.wmv?size=100000&after=1&hold=20",
         Because(TransferFailed(28, "Operation too slow"), FailureCause::kTimedOut),
         "失敗",
         "",
         {},
         0,
         {},
         std::nullopt,
         nullptr,
         false,
         false,
         1},
        {"RedirectToFile", "/redirect-file", ConnectFailed(1, "Protocol \"file\" not supported"),
         "失敗"},
        {"RedirectLoop",
         "/loop",
         ConnectFailed(47, "Maximum (20) redirects followed"),
         "失敗",
         "",
         {"/loop"},
         21},
        {"RefusedConnection",
         "/x.wmv",
         Because(ConnectFailed(7, "Couldn't connect to server"), FailureCause::kConnectionRefused),
         "失敗",
         "",
         {},
         0,
         {},
         std::nullopt,
         nullptr,
         false,
         true},
        {"NotHttp", "/garbage", Because(NoResponse(1, "HTTP/0.9"), FailureCause::kBadReply),
         "失敗"},
        {"EmptyReply", R::Reply(""), NoResponse(52, "Empty reply from server"), "失敗"},
        // A failure leaves what the user had under the target's name untouched.
        {.name = "Status404KeepsTheOldFile",
         .reply = "/status/404",
         .outcome = BadStatus(404, "HTTP/1.1 404 Not Found"),
         .progress = "失敗",
         .existing = Existing::kFile},
        {.name = "CutShortKeepsTheOldFile",
         .reply = "/early/x.wmv?size=100000&after=1000",
         .outcome = TransferFailed(18, "transfer closed with 99000 bytes remaining to read"),
         .progress = "失敗",
         .existing = Existing::kFile},
        {.name = "RefusedConnectionKeepsTheOldFile",
         .reply = "/x.wmv",
         .outcome = ConnectFailed(7, "Couldn't connect to server"),
         .progress = "失敗",
         .closedPort = true,
         .existing = Existing::kFile},
        {.name = "FailureKeepsALinkAndItsFile",
         .reply = "/status/500",
         .outcome = BadStatus(500, "HTTP/1.1 500 Internal Server Error"),
         .progress = "失敗",
         .existing = Existing::kLink},
    };
}

class HttpDownloadTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(server.running()) << "python3 fixture server did not start";
        std::string pattern = (fs::temp_directory_path() / "quorvex-http-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
        target = dir / "out.bin";
        PrepareRecord(record, host, &list);
        options.proxy = "";    // never a proxy of the environment, only the ones a test names
        options.maxTries = 1;  // the cases that try again say so
        options.retryDelayMillis = 1;
    }

    void TearDown() override {
        download.reset();
        fs::remove_all(dir);
    }

    StartResult start(const std::string& url) {
        download = std::make_unique<CHttpDownload>(host, options);
        return download->Start(&record, url, target.string());
    }

    // Runs one download to its end; false when it did not end in time.
    bool run(const std::string& path) {
        if (start(server.url(path)) != StartResult::kStarted) {
            return false;
        }
        return host.waitEnded(1);
    }

    void RunCase(const HttpCase& c);
    void ExpectRequests(const HttpCase& c, const std::vector<std::string>& heads);

    FixtureServer server;
    fs::path dir;
    fs::path target;
    DetectedStream record;
    RecordingStreamList list;
    TestDownloadHost host;
    HttpDownloadOptions options;
    std::unique_ptr<CHttpDownload> download;
};

void HttpDownloadTest::ExpectRequests(const HttpCase& c, const std::vector<std::string>& heads) {
    std::vector<std::string> targets = c.targets.empty() ? std::vector{c.reply} : c.targets;
    targets.resize(std::max(targets.size(), c.requests), targets.back());
    if (c.closedPort) {
        targets.clear();
    }
    ASSERT_EQ(heads.size(), targets.size());
    const std::string port = std::to_string(server.port());
    for (std::size_t i = 0; i < heads.size(); ++i) {
        SCOPED_TRACE("request " + std::to_string(i) + ":\n" + heads[i]);
        auto [hostName, requestTarget] = HostAndTarget(targets[i]);
        const std::string hostLine = c.viaProxy ? "media.example.invalid" : hostName + ":" + port;
        const std::string agent = c.userAgent.empty() || !c.sendContext ? "Quorvex" : c.userAgent;
        std::vector<std::string> headers = {"Host: " + hostLine, "User-Agent: " + agent,
                                            "Cache-Control: no-cache", "Pragma: no-cache",
                                            "Accept: */*"};
        if (c.viaProxy) {
            headers.push_back("Proxy-Connection: Keep-Alive");
        }
        if (!c.headersPerRequest.empty()) {
            ASSERT_EQ(c.headersPerRequest.size(), heads.size());
            headers.insert(headers.end(), c.headersPerRequest[i].begin(),
                           c.headersPerRequest[i].end());
        } else if (i + 1 == heads.size()) {
            headers.insert(headers.end(), c.lastHeaders.begin(), c.lastHeaders.end());
        }
        std::sort(headers.begin(), headers.end());
        const std::string prefix = c.viaProxy ? "http://" + hostLine : "";
        auto [requestLine, got] = SplitHead(heads[i]);
        EXPECT_EQ(requestLine, "GET " + prefix + requestTarget + " HTTP/1.1");
        EXPECT_EQ(got, headers);
    }
}

void HttpDownloadTest::RunCase(const HttpCase& c) {
    SCOPED_TRACE(c.name);
    TestDownloadHost caseHost;
    caseHost.answer = c.login;
    RecordingStreamList caseList;
    PrepareRecord(record, caseHost, &caseList);
    std::strcpy(record.referer, c.referer.c_str());
    std::strcpy(record.userAgent, c.userAgent.c_str());
    std::strcpy(record.cookie, c.cookie.c_str());
    HttpDownloadOptions caseOptions = options;
    caseOptions.sendRequestContext = c.sendContext;
    caseOptions.maxTries = c.tries;
    caseOptions.sendCapturedCookie = c.cookieReuse;
    caseOptions.stallSeconds = c.stallSeconds != 0 ? c.stallSeconds : options.stallSeconds;
    std::string url = server.url(c.reply);
    RefusedPort closed;
    if (c.viaProxy) {
        caseOptions.proxy = server.url("");
        url = "http://media.example.invalid" + c.reply;
    } else if (c.closedPort) {
        url = "http://127.0.0.1:" + std::to_string(closed.port()) + c.reply;
    }
    const fs::path linked = dir / "linked";
    if (c.existing == Existing::kFile) {
        std::ofstream(target, std::ios::binary) << "precious";
    } else if (c.existing == Existing::kLink) {
        std::ofstream(linked, std::ios::binary) << "precious";
        fs::create_symlink(linked, target);
    }
    const std::size_t earlier = server.Requests().size();
    {
        CHttpDownload worker(caseHost, caseOptions);
        ASSERT_EQ(worker.Start(&record, url, target.string()), StartResult::kStarted);
        ASSERT_TRUE(caseHost.waitEnded(1));
        EXPECT_EQ(worker.ErrorText(), c.outcome.message);
    }
    // Reported once, and nothing more once the worker is gone.
    ASSERT_EQ(caseHost.outcomes().size(), 1u);
    EXPECT_EQ(caseHost.ended()[0], &record);
    ExpectOutcome(caseHost.outcomes()[0], c.outcome);
    const bool completed = c.outcome.kind == DownloadOutcome::Kind::kCompleted;
    EXPECT_EQ(caseHost.messages(),
              completed ? std::vector<std::string>{} : std::vector{c.outcome.message});
    EXPECT_EQ(record.state, completed ? kStateEnded : kStateIdle);
    EXPECT_EQ(caseList.last(&record).progress, c.progress);
    auto refreshes = caseList.refreshes();
    ASSERT_FALSE(refreshes.empty());
    EXPECT_EQ(refreshes.back().state, record.state);
    EXPECT_EQ(refreshes.back().progress, c.progress);
    if (!completed) {
        // A failed row shows nothing of a transfer that left no file.
        EXPECT_EQ(refreshes.back().size + refreshes.back().time + refreshes.back().rate, "");
    }
    if (c.shownTry != nullptr) {
        EXPECT_TRUE(std::any_of(refreshes.begin(), refreshes.end(),
                                [&](const auto& r) { return r.progress == c.shownTry; }));
    }
    if (completed) {
        EXPECT_EQ(ReadFile(target), c.body);
        EXPECT_FALSE(fs::is_symlink(target));
    } else if (c.existing == Existing::kNothing) {
        EXPECT_FALSE(fs::exists(target));
    } else {
        EXPECT_EQ(ReadFile(target), "precious");
        EXPECT_EQ(fs::is_symlink(target), c.existing == Existing::kLink);
    }
    if (c.existing == Existing::kLink) {
        EXPECT_EQ(ReadFile(linked), "precious");  // never written through the link
        fs::remove(linked);
    }
    // Nothing but the target is left in its folder: no temporary file.
    for (const auto& entry : fs::directory_iterator(dir)) {
        EXPECT_EQ(entry.path(), target);
    }
    auto logins = caseHost.logins();
    ASSERT_EQ(logins.size(), c.realm != nullptr ? 1u : 0u);
    if (c.realm != nullptr) {
        EXPECT_EQ(logins[0].status, c.viaProxy ? 407 : 401);
        EXPECT_EQ(logins[0].realm, c.realm);
        if (c.loginUrl != nullptr) {
            auto [hostName, path] = HostAndTarget(c.loginUrl);
            EXPECT_EQ(logins[0].url,
                      "http://" + hostName + ":" + std::to_string(server.port()) + path);
        } else {
            EXPECT_EQ(logins[0].url, url);
        }
    }
    auto heads = server.Requests();
    ExpectRequests(c, std::vector(heads.begin() + static_cast<long>(earlier), heads.end()));
    fs::remove(target);
}

TEST_F(HttpDownloadTest, CaseTable) {
    for (const HttpCase& c : Cases()) {
        RunCase(c);
    }
}

TEST_F(HttpDownloadTest, SlowTrickleShowsPercentRateAndTime) {
    ASSERT_TRUE(run("/slow/t.wmv?size=1500&rate=1000"));
    EXPECT_EQ(ReadFile(target), FixtureServer::Pattern(1500));
    auto refreshes = list.refreshes(&record);
    int percents = 0;
    bool sampled = false;
    for (const auto& r : refreshes) {
        percents += r.progress.ends_with("%") ? 1 : 0;
        EXPECT_NE(r.progress, "0%");
        sampled = sampled || (!r.rate.empty() && !r.time.empty() && r.size == "1.5 KB");
    }
    EXPECT_GE(percents, 5);  // 15 blocks; a loaded machine may join a few
    EXPECT_TRUE(sampled);
    EXPECT_EQ(list.last(&record).progress, "完了");
}

TEST_F(HttpDownloadTest, WithoutLengthNoPercentSizeOrTime) {
    ASSERT_TRUE(run("/nolen/n.wmv?size=300000"));
    for (const auto& r : list.refreshes(&record)) {
        EXPECT_FALSE(r.progress.ends_with("%"));
        EXPECT_EQ(r.size, "");
        EXPECT_EQ(r.time, "");
    }
    EXPECT_EQ(list.last(&record).progress, "完了");
}

// Waits until the worker has written its first block.
bool WaitForProgress(RecordingStreamList& list, const DetectedStream& record) {
    for (std::size_t seen = 1; list.waitRefreshes(seen); ++seen) {
        const RecordingStreamList::Refresh last = list.refreshes().at(seen - 1);
        if (last.record == &record && last.progress.ends_with("%")) {
            return true;
        }
    }
    return false;
}

TEST_F(HttpDownloadTest, CancelOfStalledTransferIsPrompt) {
    options.stallSeconds = 60;
    ASSERT_EQ(start(server.url("/stall/c.wmv?size=100000&after=5000&hold=30")),
              StartResult::kStarted);
    ASSERT_TRUE(WaitForProgress(list, record));
    EXPECT_EQ(download->ErrorText(), "");  // read while the worker runs (for the race checker)
    // Ends well before the server's 30 s silence and the 60 s stall limit; how soon is the
    // download bench's to measure.
    download->Cancel();
    ASSERT_TRUE(host.waitEnded(1, std::chrono::seconds(20)));
    EXPECT_TRUE(host.messages().empty());
    EXPECT_EQ(record.state, kStateEnded);
    EXPECT_EQ(list.last(&record).progress, "Cancel");
    EXPECT_FALSE(fs::exists(target));
    ASSERT_EQ(host.outcomes().size(), 1u);
    ExpectOutcome(host.outcomes()[0], Cancelled());
}

// Saving a row again over the earlier copy, then cancelling: only the temporary file goes.
TEST_F(HttpDownloadTest, CancelMidTransferKeepsTheEarlierCopy) {
    std::ofstream(target, std::ios::binary) << "earlier copy";
    ASSERT_EQ(start(server.url("/stall/c.wmv?size=100000&after=5000&hold=30")),
              StartResult::kStarted);
    ASSERT_TRUE(WaitForProgress(list, record));
    EXPECT_TRUE(fs::exists(dir / ".out.bin.part"));
    download->Cancel();
    ASSERT_TRUE(host.waitEnded(1, std::chrono::seconds(10)));
    EXPECT_EQ(list.last(&record).progress, "Cancel");
    EXPECT_EQ(ReadFile(target), "earlier copy");
    EXPECT_FALSE(fs::exists(dir / ".out.bin.part"));
}

TEST_F(HttpDownloadTest, CancelBeforeTheTransferDeletesTheFile) {
    ASSERT_EQ(start(server.url("/hang?hold=30")), StartResult::kStarted);
    download->Cancel();  // wherever it is before an answer comes
    ASSERT_TRUE(host.waitEnded(1, std::chrono::seconds(10)));
    EXPECT_TRUE(host.messages().empty());
    EXPECT_EQ(record.state, kStateIdle);
    EXPECT_EQ(list.last(&record).progress, "Cancel");
    EXPECT_FALSE(fs::exists(target));
    ASSERT_EQ(host.outcomes().size(), 1u);
    ExpectOutcome(host.outcomes()[0], Cancelled());
}

TEST_F(HttpDownloadTest, DestroyingARunningDownloadStopsIt) {
    ASSERT_EQ(start(server.url("/hang?hold=30")), StartResult::kStarted);
    download.reset();  // returns once the worker ended: the outcome is there
    ASSERT_EQ(host.outcomes().size(), 1u);
    ExpectOutcome(host.outcomes()[0], Cancelled());
}

TEST_F(HttpDownloadTest, TwoDownloadsAtOnceEachUpdateTheirOwnRecord) {
    DetectedStream second;
    PrepareRecord(second, host, &list);
    fs::path secondTarget = dir / "second.bin";
    CHttpDownload first(host, options);
    CHttpDownload other(host, options);
    ASSERT_EQ(first.Start(&record, server.url("/slow/1.wmv?size=1200&rate=1000"), target.string()),
              StartResult::kStarted);
    ASSERT_EQ(
        other.Start(&second, server.url("/slow/2.wmv?size=2400&rate=2000"), secondTarget.string()),
        StartResult::kStarted);
    ASSERT_TRUE(host.waitEnded(2));
    EXPECT_EQ(ReadFile(target), FixtureServer::Pattern(1200));
    EXPECT_EQ(ReadFile(secondTarget), FixtureServer::Pattern(2400));
    EXPECT_EQ(list.last(&record).progress, "完了");
    EXPECT_EQ(list.last(&second).progress, "完了");
    EXPECT_EQ(list.refreshes(&record).back().size, "1.2 KB");
    EXPECT_EQ(list.refreshes(&second).back().size, "2.3 KB");
}

// A failed write shows the system's cause; a target that is a device (here /dev/full, written
// in place) is never deleted or replaced.
TEST_F(HttpDownloadTest, WriteFailureShowsTheCauseAndSparesSpecialFiles) {
    if (!fs::exists("/dev/full")) {
        GTEST_SKIP() << "no /dev/full";
    }
    download = std::make_unique<CHttpDownload>(host, options);
    ASSERT_EQ(download->Start(&record, server.url("/file/w.wmv?size=100000"), "/dev/full"),
              StartResult::kStarted);
    ASSERT_TRUE(host.waitEnded(1));
    ASSERT_EQ(host.messages().size(), 1u);
    EXPECT_EQ(host.messages()[0], kTransferFailed + "(28)");
    ASSERT_EQ(host.outcomes().size(), 1u);
    ExpectOutcome(host.outcomes()[0], Because(TransferFailed(28, "write: No space left on device"),
                                              FailureCause::kDiskFull));
    EXPECT_EQ(record.state, kStateIdle);
    EXPECT_TRUE(fs::is_character_file("/dev/full"));
    EXPECT_FALSE(fs::exists("/dev/.full.part"));
}

// The disk fills up part-way: the old file, here behind a link, is what stays.
TEST_F(HttpDownloadTest, DiskFullPartWayKeepsTheOldFile) {
    const fs::path linked = dir / "linked";
    std::ofstream(linked, std::ios::binary) << "precious";
    fs::create_symlink(linked, target);
    {
        FileSizeLimit limit(50000);
        download = std::make_unique<CHttpDownload>(host, options);
        ASSERT_EQ(download->Start(&record, server.url("/file/w.wmv?size=100000"), target.string()),
                  StartResult::kStarted);
        ASSERT_TRUE(host.waitEnded(1));
        download.reset();
    }
    ASSERT_EQ(host.outcomes().size(), 1u);
    ExpectOutcome(host.outcomes()[0], TransferFailed(EFBIG, "write: File too large"));
    EXPECT_EQ(record.state, kStateIdle);
    EXPECT_TRUE(fs::is_symlink(target));
    EXPECT_EQ(ReadFile(linked), "precious");
    EXPECT_FALSE(fs::exists(dir / ".out.bin.part"));
}

TEST(HttpsDownload, VerifiedCertificateOnlyAndHttpsAllowed) {
    FixtureServer tlsServer(60, true);
    ASSERT_TRUE(tlsServer.running());
    std::string pattern = (fs::temp_directory_path() / "quorvex-https-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    fs::path dir = pattern;
    std::string target = (dir / "s.wmv").string();
    // Untrusted before and after a trusted download: the second failure keeps the earlier copy.
    for (bool trusted : {false, true, false}) {
        SCOPED_TRACE(trusted);
        const bool earlierCopy = fs::exists(target);
        DetectedStream record;
        RecordingStreamList list;
        TestDownloadHost host;
        PrepareRecord(record, host, &list);
        HttpDownloadOptions options;
        options.proxy = "";
        if (trusted) {
            options.caFile = FixtureServer::CertificateFile();
        }
        CHttpDownload download(host, options);
        ASSERT_EQ(download.Start(&record, tlsServer.url("/file/s.wmv?size=3000"), target),
                  StartResult::kStarted);
        ASSERT_TRUE(host.waitEnded(1));
        ASSERT_EQ(host.outcomes().size(), 1u);
        if (trusted) {
            EXPECT_TRUE(host.messages().empty());
            EXPECT_EQ(ReadFile(target), FixtureServer::Pattern(3000));
            ExpectOutcome(host.outcomes()[0], Completed());
        } else {
            ASSERT_EQ(host.messages().size(), 1u);
            EXPECT_EQ(host.messages()[0], kConnectFailed + "(60)");
            if (earlierCopy) {
                EXPECT_EQ(ReadFile(target), FixtureServer::Pattern(3000));
            } else {
                EXPECT_FALSE(fs::exists(target));
            }
            ExpectOutcome(host.outcomes()[0],
                          Because(ConnectFailed(60, "certificate"), FailureCause::kTls));
        }
    }
    fs::remove_all(dir);
}

struct StartFailure {
    std::string url;
    bool emptyTarget;
    bool missingFolder;
    std::string message;
    StartResult result;
};

// A Start that fails tells the user, creates no file and reports no end.
TEST_F(HttpDownloadTest, StartRefusals) {
    const StartFailure cases[] = {
        {"", false, false, kConnectFailed + "(3)", StartResult::kBadUrl},
        {"file:///etc/hostname", false, false, kConnectFailed + "(1)", StartResult::kBadUrl},
        {"ftp://127.0.0.1/x.wmv", false, false, kConnectFailed + "(1)", StartResult::kBadUrl},
        {"http://127.0.0.1/x.wmv", true, false, kFileOpenFailed + "(2)", StartResult::kCannotWrite},
        {"http://127.0.0.1/x.wmv", false, true, kFileOpenFailed + "(2)", StartResult::kCannotWrite},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        TestDownloadHost caseHost;
        CHttpDownload worker(caseHost, options);
        std::string path = c.emptyTarget     ? std::string()
                           : c.missingFolder ? (dir / "missing" / "x.bin").string()
                                             : target.string();
        EXPECT_EQ(worker.Start(&record, c.url, path), c.result);
        ASSERT_EQ(caseHost.messages().size(), 1u);
        EXPECT_EQ(caseHost.messages()[0], c.message);
        EXPECT_FALSE(fs::exists(target));
        EXPECT_TRUE(caseHost.ended().empty());
    }
}

TEST_F(HttpDownloadTest, UrlWithoutSchemeIsTakenAsHttp) {
    std::string url = server.url("/file/s.wmv?size=100").substr(7);  // drop "http://"
    ASSERT_EQ(start(url), StartResult::kStarted);
    ASSERT_TRUE(host.waitEnded(1));
    EXPECT_EQ(ReadFile(target), FixtureServer::Pattern(100));
}

}  // namespace

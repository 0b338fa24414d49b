#include "core/store/StreamListFile.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/store/StreamCsvRow.h"
#include "core/store/StreamJsonLine.h"
#include "core/store/StreamListReader.h"
#include "support/FileSizeLimit.h"

namespace {

using Kind = StreamListFile::Kind;

DetectedStream record(const char* host, const char* path, const char* query = "",
                      const char* userAgent = "") {
    DetectedStream r{};
    r.verIhl = 0x45;
    std::strcpy(r.scheme, "http");
    std::strcpy(r.host, host);
    std::strcpy(r.path, path);
    std::strcpy(r.query, query);
    std::strcpy(r.suffix, ".wmv");
    std::strcpy(r.typeName, "Windows Media");
    std::strcpy(r.userAgent, userAgent);
    r.srcAddr = 0xC0A80001;
    r.dstAddr = 0x0A000002;
    r.srcPort = 50123;
    r.dstPort = 80;
    return r;
}

DetectedStream record6() {
    DetectedStream r = record("http://[2001:db8::2]", "/a.asf");
    r.verIhl = 0x60;
    r.srcAddr = r.dstAddr = 0;
    r.srcAddr6[0] = 0x20;
    r.srcAddr6[15] = 1;
    r.dstAddr6[0] = 0xFE;
    r.dstAddr6[1] = 0x80;
    r.dstAddr6[15] = 2;
    return r;
}

// Records as written and read again: texts, addresses and ports.
void expectSame(const DetectedStream& a, const DetectedStream& b) {
    EXPECT_STREQ(a.scheme, b.scheme);
    EXPECT_STREQ(a.host, b.host);
    EXPECT_STREQ(a.path, b.path);
    EXPECT_STREQ(a.query, b.query);
    EXPECT_STREQ(a.suffix, b.suffix);
    EXPECT_STREQ(a.typeName, b.typeName);
    EXPECT_STREQ(a.referer, b.referer);
    EXPECT_STREQ(a.userAgent, b.userAgent);
    EXPECT_EQ(IsIpv6(a), IsIpv6(b));
    EXPECT_EQ(a.srcAddr, b.srcAddr);
    EXPECT_EQ(a.dstAddr, b.dstAddr);
    EXPECT_EQ(0, std::memcmp(a.srcAddr6, b.srcAddr6, sizeof a.srcAddr6));
    EXPECT_EQ(0, std::memcmp(a.dstAddr6, b.dstAddr6, sizeof a.dstAddr6));
    EXPECT_EQ(a.srcPort, b.srcPort);
    EXPECT_EQ(a.dstPort, b.dstPort);
}

class StreamListFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/listfileXXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }
    std::string write(const std::string& name, const std::string& bytes) {
        const std::string path = dir_ + "/" + name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    static std::string read(const std::string& path) {
        std::ostringstream out;
        out << std::ifstream(path, std::ios::binary).rdbuf();
        return out.str();
    }
    bool save(const std::string& path, bool csv, const std::vector<DetectedStream>& rows,
              std::string& error) {
        std::size_t next = 0;
        return StreamListFile::save(
            path, csv,
            [&](DetectedStream& out) {
                if (next == rows.size()) {
                    return false;
                }
                out = rows[next++];
                return true;
            },
            error);
    }
    // Every record of the file, and the lines of those skipped.
    static std::vector<DetectedStream> load(const std::string& path,
                                            std::vector<std::uint64_t>* skipped = nullptr) {
        std::string error;
        StreamListReader reader;
        EXPECT_TRUE(reader.open(path, StreamListFile::sniff(path, error)));
        std::vector<DetectedStream> rows;
        DetectedStream r;
        for (;;) {
            const auto status = reader.next(r);
            if (status == StreamListReader::Status::Record) {
                rows.push_back(r);
            } else if (status == StreamListReader::Status::Skipped) {
                EXPECT_FALSE(reader.error().empty());
                if (skipped != nullptr) {
                    skipped->push_back(reader.line());
                }
            } else {
                EXPECT_EQ(status, StreamListReader::Status::End) << reader.error();
                return rows;
            }
        }
    }

    std::string dir_;
};

const std::vector<DetectedStream> kRows = {
    record("http://s.example", "/v/a.wmv", "?sig=a%2F&x=1", "Mozilla/5.0 (X11; \"q\", x)"),
    record("http://f.example", "/f.wmv", "", "=HYPERLINK(\"http://x\")"),
    record("http://g.example", "/g.wmv", "", "'@quoted"),
    record("http://完了.example", "/動画/b.asf"),
    record6(),
};

TEST_F(StreamListFileTest, ListsGoOutAndComeBackInBothForms) {
    for (const char* name : {"list.jsonl", "list.CSV"}) {
        SCOPED_TRACE(name);
        const std::string path = dir_ + "/" + name;
        std::string error;
        ASSERT_TRUE(save(path, StreamListFile::namesCsv(name), kRows, error)) << error;
        EXPECT_EQ(StreamListFile::sniff(path, error),
                  StreamListFile::namesCsv(name) ? Kind::Csv : Kind::JsonLines);
        const std::vector<DetectedStream> back = load(path);
        ASSERT_EQ(back.size(), kRows.size());
        for (std::size_t i = 0; i < kRows.size(); ++i) {
            expectSame(back[i], kRows[i]);
        }
    }
}

// JSON lines keep bytes that are no UTF-8 exactly; CSV stays UTF-8 and shows them as U+FFFD.
TEST_F(StreamListFileTest, RawBytesSurviveJsonAndBecomeReplacementsInCsv) {
    const std::vector<DetectedStream> rows = {record("http://h\x82", "/\xA0\x01.wmv")};
    std::string error;
    ASSERT_TRUE(save(dir_ + "/raw.jsonl", false, rows, error));
    ASSERT_TRUE(save(dir_ + "/raw.csv", true, rows, error));
    expectSame(load(dir_ + "/raw.jsonl").at(0), rows[0]);
    const DetectedStream csv = load(dir_ + "/raw.csv").at(0);
    EXPECT_STREQ(csv.host, "http://h\xEF\xBF\xBD");
    EXPECT_EQ(StreamJsonLine::line(rows[0]), StreamJsonLine::line(load(dir_ + "/raw.jsonl")[0]));
}

TEST_F(StreamListFileTest, CsvQuotesFieldsAsRfc4180) {
    std::string out;
    StreamCsvRow::append(out, kRows[0]);
    EXPECT_EQ(out,
              "http,http://s.example,/v/a.wmv,?sig=a%2F&x=1,http://s.example/v/a.wmv?sig=a%2F&x=1,"
              ".wmv,Windows Media,,\"Mozilla/5.0 (X11; \"\"q\"\", x)\",192.168.0.1,10.0.0.2,"
              "50123,80,,\r\n");
    // Text a spreadsheet would run as a formula goes out marked as text.
    out.clear();
    StreamCsvRow::append(out, kRows[1]);
    EXPECT_NE(out.find(",\"'=HYPERLINK(\"\"http://x\"\")\","), std::string::npos) << out;
}

TEST(StreamListFileSniff, TellsWhatAFileHoldsByItsBytes) {
    const std::string json = StreamJsonLine::line(kRows[0]) + "\n";
    const struct {
        std::string head;
        Kind kind;
    } cases[] = {
        {"", Kind::Empty},
        {std::string("\xD4\xC3\xB2\xA1\x02\x00", 6), Kind::Pcap},
        {std::string("\xA1\xB2\xC3\xD4", 4), Kind::Pcap},
        {std::string("\x4D\x3C\xB2\xA1", 4), Kind::Pcap},
        {std::string("\x0A\x0D\x0D\x0A\x1C\x00", 6), Kind::Pcapng},
        {json, Kind::JsonLines},
        {"\xEF\xBB\xBF" + json, Kind::JsonLines},
        {StreamCsvRow::header(), Kind::Csv},
        {"scheme,host,path,query,url,suffix,typeName,referer,userAgent,srcAddr,dstAddr,srcPort,"
         "dstPort\nhttp,...",
         Kind::Csv},
        {"scheme,host,path\n", Kind::Unknown},
        {"{\"name\":\"someone else's log\"}\n", Kind::Unknown},
        {"{\"scheme\":\"http\",\"host\":\"h\",\"path\":\"/a\"", Kind::Unknown},
        {"hello\n", Kind::Unknown},
        {"\x7F"
         "ELF\x02\x01",
         Kind::Unknown},
        {"PK\x03\x04", Kind::Unknown},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(StreamListFile::sniffBytes(c.head), c.kind) << c.head;
    }
}

// Untrusted lines: each refused one is skipped with its line number; the good ones load.
TEST_F(StreamListFileTest, BadRecordsAreSkippedByLine) {
    const std::string good = R"({"scheme":"http","host":"http://h","path":"/a.wmv"})";
    const std::string bad[] = {
        R"({"scheme":"http","host":"http://h"})",  // no path
        R"({"scheme":"http","host":"http://h","path":"/a","srcPort":70000})",
        R"({"scheme":"http","host":"http://h","path":"/a","srcAddr":"1.2.3"})",
        R"({"scheme":"http","host":"http://h","path":"/a","query":"x=1"})",  // no "?"
        R"({"scheme":"http","host":"http://h","path":"/a\ud800"})",          // lone surrogate
        R"({"scheme":"http","host":"http://h","path":"/a\u0000"})",          // NUL in a text
        R"({"scheme":"http","host":"http://h","path":"/a"} x)",
        R"({"scheme":"http","host":"http://h","path":"/a",})",
        "{\"scheme\":\"http\",\"host\":\"http://h\",\"path\":\"/a\x01\"}",     // raw control
        "{\"scheme\":\"http\",\"host\":\"http://h\",\"path\":\"/\xC0\xAF\"}",  // overlong
        R"({"scheme":"http","host":")" + std::string(100, 'h') + R"(","path":"/a"})",
        R"({"scheme":"http","host":"http://h","path":"/a","srcPort":-1})",
        R"(["http"])",
        std::string(StreamListFile::kMaxRecordBytes * 3, '{'),
    };
    std::string file = good + "\n";
    for (const std::string& line : bad) {
        file += line + "\n";
    }
    file += "\n" + good + "\r\n";
    std::vector<std::uint64_t> skipped;
    const std::vector<DetectedStream> rows = load(write("bad.jsonl", file), &skipped);
    EXPECT_EQ(rows.size(), 2u);
    std::vector<std::uint64_t> expected;
    for (std::uint64_t line = 2; line < 2 + std::size(bad); ++line) {
        expected.push_back(line);
    }
    EXPECT_EQ(skipped, expected);
}

TEST_F(StreamListFileTest, BadCsvRecordsAreSkippedByLine) {
    const std::string header = StreamCsvRow::header();
    const std::string good = "http,http://h,/a.wmv,,,.wmv,t,,,1.2.3.4,5.6.7.8,1,80\r\n";
    const std::string file = header + good +
                             "http,http://h,/b.wmv\r\n"  // 3 columns
                             "http,\"http://h\"x,/c.wmv,,,.wmv,t,,,1.2.3.4,5.6.7.8,1,80\r\n" +
                             "http,http://h,/d\xFF,,,.wmv,t,,,1.2.3.4,5.6.7.8,1,80\r\n" +
                             "http,http://h,\"/e\r\nf.wmv\",,,.wmv,t,,,1.2.3.4,5.6.7.8,1,80\r\n" +
                             good + "http,\"unclosed";
    std::vector<std::uint64_t> skipped;
    const std::vector<DetectedStream> rows = load(write("bad.csv", file), &skipped);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_STREQ(rows[1].path, "/e\r\nf.wmv");
    EXPECT_EQ(skipped, (std::vector<std::uint64_t>{3, 4, 5, 9}));
}

DetectedStream withDownload(std::int32_t state, const char* file) {
    DetectedStream r = record("http://d.example", "/d.wmv");
    r.state = state;
    std::strcpy(r.localFile, file);
    return r;
}

// A download that ended in its file comes back with it from both forms; nothing of any other
// download does, nor a file name that is not an absolute path of printable bytes.
TEST_F(StreamListFileTest, AFinishedDownloadComesBackWithItsFile) {
    const struct {
        DetectedStream written;
        bool keptInJson, keptInCsv;
    } cases[] = {
        {withDownload(kStateEnded, "/home/u/動画/b,\"c\".asf"), true, true},
        {withDownload(kStateEnded, "/tmp/\xA0.wmv"), true, false},  // no UTF-8: CSV cannot
        {withDownload(kStateDownloading, "/tmp/running.wmv"), false, false},
        {withDownload(kStateIdle, "/tmp/failed.wmv"), false, false},
        {withDownload(kStateEnded, "relative.wmv"), false, false},
        {withDownload(kStateEnded, "/tmp/\x1B[2J.wmv"), false, false},
    };
    std::vector<DetectedStream> rows;
    for (const auto& c : cases) {
        rows.push_back(c.written);
    }
    for (bool csv : {false, true}) {
        const std::string path = dir_ + (csv ? "/d.csv" : "/d.jsonl");
        std::string error;
        ASSERT_TRUE(save(path, csv, rows, error)) << error;
        const std::vector<DetectedStream> back = load(path);
        ASSERT_EQ(back.size(), rows.size());
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const bool kept = csv ? cases[i].keptInCsv : cases[i].keptInJson;
            EXPECT_EQ(back[i].state, kept ? kStateEnded : kStateIdle) << path << " " << i;
            EXPECT_STREQ(back[i].localFile, kept ? rows[i].localFile : "") << path << " " << i;
        }
    }
    // A state this version does not know, or one without its file, reads as not downloaded.
    const std::string head = R"({"scheme":"http","host":"http://h","path":"/a.wmv",)";
    std::string file;
    for (const char* keys : {R"("localFile":"/a.wmv","state":"ended"})",
                             R"("state":"paused","localFile":"/a.wmv"})", R"("state":"ended"})"}) {
        file += head + keys + "\n";
    }
    const std::vector<DetectedStream> read = load(write("states.jsonl", file));
    ASSERT_EQ(read.size(), 3u);
    EXPECT_EQ(read[0].state, kStateEnded);
    EXPECT_EQ(read[1].state, kStateIdle);
    EXPECT_EQ(read[2].state, kStateIdle);
}

// Lists saved before downloads were kept open as they always did, and a list without a
// finished download is written byte for byte as it was then.
TEST_F(StreamListFileTest, ListsOfEarlierVersionsReadAsBefore) {
    const std::string json =
        R"({"scheme":"http","host":"http://s.example","path":"/v/a.wmv","query":"?sig=a%2F&x=1",)"
        R"("url":"http://s.example/v/a.wmv?sig=a%2F&x=1","suffix":".wmv",)"
        R"json("typeName":"Windows Media","referer":"","userAgent":"Mozilla/5.0 (X11; \"q\", x)",)json"
        R"("srcAddr":"192.168.0.1","dstAddr":"10.0.0.2","srcPort":50123,"dstPort":80})";
    const std::string csv =
        "scheme,host,path,query,url,suffix,typeName,referer,userAgent,srcAddr,dstAddr,srcPort,"
        "dstPort\r\nhttp,http://s.example,/v/a.wmv,?sig=a%2F&x=1,"
        "http://s.example/v/a.wmv?sig=a%2F&x=1,.wmv,Windows Media,,"
        "\"Mozilla/5.0 (X11; \"\"q\"\", x)\",192.168.0.1,10.0.0.2,50123,80\r\n";
    for (const std::string& path : {write("old.jsonl", json + "\n"), write("old.csv", csv)}) {
        const std::vector<DetectedStream> back = load(path);
        ASSERT_EQ(back.size(), 1u) << path;
        expectSame(back[0], kRows[0]);
        EXPECT_EQ(back[0].state, kStateIdle);
    }
    EXPECT_EQ(StreamJsonLine::line(kRows[0]), json);
}

// A disk that fills up part-way: the save fails, says why, and the old file is as it was.
TEST_F(StreamListFileTest, AFailedSaveLeavesTheOldFile) {
    const std::string path = write("old.jsonl", "old\n");
    std::vector<DetectedStream> many(200, kRows[0]);
    std::string error;
    bool saved = true;
    {
        FileSizeLimit limit(4096);
        saved = save(path, false, many, error);
    }
    EXPECT_FALSE(saved);
    EXPECT_NE(error.find("write"), std::string::npos) << error;
    EXPECT_EQ(read(path), "old\n");
}

}  // namespace

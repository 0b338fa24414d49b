#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct DetectedStream;

// A detected stream as the command that fetches it with another tool: its URL, the request's
// Referer and User-Agent, and for curl its cookie when the record holds one (it does only with
// cookie reuse on); curl then follows no redirect, and the ffmpeg and yt-dlp forms, which would
// carry it to every host a redirect or playlist names, never hold it. The words are meant for
// ShellQuote; none of them holds a control byte or a byte above 0x7E, so a printed command
// cannot steer a terminal either: the URL and Referer are percent-encoded where needed, a
// User-Agent or cookie that cannot be written so is left out. curl does not expand braces or
// brackets in the URL.
class StreamCommand {
  public:
    enum class Tool { Curl, Ffmpeg, YtDlp };

    // "curl", "ffmpeg" or "yt-dlp"; nullopt for any other name.
    static std::optional<Tool> toolNamed(std::string_view name);

    // The program's name and its arguments.
    static std::vector<std::string> words(const DetectedStream& stream, Tool tool);
    // The same, quoted for a POSIX shell, as one line.
    static std::string shellLine(const DetectedStream& stream, Tool tool);

    // The URL (host, path and query) with control, space and non-ASCII bytes percent-encoded.
    static std::string encodedUrl(std::string_view url);
    // The file name ffmpeg writes: the path's last part, reduced to letters, digits, '.', '_'
    // and '-', never starting with '-' or '.'; "stream" when nothing is left.
    static std::string outputName(std::string_view path);
};

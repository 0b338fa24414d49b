#include "core/detect/SuffixListFile.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include "core/detect/KnownSuffixes.h"
#include "core/file/AsideFile.h"

namespace {

constexpr int kLineBuffer = 1024;
constexpr std::string_view kWhiteSpace = " \t\n\v\f\r";

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

std::filesystem::path executableDirectory() {
    std::error_code error;
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path{} : exe.parent_path();
}

}  // namespace

std::filesystem::path SuffixListFile::userPath() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    std::filesystem::path base;
    if (xdg != nullptr && xdg[0] == '/') {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        base = std::filesystem::path(home != nullptr && home[0] != '\0' ? home : "/") / ".config";
    }
    return base / "quorvex" / kFileName;
}

std::filesystem::path SuffixListFile::defaultPath() {
    std::filesystem::path directory = executableDirectory();
    if (!directory.empty()) {
        std::error_code error;
        std::filesystem::path beside = directory / kFileName;
        if (std::filesystem::is_regular_file(beside, error)) {
            return beside;
        }
    }
    return userPath();
}

bool SuffixListFile::createDefault(const std::filesystem::path& path) {
    std::error_code error;
    if (path.has_parent_path()) {
        std::filesystem::create_directories(path.parent_path(), error);
    }
    std::string contents;
    for (const KnownSuffixes::Entry& entry : KnownSuffixes::all()) {
        contents += entry.suffix;
        contents += '\n';
    }
    AsideFile file;
    // Replace::kNever: a user's list that appeared meanwhile is never replaced.
    return file.open(path.string(), 0666) == 0 &&
           file.write(contents.data(), contents.size()) == 0 &&
           file.commit(AsideFile::Replace::kNever) == 0;
}

bool SuffixListFile::save(const std::filesystem::path& path, std::string_view contents,
                          std::string& error) {
    // A list kept elsewhere through a link (a shared dotfile) is updated where it lives.
    std::error_code linkError;
    std::filesystem::path target = path;
    if (std::filesystem::is_symlink(path, linkError)) {
        target = std::filesystem::weakly_canonical(path, linkError);
        if (linkError) {
            target = path;
        }
    }
    AsideFile file;
    int failure = file.open(target.string(), 0666);
    if (failure == 0) {
        failure = file.write(contents.data(), contents.size());
    }
    if (failure == 0) {
        failure = file.commit();
    }
    if (failure != 0) {
        error = target.string() + ": " + std::strerror(failure);
        return false;
    }
    return true;
}

SuffixListFile::Result SuffixListFile::load(const std::filesystem::path& path) {
    Result result;
    result.table = std::make_shared<const SuffixTable>();
    FilePtr file(std::fopen(path.c_str(), "r"));
    if (!file && errno == ENOENT) {
        result.created = createDefault(path);
        file.reset(std::fopen(path.c_str(), "r"));
    }
    if (!file) {
        result.error = path.string() + ": " + std::strerror(errno);
        return result;
    }
    std::shared_ptr<SuffixTable> table = read(file.get());
    if (std::ferror(file.get())) {
        result.error = path.string() + ": read error";
        return result;
    }
    result.table = std::move(table);
    result.ok = true;
    return result;
}

std::shared_ptr<SuffixTable> SuffixListFile::read(std::FILE* file) {
    auto table = std::make_shared<SuffixTable>();
    char line[kLineBuffer];
    while (table->count() < SuffixTable::kCapacity && std::fgets(line, sizeof line, file)) {
        addLine(*table, line);
    }
    return table;
}

std::shared_ptr<SuffixTable> SuffixListFile::parse(std::string_view contents) {
    if (contents.empty()) {
        return std::make_shared<SuffixTable>();
    }
    FilePtr file(fmemopen(const_cast<char*>(contents.data()), contents.size(), "r"));
    if (!file) {
        return std::make_shared<SuffixTable>();
    }
    return read(file.get());
}

void SuffixListFile::addLine(SuffixTable& table, const char* line) {
    // Comment and empty-line tests look at the raw line; "\r\n" is an empty line written on
    // another platform.
    if (line[0] == '\n' || line[0] == '#' || std::strcmp(line, "\r\n") == 0) {
        return;
    }
    std::string_view text(line);
    std::size_t end = text.find_last_not_of(kWhiteSpace);
    text = end == std::string_view::npos ? std::string_view{} : text.substr(0, end + 1);
    if (!text.empty()) {
        text = text.substr(text.find_first_not_of(kWhiteSpace));
    }
    // An entry too long for its field would be a different suffix once cut: it is skipped.
    table.add(text, KnownSuffixes::typeNameOf(text));
}

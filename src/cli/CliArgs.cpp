#include "cli/CliArgs.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

CliArgs::CliArgs(std::string command, int argc, char** argv,
                 std::initializer_list<std::string_view> valueOptions,
                 std::initializer_list<std::string_view> flags, std::size_t maxPositional)
    : command_(std::move(command)) {
    auto contains = [](std::initializer_list<std::string_view> list, std::string_view word) {
        return std::find(list.begin(), list.end(), word) != list.end();
    };
    for (int i = 0; i < argc && error_.empty(); ++i) {
        std::string_view word = argv[i];
        if (word == "--help" || word == "-h") {
            help_ = true;
        } else if (word.starts_with("--")) {
            std::string_view name = word.substr(2);
            if (contains(flags, name)) {
                values_[std::string(name)] = "";
            } else if (contains(valueOptions, name)) {
                if (i + 1 >= argc) {
                    error_ = "option --" + std::string(name) + " needs a value";
                } else {
                    values_[std::string(name)] = argv[++i];
                }
            } else {
                error_ = "unknown option " + std::string(word);
            }
        } else if (positional_.size() < maxPositional) {
            positional_.emplace_back(word);
        } else {
            error_ = "unexpected argument '" + std::string(word) + "'";
        }
    }
}

bool CliArgs::has(std::string_view name) const {
    return values_.find(name) != values_.end();
}

std::optional<std::string> CliArgs::value(std::string_view name) const {
    auto it = values_.find(name);
    if (it == values_.end()) {
        return std::nullopt;
    }
    return it->second;
}

std::optional<std::uint64_t> CliArgs::number(std::string_view name, std::uint64_t min,
                                             std::uint64_t max) {
    auto text = value(name);
    if (!text) {
        return std::nullopt;
    }
    std::uint64_t result = 0;
    const char* end = text->data() + text->size();
    auto [ptr, ec] = std::from_chars(text->data(), end, result);
    if (ec != std::errc() || ptr != end || text->empty() || result < min || result > max) {
        error_ = "--" + std::string(name) + " takes a whole number from " + std::to_string(min) +
                 " to " + std::to_string(max);
        return std::nullopt;
    }
    return result;
}

int CliArgs::fail(std::string_view message) const {
    std::fprintf(stderr, "quorvex-cli %s: %.*s\n", command_.c_str(),
                 static_cast<int>(message.size()), message.data());
    return 2;
}

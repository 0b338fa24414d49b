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
                values_[std::string(name)].emplace_back();
            } else if (contains(valueOptions, name)) {
                if (i + 1 >= argc) {
                    error_ = "option --" + std::string(name) + " needs a value";
                } else {
                    values_[std::string(name)].emplace_back(argv[++i]);
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
    return it->second.back();
}

std::vector<std::string> CliArgs::values(std::string_view name) const {
    auto it = values_.find(name);
    return it == values_.end() ? std::vector<std::string>{} : it->second;
}

template <typename Ports>
std::optional<Ports> CliArgs::ports(std::string_view option) {
    Ports ports;
    for (const std::string& text : values(option)) {
        std::uint16_t port = 0;
        const char* end = text.data() + text.size();
        auto [ptr, ec] = std::from_chars(text.data(), end, port);
        if (ec != std::errc() || ptr != end || text.empty() || port == 0) {
            error_ = "--" + std::string(option) +
                     " takes a TCP port number from 1 to 65535, not '" + text + "'";
            return std::nullopt;
        }
        if (!ports.add(port)) {
            error_ = "at most " + std::to_string(Ports::kMaxAdded) + " ports can be added with --" +
                     std::string(option);
            return std::nullopt;
        }
    }
    return ports;
}

std::optional<WatchedPorts> CliArgs::watchedPorts() {
    return ports<WatchedPorts>("port");
}

std::optional<TlsPorts> CliArgs::tlsPorts() {
    return ports<TlsPorts>("tls-port");
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

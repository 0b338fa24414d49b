#pragma once

#include <cstdint>
#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/detect/TlsPorts.h"
#include "core/detect/WatchedPorts.h"

// Parses one subcommand's arguments: `--name VALUE` options, `--flag` switches, and
// positional words. Anything else is an error with a one-line message.
class CliArgs {
  public:
    CliArgs(std::string command, int argc, char** argv,
            std::initializer_list<std::string_view> valueOptions,
            std::initializer_list<std::string_view> flags, std::size_t maxPositional = 0);

    bool ok() const { return error_.empty(); }
    bool wantsHelp() const { return help_; }
    const std::string& error() const { return error_; }

    bool has(std::string_view name) const;
    // The option's last value.
    std::optional<std::string> value(std::string_view name) const;
    // Every value of a repeatable option, in the order given.
    std::vector<std::string> values(std::string_view name) const;
    const std::vector<std::string>& positional() const { return positional_; }

    // The option's value as a whole number in [min, max]; nullopt (and an error) otherwise.
    std::optional<std::uint64_t> number(std::string_view name, std::uint64_t min,
                                        std::uint64_t max);

    // The TCP ports of every `--port N` added to the three always watched; nullopt (and an
    // error) for a value that is no port, or too many of them.
    std::optional<WatchedPorts> watchedPorts();
    // The TLS ports: 443 and those of --tls-port; nullopt (and error()) for a bad value.
    std::optional<TlsPorts> tlsPorts();

    // Prints "quorvex-cli COMMAND: message" to stderr and returns exit status 2.
    int fail(std::string_view message) const;

  private:
    template <typename Ports>
    std::optional<Ports> ports(std::string_view option);

    std::string command_;
    std::map<std::string, std::vector<std::string>, std::less<>> values_;
    std::vector<std::string> positional_;
    std::string error_;
    bool help_ = false;
};

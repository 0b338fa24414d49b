#pragma once

#include <QString>

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

// A list of added TCP ports as the user edits it: numbers separated by blanks or commas
// ("8000 8080"). Shared by the watched ports and the TLS ports.
class PortListText {
  public:
    static QString join(std::span<const std::uint16_t> ports);

    // nullopt with `error` set for a word that is no port from 1 to 65535, or too many ports.
    // `Ports` is a port list whose add() refuses a port once it is full.
    template <typename Ports>
    static std::optional<Ports> parse(const QString& text, QString& error) {
        const std::optional<std::vector<std::uint16_t>> numbers = portNumbers(text, error);
        if (!numbers) {
            return std::nullopt;
        }
        Ports ports;
        for (std::uint16_t port : *numbers) {
            if (!ports.add(port)) {
                error = tooMany(Ports::kMaxAdded);
                return std::nullopt;
            }
        }
        return ports;
    }

  private:
    static std::optional<std::vector<std::uint16_t>> portNumbers(const QString& text,
                                                                 QString& error);
    static QString tooMany(std::size_t maxAdded);
};

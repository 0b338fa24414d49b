#pragma once

#include <cstdint>
#include <string>
#include <utility>

// What the capture engine reports to its owner: whether the capture runs, and why it ended
// when it ended by itself: a cause the front ends put into their own words, and the engine's
// message with the details.
struct CaptureStatus {
    enum State {
        kIdle,     // constructed or stopped
        kOpening,  // Start called, the capture thread opens the interface
        kRunning,  // the interface is open and datagrams are handed over
        kFailed,   // the interface could not be opened; the thread has ended
        kLost,     // capturing failed later (interface gone or down); the thread has ended
    };

    enum class Cause : std::uint8_t {
        kUnknown,               // none of the below: the message alone tells it
        kNoRights,              // may not capture on the interface
        kNoPromiscuousRights,   // may not put the interface into promiscuous mode
        kHelperNotPermitted,    // may not run the capture helper
        kHelperNotStarted,      // the capture helper could not be started for another reason
        kHelperMissing,         // no capture helper installed
        kAdapterDown,           // the interface is down
        kAdapterMissing,        // no interface of that name
        kNoAdapterWithAddress,  // no interface holds the chosen address
        kHelperEnded,           // the capture helper ended without a word
        kHelperMalformed,       // the capture helper sent what is not its format
    };
    static constexpr std::uint8_t kLastCause = static_cast<std::uint8_t>(Cause::kHelperMalformed);

    CaptureStatus() = default;
    CaptureStatus(State stateNow, std::string interfaceNamed, std::string messageText,
                  Cause causeOf = Cause::kUnknown)
        : state(stateNow),
          interfaceName(std::move(interfaceNamed)),
          message(std::move(messageText)),
          cause(causeOf) {}

    State state = kIdle;
    std::string interfaceName;
    std::string message;  // why it failed, in the engine's words; empty otherwise
    Cause cause = Cause::kUnknown;
};

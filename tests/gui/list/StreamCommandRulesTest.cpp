#include "gui/list/StreamCommandRules.h"

#include "core/detect/DetectedStream.h"

#include <gtest/gtest.h>

namespace {
using Rules = StreamCommandRules;

struct StateCase {
    int state;
    const char* scheme;
    bool save, abort, play;
    Rules::Command doubleClick;
    bool fileExists = true;
};

class StreamCommandRulesByState : public testing::TestWithParam<StateCase> {};

TEST_P(StreamCommandRulesByState, MenuAndDoubleClick) {
    const StateCase& c = GetParam();
    const auto states = Rules::menuStates(c.state, c.scheme, c.fileExists);
    EXPECT_EQ(states.save, c.save);
    EXPECT_EQ(states.abort, c.abort);
    EXPECT_EQ(states.play, c.play);
    EXPECT_EQ(Rules::doubleClickCommand(c.state, c.scheme, c.fileExists), c.doubleClick);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StreamCommandRulesByState,
    testing::Values(StateCase{kStateIdle, "http", true, false, false, Rules::kSave},
                    StateCase{kStateDownloading, "http", false, true, false, Rules::kNone},
                    StateCase{kStateEnded, "mms", true, false, true, Rules::kPlay},
                    StateCase{kStateIdle, "rtsp", true, false, false, Rules::kCopyUrl},
                    StateCase{kStateDownloading, "rtsp", false, true, false, Rules::kCopyUrl},
                    StateCase{kStateEnded, "rtsp", true, false, true, Rules::kCopyUrl},
                    StateCase{kStateIdle, "RTSP", true, false, false, Rules::kSave},
                    // The downloaded file has gone: nothing to play.
                    StateCase{kStateEnded, "http", true, false, false, Rules::kNone, false},
                    StateCase{kStateEnded, "rtsp", true, false, false, Rules::kCopyUrl, false},
                    // Waiting for its turn or paused: stopped like a running one.
                    StateCase{kStateWaiting, "http", false, true, false, Rules::kNone},
                    StateCase{kStatePaused, "http", false, true, false, Rules::kNone}));

// Pause for a running download that the session can pause; resume for a paused one.
TEST(StreamCommandRules, PauseAndResumeFollowTheState) {
    const struct {
        int state;
        bool pausable;
        bool pauses;
        bool resumes;
    } cases[] = {{kStateDownloading, true, true, false}, {kStateDownloading, false, false, false},
                 {kStatePaused, false, false, true},     {kStateWaiting, true, false, false},
                 {kStateIdle, true, false, false},       {kStateEnded, true, false, false}};
    for (const auto& c : cases) {
        EXPECT_EQ(Rules::pauses(c.state, c.pausable), c.pauses) << c.state << " " << c.pausable;
        EXPECT_EQ(Rules::resumes(c.state), c.resumes) << c.state;
    }
}

}  // namespace

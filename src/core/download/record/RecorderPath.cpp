#include "core/download/record/RecorderPath.h"

#include "core/session/TrustedProgramPath.h"

namespace {

#ifdef QUORVEX_INSTALLED_RECORDER
constexpr const char* kInstalled = QUORVEX_INSTALLED_RECORDER;
#else
constexpr const char* kInstalled = nullptr;
#endif
#if defined(QUORVEX_BUILD_TREE) && defined(QUORVEX_BUILD_TREE_RECORDER)
constexpr const char* kInBuildTree = QUORVEX_BUILD_TREE_RECORDER;
#else
constexpr const char* kInBuildTree = nullptr;
#endif

}  // namespace

std::vector<std::string> RecorderPath::candidates() {
    return TrustedProgramPath::candidates(kName, kInstalled, kInBuildTree);
}

std::string RecorderPath::find() {
    return TrustedProgramPath::firstTrusted(candidates());
}

#pragma once

#include <string>

// A recording's URL carries the login the user gave in its user-information, the only way the
// media library takes one; prompts and messages show it without.
namespace RecordLoginUrl {

// `url` with `user` and `password`, percent-encoded, in place of any login it held; `url` as
// it is when it has no "://".
std::string withLogin(const std::string& url, const std::string& user, const std::string& password);

// `url` without any login it holds.
std::string withoutLogin(const std::string& url);

}  // namespace RecordLoginUrl

#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/http/HttpRequestHead.h"

// Collects one request head's texts, each checked against HttpTextLimits as it arrives. One
// builder is reused for every head of a connection direction, so its strings keep their room.
class RequestHeadBuilder {
  public:
    void start(std::uint64_t stream);

    void setMethod(std::string_view value);
    void setScheme(std::string_view value);
    // The request's own authority (HTTP/2 :authority, an HTTP/1.x absolute target).
    void setAuthority(std::string_view value);
    // A Host field: the authority unless the request named one itself.
    void setHost(std::string_view value);
    void setPath(std::string_view value);
    void setReferer(std::string_view value);
    void setUserAgent(std::string_view value);
    // One cookie crumb or Cookie field; several are joined with "; ".
    void addCookie(std::string_view crumb);

    // An HTTP/2 or HTTP/3 field by its lower-case name, pseudo-fields included; others are
    // passed over.
    void takeHttp2Field(std::string_view name, std::string_view value);

    bool hasMethod() const { return !head_.method.empty() || methodBad_; }

    // The finished head numbered `index`, or nullptr when it cannot be reported: no method,
    // no path (except for CONNECT), or a method, authority or path that is too long or unclean.
    const HttpRequestHead* finish(std::uint64_t index);

  private:
    void assignAuthority(std::string_view value);

    HttpRequestHead head_;
    bool authorityGiven_ = false;
    bool methodBad_ = false;
    bool authorityBad_ = false;
    bool pathBad_ = false;
    bool cookieBad_ = false;
};

#pragma once

#include <string_view>

// The lines of a complete HTTP/1.x head: the start line, then "name: value" fields.
class Http1HeadLines {
  public:
    explicit Http1HeadLines(std::string_view head);

    std::string_view startLine() const { return startLine_; }

    // The next field, its value trimmed; false after the last. Lines without a colon and
    // folded continuation lines are passed over.
    bool next(std::string_view& name, std::string_view& value);

  private:
    std::string_view takeLine();

    std::string_view rest_;
    std::string_view startLine_;
};

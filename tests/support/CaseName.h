#pragma once

#include <string>

// Names each case of a parameterized test after its row's `name`.
struct CaseName {
    template <typename Info>
    std::string operator()(const Info& row) const {
        return std::string(row.param.name);
    }
};

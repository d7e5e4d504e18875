#pragma once

#include <gtest/gtest.h>
#include <string>

namespace fw::testing {

// Names each row of a parameterised suite by its `name` member. A named functor rather
// than a lambda per suite: the suite macro's own parameter would shadow the lambda's.
struct RowName {
    template <typename Row> std::string operator()(const ::testing::TestParamInfo<Row> &row) const {
        return std::string(row.param.name);
    }
};

} // namespace fw::testing

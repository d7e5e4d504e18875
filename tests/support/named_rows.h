#pragma once

#include <gtest/gtest.h>
#include <ostream>
#include <string>

namespace fw::testing {

// A row of a parameterised suite that carries its own name, given once where the row is
// written.
template <typename Row>
concept NamedRow = requires(const Row &row) {
    std::string(row.name);
};

// Names each case after its row: INSTANTIATE_TEST_SUITE_P(..., fw::testing::RowName()).
struct RowName {
    template <NamedRow Row>
    std::string operator()(const ::testing::TestParamInfo<Row> &info) const {
        return std::string(info.param.name);
    }
};

// Prints a named row by its name where a failure shows the parameter. GoogleTest finds
// PrintTo beside the row's type, so a test file brings this one into its own namespace
// with `using fw::testing::PrintTo;`.
template <NamedRow Row> void PrintTo(const Row &row, std::ostream *out) {
    *out << row.name;
}

} // namespace fw::testing

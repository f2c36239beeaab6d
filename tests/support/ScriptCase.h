#pragma once

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace orvan::testing {

// One scripted scenario of a parameterised test: its steps and the whole trace they must leave.
struct ScriptCase {
    const char* name;
    std::vector<std::string> steps;
    std::vector<std::string> trace;
};

inline void PrintTo(const ScriptCase& script, std::ostream* out) { *out << script.name; }
inline std::string scriptNumber(const ::testing::TestParamInfo<ScriptCase>& script) {
    return "Script" + std::to_string(script.index);
}

}  // namespace orvan::testing

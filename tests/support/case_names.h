#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <string_view>
#include <type_traits>

namespace glove::test {

// Text as a test name (letters, digits and underscores only): each run of other characters
// becomes one underscore, so "4800,N,8,1" reads 4800_N_8_1. Empty text is "Empty".
inline std::string asTestName(std::string_view text) {
    std::string name;
    bool gap = false;
    for (const char c : text) {
        if (std::isalnum(static_cast<unsigned char>(c)) != 0) {
            if (gap && !name.empty()) name += '_';
            name += c;
            gap = false;
        } else {
            gap = true;
        }
    }
    return name.empty() ? "Empty" : name;
}

// Names every case of a parametrised test by its `name` field, or by the text that is the case,
// so a test's name says what it checks and stays the same from build to build (gtest's own
// names are an index or a byte dump).
struct CaseName {
    template <class Param>
    std::string operator()(const ::testing::TestParamInfo<Param>& info) const {
        if constexpr (std::is_convertible_v<Param, std::string_view>) {
            return asTestName(info.param);
        } else {
            return asTestName(info.param.name);
        }
    }
};

// Names every case by one of its text fields that tells the cases apart:
// test::NamedBy<&Timing::settings>().
template <auto field>
struct NamedBy {
    template <class Param>
    std::string operator()(const ::testing::TestParamInfo<Param>& info) const {
        return asTestName(info.param.*field);
    }
};

// Names every case of a test over numbers by a word and the number: Numbered{"Byte"} names
// them Byte0, Byte1 and so on.
struct Numbered {
    const char* word;

    template <class Param>
    std::string operator()(const ::testing::TestParamInfo<Param>& info) const {
        return word + std::to_string(info.param);
    }
};

}  // namespace glove::test

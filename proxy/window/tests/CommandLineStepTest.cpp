#include <gtest/gtest.h>

#include "proxy/window/CommandLineStep.h"

namespace sitowiak::proxy {
namespace {

bool Step(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    return CommandLineStep(static_cast<int>(args.size()), argv.data()).has_value();
}

// Only the first argument, compared exactly, selects a special mode.
TEST(CommandLineStep, EverythingButTheExactModeWordsMeansNormalMode) {
    EXPECT_FALSE(Step({"sitowiak"}));
    EXPECT_FALSE(Step({"sitowiak", "-ZAREJESTRUJ"}));
    EXPECT_FALSE(Step({"sitowiak", "-NaInternet"}));
    EXPECT_FALSE(Step({"sitowiak", "-d/opt/sitowiak/"}));
    EXPECT_FALSE(Step({"sitowiak", "-d", "-zarejestruj"}));
    EXPECT_FALSE(Step({"sitowiak", "-zarejestruj "}));
}

}  // namespace
}  // namespace sitowiak::proxy

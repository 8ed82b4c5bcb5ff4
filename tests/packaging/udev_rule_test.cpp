// The udev rule against the device: it must grant the logged-in user access to the hidraw
// nodes of exactly the product IDs discovery looks for, through uaccess and nothing broader.
#include "device_state.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace {

struct Assignment {
    std::string key; // e.g. SUBSYSTEM, ATTRS{idProduct}
    std::string op;  // ==, !=, =, +=, -=, :=
    std::string value;
};
using Rule = std::vector<Assignment>;

// The rules of a file: one per line that is neither empty nor a comment.
std::vector<Rule> readRules(const std::string& path) {
    std::ifstream in(path);
    EXPECT_TRUE(in.good()) << path;
    const std::regex item(
        R"re(\s*([A-Z_]+(?:\{[^}]*\})?)\s*(==|!=|\+=|-=|:=|=)\s*"([^"]*)"\s*(,|$))re");
    std::vector<Rule> rules;
    std::string line;
    while (std::getline(in, line)) {
        if (line.find_first_not_of(" \t") == std::string::npos ||
            line[line.find_first_not_of(" \t")] == '#')
            continue;
        Rule rule;
        std::string rest = line;
        std::smatch m;
        while (!rest.empty() &&
               std::regex_search(rest, m, item, std::regex_constants::match_continuous)) {
            rule.push_back({m[1], m[2], m[3]});
            rest = m.suffix();
        }
        EXPECT_TRUE(rest.empty()) << "cannot read the rule: " << line;
        rules.push_back(rule);
    }
    return rules;
}

std::string hex4(std::uint16_t id) {
    std::array<char, 5> text{};
    std::snprintf(text.data(), text.size(), "%04x", id);
    return text.data();
}

const Assignment* find(const Rule& rule, const std::string& key, const std::string& op) {
    for (const Assignment& a : rule)
        if (a.key == key && a.op == op)
            return &a;
    return nullptr;
}

TEST(UdevRule, GrantsTheSeatUserAccessToBothOfTheTarvexsModes) {
    const auto rules = readRules(QUORVANE_UDEV_RULE);
    ASSERT_FALSE(rules.empty());
    std::set<std::string> products;
    for (const Rule& rule : rules) {
        const Assignment* subsystem = find(rule, "SUBSYSTEM", "==");
        ASSERT_NE(subsystem, nullptr);
        EXPECT_EQ(subsystem->value, "hidraw");
        const Assignment* product = find(rule, "ATTRS{idProduct}", "==");
        ASSERT_NE(product, nullptr);
        products.insert(product->value);
        const Assignment* tag = find(rule, "TAG", "+=");
        ASSERT_NE(tag, nullptr);
        EXPECT_EQ(tag->value, "uaccess");
    }
    // sysfs shows product IDs as four lower-case hex digits.
    const std::set<std::string> expected{hex4(quorvane::AppModeProductId),
                                         hex4(quorvane::BootModeProductId)};
    EXPECT_EQ(products, expected);
}

TEST(UdevRule, GrantsNothingBroaderThanTheSeat) {
    for (const Rule& rule : readRules(QUORVANE_UDEV_RULE))
        for (const Assignment& a : rule) {
            EXPECT_NE(a.key, "MODE") << "a mode opens the device to every user";
            EXPECT_NE(a.key, "GROUP");
            EXPECT_NE(a.key, "OWNER");
            EXPECT_NE(a.key, "RUN");
            if (a.key == "TAG") {
                EXPECT_EQ(a.op, "+=") << "the other tags must stay";
            }
        }
}

TEST(UdevRule, ComesBeforeTheSeatRulesThatApplyUaccess) {
    // 73-seat-late.rules turns the uaccess tag into the user's access; rules sort by name.
    const std::string name = std::filesystem::path(QUORVANE_UDEV_RULE).filename().string();
    EXPECT_LT(name, std::string("73-seat-late.rules"));
    EXPECT_EQ(name.substr(name.size() - 6), ".rules");
}

} // namespace

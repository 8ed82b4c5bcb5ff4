// The fault campaign: seeded scenarios, each checked against every invariant.
//   quorvane_campaign [--scenarios N] [--first SEED]   N scenarios from SEED on (2000 from 1)
//   quorvane_campaign --seed SEED                      one scenario, verbosely
// QUORVANE_CAMPAIGN_SEED=SEED in the environment also replays one scenario.
#include "invariants.h"
#include "runner.h"
#include "scenario.h"
#include "temp_dir.h"

#include <array>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>

namespace {

using namespace quorvane::campaign;

int usage() {
    std::cerr << "usage: quorvane_campaign [--scenarios N] [--first SEED] | --seed SEED\n";
    return 2;
}

bool parseNumber(const char* text, std::uint64_t& value) {
    try {
        std::size_t used = 0;
        value = std::stoull(text, &used, 0);
        return text[used] == '\0';
    } catch (const std::exception&) {
        return false;
    }
}

int replay(std::uint64_t seed, const std::filesystem::path& directory) {
    const Scenario sc = generateScenario(seed);
    std::cout << describe(sc) << "\n";
    ScenarioRun run(sc, directory);
    run.play();
    run.print(std::cout);
    const auto violations = checkInvariants(sc, run.observation());
    for (const auto& v : violations)
        std::cout << "VIOLATION " << v << "\n";
    std::cout << (violations.empty() ? "all invariants hold\n" : "FAILED\n");
    return violations.empty() ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    std::uint64_t scenarios = 2000;
    std::uint64_t first = 1;
    std::optional<std::uint64_t> single;
    if (const char* env = std::getenv("QUORVANE_CAMPAIGN_SEED"); env && *env) {
        std::uint64_t s = 0;
        if (!parseNumber(env, s))
            return usage();
        single = s;
    }
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        std::uint64_t value = 0;
        if (i + 1 >= argc || !parseNumber(argv[i + 1], value))
            return usage();
        ++i;
        if (arg == "--scenarios")
            scenarios = value;
        else if (arg == "--first")
            first = value;
        else if (arg == "--seed" || arg == "QUORVANE_CAMPAIGN_SEED")
            single = value;
        else
            return usage();
    }

    quorvane::test::TempDir dir;
    if (single)
        return replay(*single, dir.path());

    std::array<std::uint64_t, static_cast<std::size_t>(Outcome::Count)> tally{};
    std::uint64_t failures = 0;
    const auto start = std::chrono::steady_clock::now();
    for (std::uint64_t seed = first; seed < first + scenarios; ++seed) {
        const Scenario sc = generateScenario(seed);
        ScenarioRun run(sc, dir.path());
        run.play();
        ++tally[static_cast<std::size_t>(run.outcome())];
        const auto violations = checkInvariants(sc, run.observation());
        if (violations.empty())
            continue;
        ++failures;
        std::cout << "FAIL " << describe(sc) << "\n";
        for (const auto& v : violations)
            std::cout << "  " << v << "\n";
        std::cout << "  replay: QUORVANE_CAMPAIGN_SEED=" << seed << " " << argv[0] << "\n";
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::cout << scenarios << " scenarios (seeds " << first << " to " << first + scenarios - 1
              << "), " << failures << " failed, " << seconds << " s, "
              << static_cast<double>(scenarios) / seconds << " scenarios/s\n";
    bool vacuous = false;
    for (std::size_t o = 0; o < tally.size(); ++o) {
        std::cout << "  " << outcomeName(static_cast<Outcome>(o)) << ": " << tally[o] << "\n";
        // A long enough campaign that never reaches some ending is testing less than it claims.
        if (scenarios >= 1000 && tally[o] == 0) {
            std::cout << "FAIL the scenarios never ended as: "
                      << outcomeName(static_cast<Outcome>(o)) << "\n";
            vacuous = true;
        }
    }
    return failures == 0 && !vacuous ? 0 : 1;
}

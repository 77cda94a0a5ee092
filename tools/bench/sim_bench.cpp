// qorvalin-sim-bench [--runs N] [--each] [--check] SCENARIO-DIR: the check run alone, repeated
// on every golden scenario inside the simulator, with what it asked of the platform and how long
// it took, per family of scenarios (--each: per scenario); --check holds the port operations to
// the golden reports.
#include "sim/report_out.h"
#include "sim/scenario.h"
#include "platform/sim/sim.h"
#include "tests/support/fake.h"
#include "verdict/verdict.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <numeric>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

struct Result {
    std::string name;
    // The report's columns: port operations (writes plus reads), port faults, device opens,
    // library loads, seam calls, and microseconds per run (the median).
    std::array<double, 6> columns{};
    CheckRatings ratings{};  // of the last run
};

// Every run starts from the scenario's machine as a fresh process would; only the check run
// itself is timed. Each run must ask exactly what the first one asked: anything else means
// state left behind from an earlier run.
static bool Measure(const SimMachine &scenario, int runs, Result *result)
{
    std::vector<double> times;
    std::array<uint32_t, 6> first{};
    for (int run = 0; run < runs; ++run) {
        Sim = scenario;
        ResetCheckRun();
        auto start = std::chrono::steady_clock::now();
        CheckRatings ratings = PerformChecks(TheWindow);
        auto stop = std::chrono::steady_clock::now();
        result->ratings = ratings;
        times.push_back(std::chrono::duration<double, std::micro>(stop - start).count());
        std::array<uint32_t, 6> asked = {Sim.portWrites, Sim.portReads, Sim.portFaults,
                                         Sim.calls[SIM_OPEN_DEVICE], Sim.calls[SIM_LOAD_LIBRARY],
                                         SimTotalCalls()};
        if (run > 0 && asked != first) {
            fprintf(stderr, "FAIL %s: run %d asked other things than run 1\n",
                    result->name.c_str(), run + 1);
            return false;
        }
        first = asked;
    }
    std::nth_element(times.begin(), times.begin() + runs / 2, times.end());
    result->columns = {double(first[0] + first[1]), double(first[2]), double(first[3]),
                       double(first[4]), double(first[5]), times[runs / 2]};
    return true;
}

// Whether the golden report holds the "ports:" line of the simulator's own report of the last
// run.
static bool PortsAsReported(const fs::path &expected, const Result &result)
{
    std::ifstream in(expected);
    std::stringstream golden;
    golden << in.rdbuf();
    std::string report = FormatReport(Sim, result.ratings);
    size_t start = report.rfind("\nports: ") + 1;
    std::string ports = report.substr(start, report.find('\n', start) - start);
    if (golden.str().find("\n" + ports + "\n") != std::string::npos)
        return true;
    fprintf(stderr, "FAIL %s: its report does not say \"%s\"\n", result.name.c_str(),
            ports.c_str());
    return false;
}

// The mean of values, with the lowest and highest in brackets (for counts only where they differ).
static void PrintMean(const std::vector<double> &values, const char *format, bool counts)
{
    auto [low, high] = std::minmax_element(values.begin(), values.end());
    if (counts && *low == *high)
        printf(" %.0f |", *low);
    else
        printf(format, std::accumulate(values.begin(), values.end(), 0.0) / values.size(), *low,
               *high);
}

int main(int argc, char **argv)
{
    int runs = 2000;
    bool each = false, check = false, usage = false;
    const char *root = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--runs") == 0 && i + 1 < argc)
            runs = atoi(argv[++i]);
        else if (strcmp(argv[i], "--each") == 0)
            each = true;
        else if (strcmp(argv[i], "--check") == 0)
            check = true;
        else if (argv[i][0] != '-' && root == nullptr)
            root = argv[i];
        else
            usage = true;
    }
    if (usage || root == nullptr || runs < 1) {
        fprintf(stderr, "usage: qorvalin-sim-bench [--runs N] [--each] [--check] SCENARIO-DIR\n");
        return 2;
    }

    // Scenarios that the simulator rejects have an .error file instead of a report.
    std::vector<fs::path> files;
    for (const auto &entry : fs::recursive_directory_iterator(root)) {
        if (entry.path().extension() == ".json" &&
            fs::exists(fs::path(entry.path()).replace_extension(".expected")))
            files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    if (files.empty()) {
        fprintf(stderr, "qorvalin-sim-bench: no scenarios with reports under %s\n", root);
        return 2;
    }
    std::map<std::string, std::vector<Result>> families;
    int failures = 0;
    for (const fs::path &file : files) {
        SimReset();
        SimMachine scenario;
        std::string error;
        if (!ReadScenarioFile(file.string(), &scenario, &error)) {
            fprintf(stderr, "qorvalin-sim-bench: %s\n", error.c_str());
            return 2;
        }
        std::string family = file.parent_path().filename().string();
        Result result{family + "/" + file.stem().string()};
        if (!Measure(scenario, runs, &result)) {
            ++failures;
            continue;
        }
        if (check && !PortsAsReported(fs::path(file).replace_extension(".expected"), result))
            ++failures;
        families[each ? result.name : family].push_back(result);
    }

    printf("Check runs in the simulator: %d runs of each of %zu scenarios.\n\n", runs,
           files.size());
    printf("| family | scenarios | port operations | port faults | device opens | "
           "library loads | seam calls | us per run (median) |\n");
    printf("|---|---|---|---|---|---|---|---|\n");
    for (const auto &[family, results] : families) {
        printf("| %s | %zu |", family.c_str(), results.size());
        for (size_t column = 0; column < 6; ++column) {
            std::vector<double> values;
            for (const Result &r : results)
                values.push_back(r.columns[column]);
            bool count = column < 5;
            PrintMean(values, count ? " %.0f (%.0f-%.0f) |" : " %.1f (%.1f-%.1f) |", count);
        }
        printf("\n");
    }
    printf("\nCounts are per run; a family's figure is the mean over its scenarios with the "
           "lowest and highest in brackets. Port operations are writes plus reads, seam calls "
           "every call through the platform seam, ports and dialog texts included.\n");
    return failures == 0 ? 0 : 1;
}

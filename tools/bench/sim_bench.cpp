// qorvalin-sim-bench: the check run alone, repeated on every golden scenario inside the
// simulator, with what it asked of the platform and how long it took.
#include "sim/scenario.h"
#include "platform/sim/sim.h"
#include "tests/support/fake.h"
#include "verdict/verdict.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace fs = std::filesystem;

struct Counts {
    uint32_t portWrites = 0;
    uint32_t portReads = 0;
    uint32_t portFaults = 0;
    uint32_t deviceOpens = 0;
    uint32_t libraryLoads = 0;
    uint32_t seamCalls = 0;
};

static bool operator==(const Counts &a, const Counts &b)
{
    return a.portWrites == b.portWrites && a.portReads == b.portReads &&
           a.portFaults == b.portFaults && a.deviceOpens == b.deviceOpens &&
           a.libraryLoads == b.libraryLoads && a.seamCalls == b.seamCalls;
}

struct Result {
    std::string family;
    std::string name;
    Counts counts;
    double medianMicroseconds = 0;
    double meanMicroseconds = 0;
};

static Counts CountsOf(const SimMachine &machine)
{
    Counts c;
    c.portWrites = machine.portWrites;
    c.portReads = machine.portReads;
    c.portFaults = machine.portFaults;
    c.deviceOpens = machine.calls[SIM_OPEN_DEVICE];
    c.libraryLoads = machine.calls[SIM_LOAD_LIBRARY];
    c.seamCalls = SimTotalCalls();
    return c;
}

// The "ports:" line of the golden report: what the simulator itself counted in one run.
static bool ExpectedPorts(const fs::path &expected, Counts *out)
{
    std::ifstream in(expected);
    std::string line;
    while (std::getline(in, line)) {
        unsigned writes, reads, faults;
        if (sscanf(line.c_str(), "ports: writes=%u reads=%u faults=%u", &writes, &reads,
                   &faults) == 3) {
            out->portWrites = writes;
            out->portReads = reads;
            out->portFaults = faults;
            return true;
        }
    }
    return false;
}

// Every run starts from the scenario's machine as a fresh process would; only the check run
// itself is timed. Each run must ask exactly what the first one asked: anything else means
// state left behind from an earlier run.
static bool Measure(const SimMachine &scenario, int runs, Result *result, std::string *problem)
{
    std::vector<double> times;
    times.reserve(runs);
    for (int run = 0; run < runs; ++run) {
        Sim = scenario;
        ResetCheckRun();
        auto start = std::chrono::steady_clock::now();
        PerformChecks(TheWindow);
        auto stop = std::chrono::steady_clock::now();
        times.push_back(std::chrono::duration<double, std::micro>(stop - start).count());
        Counts counts = CountsOf(Sim);
        if (run == 0) {
            result->counts = counts;
        } else if (!(counts == result->counts)) {
            *problem = "run " + std::to_string(run + 1) + " asked other things than run 1";
            return false;
        }
    }
    double total = 0;
    for (double t : times)
        total += t;
    result->meanMicroseconds = total / runs;
    std::nth_element(times.begin(), times.begin() + runs / 2, times.end());
    result->medianMicroseconds = times[runs / 2];
    return true;
}

static std::vector<fs::path> ScenarioFiles(const fs::path &root)
{
    std::vector<fs::path> files;
    for (const auto &entry : fs::recursive_directory_iterator(root)) {
        const fs::path &path = entry.path();
        // Scenarios that the simulator rejects have an .error file instead of a report.
        bool reported = fs::exists(fs::path(path).replace_extension(".expected"));
        if (path.extension() == ".json" && reported)
            files.push_back(path);
    }
    std::sort(files.begin(), files.end());
    return files;
}

static void PrintCounts(const Counts &c)
{
    printf(" %u | %u | %u | %u | %u |", c.portWrites + c.portReads, c.portFaults, c.deviceOpens,
           c.libraryLoads, c.seamCalls);
}

static void PrintRange(uint32_t (*field)(const Counts &), const std::vector<Result> &results)
{
    uint32_t low = UINT32_MAX, high = 0;
    double total = 0;
    for (const Result &r : results) {
        uint32_t v = field(r.counts);
        low = std::min(low, v);
        high = std::max(high, v);
        total += v;
    }
    if (low == high)
        printf(" %u |", low);
    else
        printf(" %.0f (%u-%u) |", total / results.size(), low, high);
}

static void Usage()
{
    fprintf(stderr, "usage: qorvalin-sim-bench [--runs N] [--each] [--check] SCENARIO-DIR\n");
    exit(2);
}

int main(int argc, char **argv)
{
    int runs = 2000;
    bool each = false;
    bool check = false;
    const char *root = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--runs") == 0 && i + 1 < argc) {
            runs = atoi(argv[++i]);
            if (runs < 1)
                Usage();
        } else if (strcmp(argv[i], "--each") == 0) {
            each = true;
        } else if (strcmp(argv[i], "--check") == 0) {
            check = true;
        } else if (argv[i][0] != '-' && root == nullptr) {
            root = argv[i];
        } else {
            Usage();
        }
    }
    if (root == nullptr)
        Usage();

    std::vector<fs::path> files = ScenarioFiles(root);
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
        Result result;
        result.family = file.parent_path().filename().string();
        result.name = file.stem().string();
        std::string problem;
        if (!Measure(scenario, runs, &result, &problem)) {
            fprintf(stderr, "FAIL %s/%s: %s\n", result.family.c_str(), result.name.c_str(),
                    problem.c_str());
            ++failures;
            continue;
        }
        Counts expected;
        if (check && (!ExpectedPorts(fs::path(file).replace_extension(".expected"), &expected) ||
                      expected.portWrites != result.counts.portWrites ||
                      expected.portReads != result.counts.portReads ||
                      expected.portFaults != result.counts.portFaults)) {
            fprintf(stderr,
                    "FAIL %s/%s: ports writes=%u reads=%u faults=%u, its report says "
                    "writes=%u reads=%u faults=%u\n",
                    result.family.c_str(), result.name.c_str(), result.counts.portWrites,
                    result.counts.portReads, result.counts.portFaults, expected.portWrites,
                    expected.portReads, expected.portFaults);
            ++failures;
        }
        families[result.family].push_back(result);
    }

    printf("Check runs in the simulator: %d runs of each of %zu scenarios.\n\n", runs,
           files.size());
    printf("| family | scenarios | port operations | port faults | device opens | "
           "library loads | seam calls | us per run (median) |\n");
    printf("|---|---|---|---|---|---|---|---|\n");
    for (const auto &[family, results] : families) {
        printf("| %s | %zu |", family.c_str(), results.size());
        PrintRange([](const Counts &c) { return c.portWrites + c.portReads; }, results);
        PrintRange([](const Counts &c) { return c.portFaults; }, results);
        PrintRange([](const Counts &c) { return c.deviceOpens; }, results);
        PrintRange([](const Counts &c) { return c.libraryLoads; }, results);
        PrintRange([](const Counts &c) { return c.seamCalls; }, results);
        std::vector<double> medians;
        for (const Result &r : results)
            medians.push_back(r.medianMicroseconds);
        std::sort(medians.begin(), medians.end());
        double total = 0;
        for (double m : medians)
            total += m;
        printf(" %.1f (%.1f-%.1f) |\n", total / medians.size(), medians.front(), medians.back());
    }
    printf("\nCounts are per run; a family's figure is the mean over its scenarios with the "
           "lowest and highest in brackets. Port operations are writes plus reads, seam calls "
           "every call through the platform seam, ports and dialog texts included.\n");
    if (each) {
        printf("\n| scenario | port operations | port faults | device opens | library loads | "
               "seam calls | us per run (median) | us per run (mean) |\n");
        printf("|---|---|---|---|---|---|---|---|\n");
        for (const auto &[family, results] : families) {
            for (const Result &r : results) {
                printf("| %s/%s |", family.c_str(), r.name.c_str());
                PrintCounts(r.counts);
                printf(" %.2f | %.2f |\n", r.medianMicroseconds, r.meanMicroseconds);
            }
        }
    }
    return failures == 0 ? 0 : 1;
}

// libFuzzer target: arbitrary bytes as a scenario file. What the reader accepts runs as a whole
// check run in the simulator, with one platform failure injected where the input's hash points,
// and must keep the invariants; what it refuses must say why. QVDUMP's recording of an accepted
// machine must be accepted too, be recorded again as the same text and, without the failure,
// replay to the same report.
#include "sim/report_out.h"
#include "sim/scenario.h"
#include "tests/support/fake.h"
#include "tests/support/invariants.h"

#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>

// FNV-1a: the same input always injects the same failure, so every finding replays.
static uint32_t Hash(const uint8_t *data, size_t size)
{
    uint32_t hash = 2166136261u;
    for (size_t i = 0; i < size; ++i)
        hash = (hash ^ data[i]) * 16777619u;
    return hash;
}

// A finding: said on standard error, and the input kept by libFuzzer.
[[noreturn]] static void Finding(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    vfprintf(stderr, format, args);
    va_end(args);
    abort();
}

static std::string Report(const SimMachine &machine)
{
    Sim = machine;
    ResetCheckRun();
    return FormatReport(Sim, PerformChecks(TheWindow));
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string name = "fuzz.json";
    std::string text((const char *)data, size);
    SimReset();
    std::string error;
    if (!ParseScenario(text, name, &Sim, &error)) {
        if (error.compare(0, name.size() + 2, name + ": ") != 0 || error.size() <= name.size() + 2)
            Finding("a refused scenario without a proper message: \"%s\"\n", error.c_str());
        return 0;
    }

    const SimMachine machine = Sim;
    std::string recording = Recording();
    SimMachine replayed;
    if (!ParseScenario(recording, "recording", &replayed, &error))
        Finding("the recording is refused: %s\n%s", error.c_str(), recording.c_str());
    // Read and recorded again, it is the same text.
    Sim = replayed;
    std::string again = Recording();
    if (WithoutWhys(again) != WithoutWhys(recording))
        Finding("the recording recorded again differs:\n%s\nrecording:\n%s", again.c_str(),
                recording.c_str());
    // Ports taken away in the middle of a run are taken at the n-th access of whoever asks.
    if (machine.portsDeniedFrom <= 1) {
        std::string expected = Report(machine), replay = Report(replayed);
        if (replay != expected)
            Finding("the recording replays otherwise:\n%s\nrecording:\n%s", replay.c_str(),
                    recording.c_str());
    }
    Sim = machine;

    // One run in four has no failure; the others fail one operation at one of its first four
    // calls or at every call.
    uint32_t hash = Hash(data, size);
    if (hash % 4 != 0)
        SimFailCall((SimOp)((hash >> 2) % SIM_OP_COUNT), (hash >> 10) % 5);

    ResetCheckRun();
    // libFuzzer's own -timeout catches a run that does not end.
    CheckRatings ratings = PerformChecks(TheWindow);
    std::vector<std::string> problems = CheckRunInvariants(ratings);
    std::string report = FormatReport(Sim, ratings);
    if (!problems.empty()) {
        for (const std::string &problem : problems)
            fprintf(stderr, "invariant broken: %s\n", problem.c_str());
        Finding("report:\n%s", report.c_str());
    }
    return 0;
}

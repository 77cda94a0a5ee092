// libFuzzer target: arbitrary bytes as a scenario file. What the reader accepts runs as a whole
// check run in the simulator, with one platform failure injected where the input's hash points,
// and must keep the invariants; what it refuses must say why. QVDUMP's recording of an accepted
// machine must be accepted too, be recorded again as the same text and, without the failure,
// replay to the same report.
#include "dump/record.h"
#include "sim/report_out.h"
#include "sim/scenario.h"
#include "tests/support/fake.h"
#include "tests/support/invariants.h"

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

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string name = "fuzz.json";
    std::string text((const char *)data, size);
    SimReset();
    std::string error;
    if (!ParseScenario(text, name, &Sim, &error)) {
        if (error.compare(0, name.size() + 2, name + ": ") != 0 || error.size() <= name.size() + 2) {
            fprintf(stderr, "a refused scenario without a proper message: \"%s\"\n",
                    error.c_str());
            abort();
        }
        return 0;
    }

    const SimMachine machine = Sim;
    std::string recording;
    RecordMachine([](void *to, const char *piece, uint32_t length) {
        ((std::string *)to)->append(piece, length);
    }, &recording);
    SimMachine replayed;
    if (!ParseScenario(recording, "recording", &replayed, &error)) {
        fprintf(stderr, "the recording is refused: %s\n%s", error.c_str(), recording.c_str());
        abort();
    }
    // Read and recorded again, it is the same text.
    Sim = replayed;
    std::string again;
    RecordMachine([](void *to, const char *piece, uint32_t length) {
        ((std::string *)to)->append(piece, length);
    }, &again);
    if (WithoutWhys(again) != WithoutWhys(recording)) {
        fprintf(stderr, "the recording recorded again differs:\n%s\nrecording:\n%s",
                again.c_str(), recording.c_str());
        abort();
    }
    // Ports taken away in the middle of a run are taken at the n-th access of whoever asks.
    if (machine.portsDeniedFrom <= 1) {
        std::string reports[2];
        const SimMachine *machines[2] = {&machine, &replayed};
        for (int i = 0; i < 2; ++i) {
            Sim = *machines[i];
            ResetCheckRun();
            reports[i] = FormatReport(Sim, PerformChecks(TheWindow));
        }
        if (reports[0] != reports[1]) {
            fprintf(stderr, "the recording replays otherwise:\n%s\nrecording:\n%s",
                    reports[1].c_str(), recording.c_str());
            abort();
        }
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
        fprintf(stderr, "report:\n%s", report.c_str());
        abort();
    }
    return 0;
}

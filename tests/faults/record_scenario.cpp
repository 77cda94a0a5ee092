// qorvalin_record_scenario SCENARIO.json: what QVDUMP's recorder writes of the machine the
// scenario describes, on standard output. It writes a scenario of tests/scenarios/recorded/
// once, from the machine written by hand in any form; the recorder's tests then hold the
// recorder to that file (read it, record it, and the text is the file's again).
#include "tests/support/invariants.h"

#include "sim/scenario.h"

#include <stdio.h>

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: qorvalin_record_scenario SCENARIO.json\n");
        return 2;
    }
    std::string error;
    if (!ReadScenarioFile(argv[1], &Sim, &error)) {
        fprintf(stderr, "%s\n", error.c_str());
        return 2;
    }
    std::string recording = RecordWithin(20, argv[1]);
    return fwrite(recording.data(), 1, recording.size(), stdout) == recording.size() ? 0 : 1;
}

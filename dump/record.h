// QVDUMP's recorder: asks the machine what Qorvalin asks it and writes the answers, raw, as a
// scenario file that qorvalin-sim replays.
#ifndef QORVALIN_RECORD_H
#define QORVALIN_RECORD_H

#include <stdint.h>

enum {
    // The deepest device tree a scenario holds, the root's level counted: deeper nodes are not
    // recorded. Real trees are a dozen levels deep.
    SCENARIO_TREE_DEPTH = 256,
};

// Receives the scenario's text piece by piece, in order.
typedef void (*RecordWriter)(void *context, const char *text, uint32_t size);

void RecordMachine(RecordWriter write, void *context);

#endif

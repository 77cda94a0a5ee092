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

// Writes the recording: it starts with RecordingHead, which says what the file is.
void RecordMachine(RecordWriter write, void *context);

const char RecordingHead[] = "{\n  \"why\": \"Recorded by QVDUMP.EXE:";

// Whether a file that starts with these bytes is a recording (with LF or CR LF line ends).
bool IsRecording(const char *start, uint32_t size);

#endif

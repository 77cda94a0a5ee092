// The animated status icon beside the headline: the verdict's 16 frames and the order they pulse in.
#ifndef QORVALIN_ANIMATION_H
#define QORVALIN_ANIMATION_H

#include "platform/platform.h"

#include "art_names.h"

#include <stdint.h>

enum {
    VERDICT_FRAME_COUNT = ART_FRAME_COUNT,
    ICON_SEQUENCE_LENGTH = 51,
};

// Entry k - 1 holds frame k of the verdict's set; empty where a frame did not load.
extern IconHandle VerdictIcons[VERDICT_FRAME_COUNT];
// Built on the first tick from VerdictIcons, so that a tick only reads a ready handle.
extern IconHandle IconSequence[ICON_SEQUENCE_LENGTH];
// -1 until the first tick; afterwards the position the next tick shows.
extern int32_t IconSequencePos;

// Loads the frames named by the pattern ("USBNO%d" ...) and shows frame 1.
void LoadVerdictIcons(Window window, const char *framePattern);
void StartIconTimer(Window window);

#endif

// The animated status icon: frames loaded once per verdict, a table of handles, one frame a tick.
#include "verdict/animation.h"

#include "report/controls.h"
#include "verdict/verdict.h"

#include <string.h>

enum {
    ICON_TIMER_ID = 1,
    ICON_TIMER_PERIOD_MS = 150,
    FRAME_NAME_SIZE = 16,
    RESTING_TICKS = 10,
};

IconHandle VerdictIcons[VERDICT_FRAME_COUNT];
IconHandle IconSequence[ICON_SEQUENCE_LENGTH];
int32_t IconSequencePos = -1;

static void FormatFrameName(char *out, const char *pattern, ...)
{
    va_list args;
    va_start(args, pattern);
    PlatformFormat(out, FRAME_NAME_SIZE, pattern, args);
    va_end(args);
}

void LoadVerdictIcons(Window window, const char *framePattern)
{
    for (int frame = 1; frame <= VERDICT_FRAME_COUNT; ++frame) {
        char name[FRAME_NAME_SIZE];
        FormatFrameName(name, framePattern, frame);
        VerdictIcons[frame - 1] = PlatformLoadIcon(name);
    }
    PlatformSetControlIcon(window, IDC_STATUS_ICON, VerdictIcons[0]);
}

void StartIconTimer(Window window)
{
    PlatformStartTimer(window, ICON_TIMER_ID, ICON_TIMER_PERIOD_MS);
}

// Light at rest, the dark shade sweeping in, dark at rest, the shade withdrawing; the wrap back
// to the first position supplies the final light frame.
static void BuildIconSequence()
{
    const int last = VERDICT_FRAME_COUNT - 1;
    int pos = 0;
    for (int i = 0; i < RESTING_TICKS; ++i)
        IconSequence[pos++] = VerdictIcons[0];
    for (int frame = 0; frame <= last; ++frame)
        IconSequence[pos++] = VerdictIcons[frame];
    for (int i = 0; i < RESTING_TICKS; ++i)
        IconSequence[pos++] = VerdictIcons[last];
    for (int frame = last; frame >= 1; --frame)
        IconSequence[pos++] = VerdictIcons[frame];
}

void AdvanceVerdictIcon(Window window)
{
    if (IconSequencePos == -1) {
        BuildIconSequence();
        IconSequencePos = 0;
    }
    IconHandle icon = IconSequence[IconSequencePos];
    ++IconSequencePos;
    PlatformSetControlIcon(window, IDC_STATUS_ICON, icon);
    if (IconSequencePos == ICON_SEQUENCE_LENGTH)
        IconSequencePos = 0;
}

// The frames are shared icons of the module and live as long as it does, so nothing is
// destroyed; dropping every copy of the handles and the built sequence leaves the state as it
// was before any verdict, which also lets a window that never got one go away cleanly.
void ReleaseVerdictIcons()
{
    memset(VerdictIcons, 0, sizeof VerdictIcons);
    memset(IconSequence, 0, sizeof IconSequence);
    IconSequencePos = -1;
}

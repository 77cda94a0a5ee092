/* windump: what windows show, one line each, for the window reader and the ReactOS driver. */
#ifndef QORVALIN_WINDUMP_H
#define QORVALIN_WINDUMP_H

#include <windows.h>
#include <stdio.h>

/*
 * The lines, their fields separated by TABs:
 *   window  hwnd= pid= exe= class= title= visible= enabled= rect=l,t,r,b client=l,t,r,b
 *           style= owner= focus= active= xwin=
 *   control top= hwnd= parent= id= class= text= visible= enabled= rect= style=
 *   item    hwnd= index= text=
 *   version major= minor= build= platform= csd=     (or: version failed=1)
 * Each window line is followed by its child controls and, for list boxes, their items. Texts
 * are code page 1252 with CR, LF, TAB, backslash and every byte outside 0x20..0x7E escaped as
 * the simulator escapes its report. Lines end with "\n", so a stream in text mode gives CR LF.
 */

/* The bytes, escaped as the texts above. */
void WindumpEscaped(FILE *out, const char *bytes, int count);

/* The version record that GetVersionExA gives this program. */
void WindumpVersion(FILE *out);

/* Whether list items are fetched through a buffer in the list box's own process: for systems
 * that hand LB_GETTEXT's address to another process unchanged (ReactOS), where the list box
 * would write the text into its own memory at that address. Off by default. */
void WindumpItemsThroughOwnBuffer(BOOL on);

/* Takes a list of the running processes; the image name of process pid in the last one, or "". */
void WindumpLoadProcesses(void);
const char *WindumpProcessName(DWORD pid);

/* Every top-level window of the processes whose image is named exe (NULL: any) and whose id
 * is pid (0: any), with its controls and list items. */
void WindumpWindows(FILE *out, const char *exe, DWORD pid);

#endif

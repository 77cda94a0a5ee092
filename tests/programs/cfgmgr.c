/* A stand-in "CfgMgr32.dll" for tests under Wine: the five device-tree functions with their
 * Windows signatures and return codes, serving a tree read from the file that
 * QORVALIN_CFGMGR_TREE names. With QORVALIN_CFGMGR_LOG set, every call is appended to that
 * file, one line each, so a test can see how the program used the library.
 *
 * Tree file, one item a line (lines starting with # and empty lines are skipped):
 *   locate fail           locating the root fails (CR_NO_SUCH_DEVNODE)
 *   node DEPTH            the next node, in pre-order; the root has depth 0 and comes first
 *   driver TEXT           the node's CM_DRP_DRIVER
 *   hardwareId TEXT       one more string of its CM_DRP_HARDWAREID multi-string (a node's
 *                         hardwareId lines stand together)
 *   description TEXT      its CM_DRP_DEVICEDESC
 * TEXT runs to the end of the line; \\ stands for a backslash and \xhh for any byte.
 */
#define CMAPI __declspec(dllexport)
#include <windows.h>
#include <cfgmgr32.h>
#include <ctype.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>

#define MAX_NODES 256
#define POOL_SIZE 65536
#define NO_NODE (-1)
/* Handles are not indexes, so a caller that makes up its own is caught. */
#define HANDLE_BASE 0x100

enum { PROP_DESCRIPTION, PROP_HARDWARE_ID, PROP_DRIVER, PROP_COUNT };
/* Each property's word in the tree file and its CM_DRP_ number. */
static const struct { const char *name; ULONG code; } Properties[PROP_COUNT] = {
    {"description ", CM_DRP_DEVICEDESC}, {"hardwareId ", CM_DRP_HARDWAREID}, {"driver ", CM_DRP_DRIVER}};

/* A property's text in the pool; its size counts every terminator. */
typedef struct Property { BOOL present; ULONG offset, size; } Property;
typedef struct Node { int depth, parent, child, sibling; Property property[PROP_COUNT]; } Node;

static Node Nodes[MAX_NODES];
static int NodeCount;
static BOOL LocateFails;
static char Pool[POOL_SIZE];
static ULONG PoolUsed;
static char LogPath[MAX_PATH];

static void Log(const char *format, ...)
{
    char line[512];
    va_list args;
    DWORD written;
    int length;
    HANDLE file = LogPath[0] ? CreateFileA(LogPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                           NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL)
                             : INVALID_HANDLE_VALUE;

    if (file == INVALID_HANDLE_VALUE)
        return;
    va_start(args, format);
    length = vsnprintf(line, sizeof(line) - 1, format, args);
    va_end(args);
    if (length < 0 || length > (int)sizeof(line) - 2)
        length = sizeof(line) - 2;
    line[length++] = '\n';
    WriteFile(file, line, length, &written, NULL);
    CloseHandle(file);
}

static BOOL Put(char c)
{
    if (PoolUsed >= POOL_SIZE)
        return FALSE;
    Pool[PoolUsed++] = c;
    return TRUE;
}

/* Appends the unescaped text and a NUL to the pool; FALSE on a bad escape or a full pool. */
static BOOL AddText(const char *text, const char *end)
{
    while (text < end) {
        char c = *text++;
        if (c == '\\' && text < end && *text == '\\')
            text++;
        else if (c == '\\' && end - text >= 3 && text[0] == 'x' &&
                 isxdigit((unsigned char)text[1]) && isxdigit((unsigned char)text[2])) {
            char hex[3] = {text[1], text[2], 0};
            c = (char)strtoul(hex, NULL, 16);
            text += 3;
        } else if (c == '\\')
            return FALSE;
        if (!Put(c))
            return FALSE;
    }
    return Put(0);
}

/* Links a new node under the last node of the depth above it, as the last of its children. */
static BOOL AddNode(int depth)
{
    int parent = NO_NODE;
    int i;

    if (NodeCount == MAX_NODES || (NodeCount == 0) != (depth == 0) || depth < 0)
        return FALSE;
    if (depth > 0) {
        for (i = NodeCount - 1; i >= 0 && Nodes[i].depth >= depth; i--)
            ;
        if (i < 0 || Nodes[i].depth != depth - 1)
            return FALSE;
        parent = i;
    }
    Nodes[NodeCount] = (Node){.depth = depth, .parent = parent, .child = NO_NODE, .sibling = NO_NODE};
    if (parent != NO_NODE) {
        int *link = &Nodes[parent].child;
        while (*link != NO_NODE)
            link = &Nodes[*link].sibling;
        *link = NodeCount;
    }
    NodeCount++;
    return TRUE;
}

static BOOL ParseLine(const char *line, const char *end)
{
    Node *node = NodeCount ? &Nodes[NodeCount - 1] : NULL;
    int i;

    if (line == end || *line == '#')
        return TRUE;
    if (end - line == 11 && !memcmp(line, "locate fail", 11)) {
        LocateFails = TRUE;
        return TRUE;
    }
    if (end - line > 5 && !memcmp(line, "node ", 5)) {
        int depth = 0;
        for (line += 5; line < end && *line >= '0' && *line <= '9'; line++)
            depth = depth * 10 + (*line - '0');
        return line == end && AddNode(depth);
    }
    for (i = 0; i < PROP_COUNT; i++) {
        size_t length = strlen(Properties[i].name);
        Property *property;
        if ((size_t)(end - line) < length || memcmp(line, Properties[i].name, length))
            continue;
        if (!node)
            return FALSE;
        property = &node->property[i];
        if (property->present) {
            /* Only the hardware IDs take more than one line: each string goes in before the
             * final NUL of the multi-string, which must be the last thing in the pool. */
            if (i != PROP_HARDWARE_ID || property->offset + property->size != PoolUsed)
                return FALSE;
            PoolUsed--;
        } else {
            property->present = TRUE;
            property->offset = PoolUsed;
        }
        if (!AddText(line + length, end) || (i == PROP_HARDWARE_ID && !Put(0)))
            return FALSE;
        property->size = PoolUsed - property->offset;
        return TRUE;
    }
    return FALSE;
}

static void LoadTree(void)
{
    static char text[POOL_SIZE];
    char path[MAX_PATH];
    DWORD size = 0;
    HANDLE file;
    BOOL loaded;
    const char *line, *end;
    int number = 1;

    if (!GetEnvironmentVariableA("QORVALIN_CFGMGR_TREE", path, sizeof(path))) {
        Log("error: QORVALIN_CFGMGR_TREE is not set");
        return;
    }
    file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        Log("error: cannot open %s", path);
        return;
    }
    loaded = ReadFile(file, text, sizeof(text), &size, NULL) && size < sizeof(text);
    CloseHandle(file);
    if (!loaded) {
        Log("error: cannot read %s or it is too large", path);
        return;
    }

    for (line = text; line < text + size; line = end + 1, number++) {
        for (end = line; end < text + size && *end != '\n'; end++)
            ;
        if (!ParseLine(line, end)) {
            Log("error: %s line %d is not understood", path, number);
            NodeCount = 0;
            return;
        }
    }
    if (NodeCount == 0)
        Log("error: %s has no root node", path);
}

static int NodeIndex(DEVINST handle)
{
    if (handle < HANDLE_BASE || handle >= (DEVINST)(HANDLE_BASE + NodeCount))
        return NO_NODE;
    return (int)(handle - HANDLE_BASE);
}

CONFIGRET WINAPI CM_Locate_DevNodeA(PDEVINST pdnDevInst, DEVINSTID_A pDeviceID, ULONG ulFlags)
{
    CONFIGRET result = CR_SUCCESS;

    if (!pdnDevInst)
        result = CR_INVALID_POINTER;
    else if (ulFlags & ~CM_LOCATE_DEVNODE_BITS)
        result = CR_INVALID_FLAG;
    else if (NodeCount == 0)
        result = CR_FAILURE;
    else if ((pDeviceID && pDeviceID[0]) || LocateFails)
        result = CR_NO_SUCH_DEVNODE;
    if (pdnDevInst)
        *pdnDevInst = result == CR_SUCCESS ? HANDLE_BASE : 0;
    Log("CM_Locate_DevNodeA id=%s flags=0x%lx -> 0x%lx node=0x%lx", pDeviceID ? pDeviceID : "(null)",
        ulFlags, result, pdnDevInst ? *pdnDevInst : 0);
    return result;
}

/* The three moves share their checks; a missing relative is CR_NO_SUCH_DEVNODE. */
static CONFIGRET Move(const char *name, PDEVINST out, DEVINST from, ULONG flags, int which)
{
    CONFIGRET result = CR_SUCCESS;
    int node = NodeIndex(from), to = NO_NODE;

    if (!out)
        result = CR_INVALID_POINTER;
    else if (from == 0 || node == NO_NODE)
        result = CR_INVALID_DEVNODE;
    else if (flags)
        result = CR_INVALID_FLAG;
    else {
        to = which == 0 ? Nodes[node].child : which == 1 ? Nodes[node].sibling : Nodes[node].parent;
        if (to == NO_NODE)
            result = CR_NO_SUCH_DEVNODE;
    }
    if (out)
        *out = result == CR_SUCCESS ? (DEVINST)(HANDLE_BASE + to) : 0;
    Log("%s node=0x%lx flags=0x%lx -> 0x%lx node=0x%lx", name, from, flags, result, out ? *out : 0);
    return result;
}

#define MOVE(name, which)                                         \
    CONFIGRET WINAPI name(PDEVINST out, DEVINST from, ULONG flags) \
    { return Move(#name, out, from, flags, which); }
MOVE(CM_Get_Child, 0)
MOVE(CM_Get_Sibling, 1)
MOVE(CM_Get_Parent, 2)

/* A value that does not fit leaves the buffer alone and reports the size it needs; asking with
 * no buffer and a length of 0 is how a caller learns that size. */
CONFIGRET WINAPI CM_Get_DevNode_Registry_PropertyA(DEVINST dnDevInst, ULONG ulProperty, PULONG pulRegDataType,
                                                   PVOID Buffer, PULONG pulLength, ULONG ulFlags)
{
    CONFIGRET result = CR_SUCCESS;
    int node = NodeIndex(dnDevInst);
    ULONG room = pulLength ? *pulLength : 0;
    const Property *property = NULL;
    int i;

    if (dnDevInst == 0 || node == NO_NODE)
        result = CR_INVALID_DEVNODE;
    else if (ulProperty < CM_DRP_MIN || ulProperty > CM_DRP_MAX)
        result = CR_INVALID_PROPERTY;
    else if (!pulLength || (!Buffer && room))
        result = CR_INVALID_POINTER;
    else if (ulFlags)
        result = CR_INVALID_FLAG;
    else {
        for (i = 0; i < PROP_COUNT; i++)
            if (Properties[i].code == ulProperty && Nodes[node].property[i].present)
                property = &Nodes[node].property[i];
        *pulLength = property ? property->size : 0;
        if (!property)
            result = CR_NO_SUCH_VALUE;
        else if (property->size > room)
            result = CR_BUFFER_SMALL;
        else
            CopyMemory(Buffer, Pool + property->offset, property->size);
        if (property && pulRegDataType)
            *pulRegDataType = ulProperty == CM_DRP_HARDWAREID ? REG_MULTI_SZ : REG_SZ;
    }
    Log("CM_Get_DevNode_Registry_PropertyA node=0x%lx property=%lu type=%s buffer=%s length=%lu flags=0x%lx"
        " -> 0x%lx length=%lu",
        dnDevInst, ulProperty, pulRegDataType ? "out" : "(null)", Buffer ? "out" : "(null)", room, ulFlags,
        result, pulLength ? *pulLength : 0);
    return result;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)instance;
    if (reason == DLL_PROCESS_ATTACH) {
        GetEnvironmentVariableA("QORVALIN_CFGMGR_LOG", LogPath, sizeof(LogPath));
        Log("load");
        LoadTree();
    } else if (reason == DLL_PROCESS_DETACH) {
        /* A library the program forgot to free is only let go when the process ends. */
        Log(reserved ? "unload at exit" : "free");
    }
    return TRUE;
}

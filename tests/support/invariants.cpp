// The invariants of a finished check run: one verdict, a sound panel and list, balanced
// resources, and nothing a failure may not take away.
#include "tests/support/invariants.h"

#include "dump/record.h"
#include "report/messages.h"
#include "platform/sim/catalogue.h"
#include "report/report.h"
#include "tests/support/fake.h"
#include "tests/support/verdict_rules.h"

#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <iterator>
#include <map>
#include <set>

// What the alarm says, naming the case.
static char Overdue[512];

static void OnAlarm(int)
{
    ssize_t ignored = write(2, Overdue, strlen(Overdue));
    (void)ignored;
    _exit(1);
}

// Work that has not ended when the alarm rings (alarm(0) stops it) ends the process.
static void StartDeadline(unsigned seconds, const std::string &label)
{
    snprintf(Overdue, sizeof Overdue, "\ndid not end in time: %s\n", label.c_str());
    signal(SIGALRM, OnAlarm);
    alarm(seconds);
}

CheckRatings PerformChecksWithin(unsigned seconds, const std::string &label)
{
    StartDeadline(seconds, label);
    CheckRatings ratings = PerformChecks(TheWindow);
    alarm(0);
    return ratings;
}

std::string Recording()
{
    std::string text;
    RecordMachine([](void *to, const char *piece, uint32_t size) {
        ((std::string *)to)->append(piece, size);
    }, &text);
    return text;
}

std::string RecordWithin(unsigned seconds, const std::string &label)
{
    StartDeadline(seconds, label);
    std::string text = Recording();
    alarm(0);
    return text;
}

std::string WithoutWhys(std::string text)
{
    const std::string key = "\"why\": \"";
    for (size_t at; (at = text.find(key)) != std::string::npos;) {
        size_t end = at + key.size();
        while (end < text.size() && text[end] != '"')
            end += text[end] == '\\' ? 2 : 1;
        ++end;
        size_t before = text.find_last_not_of(" \r\n", at - 1);
        if (before != std::string::npos && text[before] == ',') {
            text.erase(before, end - before);
        } else {
            size_t after = text.find_first_not_of(" \r\n", end);
            if (after != std::string::npos && text[after] == ',')
                end = text.find_first_not_of(" \r\n", after + 1);
            text.erase(at, end - at);
        }
    }
    return text;
}

bool FaultHit(SimOp op, uint32_t call)
{
    return call != 0 && call <= Sim.calls[op] &&
           std::any_of(Sim.faults.begin(), Sim.faults.end(), [&](const SimFault &fault) {
               return fault.op == op && (fault.call == 0 || fault.call == call);
           });
}

bool FaultStruck(SimOp op)
{
    return Sim.failures[op] > 0;
}

std::string CatalogueText(uint32_t number)
{
    // The table itself, not the fake's message call, which counts and may fail.
    char text[PARAGRAPH_SIZE];
    CopyCatalogueText(number, text, sizeof text);
    return text;
}

std::string CatalogueParagraph(uint32_t number)
{
    return CatalogueText(number) + "\r\n\r\n";
}

static const uint32_t PanelMessages[] = {
    MSG_INFO_OS_UNKNOWN,         MSG_INFO_OS_SUPPORTED,           MSG_INFO_OS_NOT_SUPPORTED,
    MSG_INFO_OS_UPGRADE,         MSG_INFO_OS_95_UNSUPPORTED,      MSG_INFO_PHYSICAL_PORT,
    MSG_INFO_PIIX3_USB_DISABLED, MSG_INFO_HARDWARE_SUPPORTED,     MSG_INFO_HARDWARE_NOT_SUPPORTED,
    MSG_INFO_HARDWARE_UNKNOWN,
};

// The panel text split into the message numbers of its paragraphs (1084 and 1086 share their
// text and come back as 1084); false (with the reason in *problem) when it is not a sequence
// of catalogue paragraphs each followed by CR LF CR LF.
static bool PanelParagraphs(const std::string &panel, std::vector<uint32_t> *numbers,
                            std::string *problem)
{
    numbers->clear();
    size_t at = 0;
    while (at < panel.size()) {
        size_t end = panel.find("\r\n\r\n", at);
        if (end == std::string::npos) {
            *problem = "the panel text does not end with CR LF CR LF";
            return false;
        }
        std::string text = panel.substr(at, end - at);
        const uint32_t *number =
            std::find_if(std::begin(PanelMessages), std::end(PanelMessages),
                         [&text](uint32_t candidate) { return CatalogueText(candidate) == text; });
        if (number == std::end(PanelMessages)) {
            *problem = "the panel holds a paragraph that is none of the catalogue's: \"" + text + "\"";
            return false;
        }
        numbers->push_back(*number);
        at = end + 4;
    }
    return true;
}

std::vector<std::vector<std::string>> DetailGroups(const std::vector<std::string> &details,
                                                   bool *closed)
{
    // The last group is the open one, empty when the list ends with its blank line.
    std::vector<std::vector<std::string>> groups(1);
    for (const std::string &line : details)
        if (line.empty())
            groups.emplace_back();
        else
            groups.back().push_back(line);
    *closed = groups.back().empty();
    if (*closed)
        groups.pop_back();
    return groups;
}

namespace {

// What is wrong with a run, each problem said as printf would say it.
struct Problems {
    std::vector<std::string> list;

    __attribute__((format(printf, 3, 4))) void Expect(bool holds, const char *format, ...)
    {
        if (holds)
            return;
        char text[1024];
        va_list args;
        va_start(args, format);
        vsnprintf(text, sizeof text, format, args);
        va_end(args);
        list.push_back(text);
    }
};

bool OneBit(SupportFlags flags)
{
    return std::count(std::begin(RuledRatings), std::end(RuledRatings), flags) == 1;
}

// The verdict the rules give the two ratings, taken from them and not from the combined rating
// the run reports, so that a wrong combination shows too.
const VerdictLook &ExpectedVerdict(const CheckRatings &ratings)
{
    const VerdictLook *look = RuledVerdict(ratings.os, ratings.hardware);
    return look != nullptr ? *look : RuledVerdict(ratings.os | ratings.hardware);
}

void CheckResources(Problems *problems)
{
    problems->Expect(Sim.keysOpen == 0, "registry keys left open: %d", (int32_t)Sim.keysOpen);
    problems->Expect(Sim.devicesOpen == 0, "devices left open: %d", (int32_t)Sim.devicesOpen);
    problems->Expect(Sim.librariesLoaded == Sim.librariesFreed, "libraries loaded %u, freed %u",
                     Sim.librariesLoaded, Sim.librariesFreed);
    std::vector<std::string> paths;
    for (int index = 0; index < 10; ++index)
        paths.push_back("\\\\.\\HCD" + std::to_string(index));
    problems->Expect(Sim.openedPaths == paths,
                     "the host controller devices were not each tried once, HCD0 to HCD9 in order");
}

void CheckVerdict(const CheckRatings &ratings, Problems *problems)
{
    problems->Expect(OneBit(ratings.os), "operating-system rating 0x%02x", ratings.os);
    problems->Expect(OneBit(ratings.hardware), "hardware rating 0x%02x", ratings.hardware);
    problems->Expect(ratings.combined == (ratings.os | ratings.hardware),
                     "combined rating 0x%02x is not os | hardware", ratings.combined);

    const VerdictLook &verdict = ExpectedVerdict(ratings);
    std::vector<std::string> frames = RuledFrames(verdict);
    problems->Expect(Sim.iconsLoaded == frames,
                     "not exactly the 16 frames of %s (%s) were loaded, once each", verdict.frames,
                     verdict.name);
    problems->Expect(Sim.calls[SIM_SET_ICON] == 1,
                     "the status icon was set %u times before the first tick",
                     Sim.calls[SIM_SET_ICON]);
    std::vector<std::string> shown;
    if (!FaultHit(SIM_SET_ICON, 1))
        shown.push_back(FaultHit(SIM_LOAD_ICON, 1) ? std::string() : frames[0]);
    problems->Expect(Sim.iconsShown == shown, "the status icon does not show frame 1");

    problems->Expect(Sim.calls[SIM_START_TIMER] == 1, "the timer was started %u times",
                     Sim.calls[SIM_START_TIMER]);
    bool timer = !FaultHit(SIM_START_TIMER, 1);
    problems->Expect(Sim.timerStarted == timer &&
                         (!timer || (Sim.timerId == 1 && Sim.timerPeriod == 150)),
                     "the animation timer is not timer 1 at 150 ms");

    std::vector<int> stops;
    if (!FaultHit(SIM_SET_TAB_STOPS, 1))
        stops = {10, 20, 30, 40};
    problems->Expect(Sim.calls[SIM_SET_TAB_STOPS] == 1 && Sim.tabStops == stops,
                     "the tab stops were not set once to 10, 20, 30, 40");
}

// The panel: at most one paragraph of each kind in a fixed order, the closing one last and
// present unless its own load failed; the control shows the text of its last good update.
void CheckPanel(const CheckRatings &ratings, Problems *problems)
{
    std::string core = MoreInfoText();
    problems->Expect(core.size() <= PANEL_TEXT_SIZE - 1, "the panel text holds %zu characters",
                     core.size());
    problems->Expect(Sim.panel.size() <= PANEL_TEXT_SIZE - 1,
                     "the panel control shows %zu characters", Sim.panel.size());
    std::vector<uint32_t> numbers;
    std::string problem;
    if (!PanelParagraphs(core, &numbers, &problem)) {
        problems->list.push_back(problem);
        return;
    }

    // Rank of each paragraph in the order the probes write them, and the paragraph of each rank.
    int last = -1;
    uint32_t byRank[4] = {};
    for (uint32_t &number : numbers) {
        // Paragraphs 1084 and 1086 have the same text: only the operating system's comes
        // first and goes with its NO.
        if (number == MSG_INFO_OS_95_UNSUPPORTED && (last >= 0 || ratings.os != SUPPORT_NO))
            number = MSG_INFO_PIIX3_USB_DISABLED;
        int rank = number == MSG_INFO_PIIX3_USB_DISABLED ? 1
                   : number == MSG_INFO_PHYSICAL_PORT    ? 3
                   : number >= MSG_INFO_HARDWARE_SUPPORTED ? 2
                                                           : 0;
        problems->Expect(rank > last, "paragraph %u is out of order or not alone of its kind",
                         number);
        last = rank;
        byRank[rank] = number;
    }
    uint32_t os = byRank[0], hardware = byRank[2];
    bool piix3 = byRank[1] != 0, closing = byRank[3] != 0;

    uint32_t loads = Sim.calls[SIM_LOAD_MESSAGE];
    bool closingLost = FaultHit(SIM_LOAD_MESSAGE, loads - 1);
    problems->Expect(closing != closingLost, "paragraph 1085 is %s",
                     closing ? "there although its load failed" : "missing");

    // Every panel update shows the whole text so far; the headline is the last text set.
    uint32_t updates = (uint32_t)numbers.size();
    problems->Expect(Sim.calls[SIM_SET_TEXT] == updates + 1,
                     "control texts were set %u times for %u paragraphs and one headline",
                     Sim.calls[SIM_SET_TEXT], updates);
    uint32_t shown = updates;
    while (shown > 0 && FaultHit(SIM_SET_TEXT, shown))
        --shown;
    std::string expectedPanel;
    for (uint32_t i = 0; i < shown; ++i)
        expectedPanel += CatalogueParagraph(numbers[i]);
    problems->Expect(Sim.panel == expectedPanel,
                     "the panel control does not show the text of its last good update");

    std::string headline = CatalogueText(ExpectedVerdict(ratings).headline);
    if (FaultHit(SIM_LOAD_MESSAGE, loads) || FaultHit(SIM_SET_TEXT, updates + 1))
        headline.clear();
    problems->Expect(Sim.headline == headline, "the headline is \"%s\", expected \"%s\"",
                     Sim.headline.c_str(), headline.c_str());

    if (FaultStruck(SIM_LOAD_MESSAGE))
        return;
    // Each rating comes with its paragraph when no text failed to load: the hardware's MAYBE
    // with 1086 alone, any other operating-system rating with 1080 or none.
    static const std::map<SupportFlags, std::set<uint32_t>> osParagraphs = {
        {SUPPORT_YES, {MSG_INFO_OS_SUPPORTED}}, {SUPPORT_MAYBE, {MSG_INFO_OS_UPGRADE}},
        {SUPPORT_NO, {MSG_INFO_OS_NOT_SUPPORTED, MSG_INFO_OS_95_UNSUPPORTED}}};
    static const std::map<SupportFlags, uint32_t> hardwareParagraphs = {
        {SUPPORT_YES, MSG_INFO_HARDWARE_SUPPORTED}, {SUPPORT_MAYBE, 0},
        {SUPPORT_NO, MSG_INFO_HARDWARE_NOT_SUPPORTED}};
    auto osAt = osParagraphs.find(ratings.os);
    problems->Expect(osAt != osParagraphs.end() ? osAt->second.count(os) == 1
                                                : os == 0 || os == MSG_INFO_OS_UNKNOWN,
                     "os rating 0x%02x with paragraph %u", ratings.os, os);
    auto hardwareAt = hardwareParagraphs.find(ratings.hardware);
    uint32_t expected =
        hardwareAt != hardwareParagraphs.end() ? hardwareAt->second : MSG_INFO_HARDWARE_UNKNOWN;
    problems->Expect(hardware == expected && (ratings.hardware != SUPPORT_MAYBE || piix3),
                     "hardware rating 0x%02x with paragraph %u%s", ratings.hardware, hardware,
                     piix3 ? "" : " and without 1086");
}

// Where the chipset probe must leave the ports alone: an NT major version that every version
// query saw.
bool OnNtPlatform()
{
    return Sim.versionKnown && Sim.version.platform == PLATFORM_WIN32_NT &&
           Sim.version.major != 0 && !FaultStruck(SIM_GET_VERSION);
}

bool VersionQueryFailed()
{
    return !Sim.versionKnown || FaultHit(SIM_GET_VERSION, 1);
}

uint32_t ReleaseLine(const VersionRecord &v)
{
    if (v.platform == PLATFORM_WIN32S)
        return MSG_OS_95S;
    if (v.platform == PLATFORM_WIN32_WINDOWS)
        return v.major > 4 || (v.major == 4 && v.minor != 0) ? MSG_OS_98 : MSG_OS_95;
    if (v.platform == PLATFORM_WIN32_NT)
        return v.major >= 5 ? MSG_OS_2000 : MSG_OS_NT;
    return MSG_OS_UNKNOWN;
}

bool IsVendorLine(const std::string &line)
{
    return line.compare(0, 6, "Found ") == 0 && line.find(" USB host controller") != std::string::npos;
}

// The list, when no line was lost: the operating system's group, the chipset's groups in the
// order of its tests, then one group per reported host controller.
void CheckDetailGrammar(Problems *problems)
{
    bool closed;
    std::vector<std::vector<std::string>> groups = DetailGroups(Sim.details, &closed);
    problems->Expect(closed, "the Details list does not end with a blank line");
    if (groups.empty()) {
        problems->list.push_back("the Details list is empty");
        return;
    }
    std::vector<std::string> os;
    if (VersionQueryFailed()) {
        os = {CatalogueText(MSG_OS_UNKNOWN)};
    } else {
        const VersionRecord &v = Sim.version;
        char kernel[1024];
        snprintf(kernel, sizeof kernel, CatalogueText(MSG_KERNEL_VERSION).c_str(), (int32_t)v.major,
                 (int32_t)v.minor, (int32_t)(v.build & 0xFFFF), v.csd);
        os = {CatalogueText(ReleaseLine(v)), groups[0].size() > 1 ? groups[0][1] : "", kernel};
        problems->Expect(os[1].compare(0, 18, "\tRegistry version ") == 0,
                         "the second line is not the registry version");
    }
    problems->Expect(groups[0] == os, "the operating system's group is not its three lines");

    // The bridge's line stands alone only when a port was denied before the search for its
    // USB function ended.
    const std::string bridge = CatalogueText(MSG_PIIX3_BRIDGE);
    const std::vector<std::vector<std::string>> chipsetGroups = {
        {bridge, CatalogueText(MSG_PIIX3_USB_ENABLED)},
        {bridge, CatalogueText(MSG_PIIX3_USB_DISABLED)},
        {bridge},
        {CatalogueText(MSG_PIIX4_USB)}, {CatalogueText(MSG_OPTI_USB)}, {CatalogueText(MSG_ALI_USB)},
    };
    const size_t bridgeKinds = 3;
    size_t at = 1, next = 0;
    for (; at < groups.size(); ++at) {
        size_t kind = next;
        while (kind < chipsetGroups.size() && chipsetGroups[kind] != groups[at])
            ++kind;
        if (kind == chipsetGroups.size())
            break;
        problems->Expect(kind != bridgeKinds - 1 || Sim.portFaults > 0,
                         "the PIIX-3 bridge's line stands without its USB function's");
        next = kind < bridgeKinds ? bridgeKinds : kind + 1;
    }
    problems->Expect(!OnNtPlatform() || at == 1, "the chipset probe reported on the NT platform");
    problems->Expect(!Sim.portsDenied || at == 1,
                     "the chipset probe reported although the ports are denied");

    size_t controllers = groups.size() - at;
    problems->Expect(controllers <= 10, "%zu host controller groups for 10 devices", controllers);
    for (; at < groups.size(); ++at) {
        const std::vector<std::string> &group = groups[at];
        bool sound = group.size() <= 2;
        if (group.size() == 2)
            sound = IsVendorLine(group[0]) && group[1][0] == '\t';
        else if (group.size() == 1)
            sound = IsVendorLine(group[0]) || group[0][0] == '\t';
        std::string shown;
        for (const std::string &line : group)
            shown += "[" + line + "]";
        problems->Expect(sound, "a group of the Details list is none of the probes': %s",
                         shown.c_str());
    }
}

void CheckDetails(Problems *problems)
{
    for (const std::string &line : Sim.details)
        problems->Expect(line.size() <= DETAIL_LINE_SIZE - 1, "a Details line of %zu characters",
                         line.size());
    if (!FaultStruck(SIM_LOAD_MESSAGE) && !FaultStruck(SIM_ADD_ITEM))
        CheckDetailGrammar(problems);
}

// A denied port ends the search at once: one faulting access, and it is the last.
void CheckPorts(Problems *problems)
{
    problems->Expect(Sim.portFaults <= 1, "%u faulting port accesses", Sim.portFaults);
    bool paired = Sim.portWrites == Sim.portReads ||
                  (Sim.portFaults == 1 && Sim.portWrites == Sim.portReads + 1);
    problems->Expect(paired, "port writes %u, reads %u after %u faults", Sim.portWrites,
                     Sim.portReads, Sim.portFaults);
    problems->Expect(Sim.portWrites <= 5 * 256, "%u port writes for at most 5 searches",
                     Sim.portWrites);
    if (Sim.portsDenied)
        problems->Expect(Sim.portWrites <= 1 && Sim.portReads == 0,
                         "the ports were used again after a denial");
    if (OnNtPlatform())
        problems->Expect(Sim.portWrites == 0 && Sim.portReads == 0,
                         "a port was touched on the NT platform");
}

}  // namespace

std::vector<std::string> CheckRunInvariants(const CheckRatings &ratings)
{
    Problems problems;
    CheckResources(&problems);
    CheckVerdict(ratings, &problems);
    CheckPanel(ratings, &problems);
    CheckDetails(&problems);
    CheckPorts(&problems);
    return problems.list;
}

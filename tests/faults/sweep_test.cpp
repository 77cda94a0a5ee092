// The fault sweep: every operation of the simulated platform made to fail alone, at each of its
// calls (a sample of them on the scenario files but ReactOS's recordings) and at every call,
// those that hand out bytes also after writing them, on every representative machine; then
// every pair of operations failing throughout. Each run must keep the invariants, and lose
// only what the failure hit; and every operation must have failed on some machine.
#include "tests/support/invariants.h"
#include "tests/support/machines.h"

#include "report/messages.h"
#include "report/report.h"

#include <gtest/gtest.h>

#include <stdio.h>

#include <algorithm>
#include <map>
#include <set>
#include <tuple>

namespace {

const unsigned CaseSeconds = 20;
// A failure that first writes as much of the call's output as the call has room for.
const uint32_t EveryByte = 0xFFFFFFFF;

struct Outcome {
    CheckRatings ratings;
    SimMachine sim;
    std::string core;  // the panel text the sinks accumulated
};

CheckRatings Run(const SimMachine &machine, const std::vector<SimFault> &faults,
                 const std::string &label)
{
    Sim = machine;
    for (const SimFault &fault : faults)
        SimFailCall(fault.op, fault.call, fault.written);
    ResetCheckRun();
    return PerformChecksWithin(CaseSeconds, label);
}

Outcome Observe(const SimMachine &machine, const std::string &label,
                const std::vector<SimFault> &faults = {})
{
    return {Run(machine, faults, label), Sim, MoreInfoText()};
}

enum Kind { VERSION, REGISTRY, PORTS, HOST_CONTROLLERS, MESSAGES, INTERFACE };

// Every operation is named, so that a new one cannot slip in without its rules.
const Kind HC = HOST_CONTROLLERS;
const std::map<SimOp, Kind> Kinds = {
    {SIM_GET_VERSION, VERSION}, {SIM_OPEN_KEY, REGISTRY}, {SIM_QUERY_VALUE, REGISTRY},
    {SIM_PORT_WRITE, PORTS},    {SIM_PORT_READ, PORTS},   {SIM_OPEN_DEVICE, HC},
    {SIM_DEVICE_REQUEST, HC},   {SIM_LOAD_LIBRARY, HC},   {SIM_GET_PROC, HC},
    {SIM_CM_LOCATE, HC},        {SIM_CM_PROPERTY, HC},    {SIM_CM_CHILD, HC},
    {SIM_CM_SIBLING, HC},       {SIM_CM_PARENT, HC},      {SIM_LOAD_MESSAGE, MESSAGES},
    {SIM_SET_TEXT, INTERFACE},  {SIM_ADD_ITEM, INTERFACE}, {SIM_SET_TAB_STOPS, INTERFACE},
    {SIM_LOAD_ICON, INTERFACE}, {SIM_SET_ICON, INTERFACE}, {SIM_START_TIMER, INTERFACE},
};

Kind KindOf(SimOp op)
{
    auto kind = Kinds.find(op);
    if (kind != Kinds.end())
        return kind->second;
    ADD_FAILURE() << "operation " << op << " has no rules of its own";
    return VERSION;
}

typedef std::vector<std::string> Group;

// The Details list in its three parts: the operating system's group, the chipset's groups and
// the host controllers' groups (a lost blank line merges groups, which then match no part).
struct Parts { Group os; std::vector<Group> chipset, controllers; };

Parts SplitDetails(const std::vector<std::string> &details)
{
    static const std::set<std::string> chipsetFirstLines = {
        CatalogueText(MSG_PIIX3_BRIDGE), CatalogueText(MSG_PIIX4_USB),
        CatalogueText(MSG_OPTI_USB), CatalogueText(MSG_ALI_USB)};
    bool closed;
    std::vector<Group> groups = DetailGroups(details, &closed);
    Parts parts;
    size_t at = 0;
    if (!groups.empty())
        parts.os = groups[at++];
    for (; at < groups.size() && !groups[at].empty() && chipsetFirstLines.count(groups[at][0]);
         ++at)
        parts.chipset.push_back(groups[at]);
    for (; at < groups.size(); ++at)
        parts.controllers.push_back(groups[at]);
    return parts;
}

std::vector<Group> WithoutUnidentified(std::vector<Group> groups)
{
    const Group unidentified = {CatalogueText(MSG_HC_UNIDENTIFIED)};
    groups.erase(std::remove(groups.begin(), groups.end(), unidentified), groups.end());
    return groups;
}

bool WithoutOne(const std::vector<std::string> &whole, const std::vector<std::string> &part,
                size_t at)
{
    if (at >= whole.size())
        return false;
    std::vector<std::string> expected = whole;
    expected.erase(expected.begin() + (long)at);
    return expected == part;
}

bool OneLost(const std::vector<std::string> &whole, const std::vector<std::string> &part)
{
    for (size_t at = 0; at < whole.size(); ++at)
        if (WithoutOne(whole, part, at))
            return true;
    return false;
}

std::vector<std::string> Paragraphs(const std::string &panel)
{
    std::vector<std::string> list;
    for (size_t at = 0, end; (end = panel.find("\r\n\r\n", at)) != std::string::npos; at = end + 4)
        list.push_back(panel.substr(at, end - at));
    return list;
}

// What the host controllers showed on a machine: the group of each node found without failures,
// and the groups of a run that finds none (the probe's own line when the chipset probe could
// not tell either).
struct Shown { bool known = false; std::map<int, Group> groups; std::vector<Group> none; };

// A run made as many calls of each of the host controller probe's own operations as the walk.
void CheckCalls(const SimMachine &run, const ControllerWalk &walk,
                std::vector<std::string> *problems)
{
    for (int op = 0; op < SIM_OP_COUNT; ++op)
        if (KindOf((SimOp)op) == HOST_CONTROLLERS && run.calls[op] != walk.calls[op])
            problems->push_back(std::to_string(run.calls[op]) + " " + SimOpName((SimOp)op) +
                                " calls where a walk of the tree makes " +
                                std::to_string(walk.calls[op]));
}

// The host controllers' groups of a run whose walk finds these controllers: each found node's
// group less the lines whose reads failed, or the groups of a run that finds none. False when
// a node found shows nothing to go by (found only under failures).
bool ExpectedControllers(const ControllerWalk &walk, const Shown &shown,
                         std::vector<Group> *groups)
{
    groups->clear();
    if (walk.found.empty()) {
        if (walk.opened > 0)
            *groups = shown.none;
        return true;
    }
    for (const ControllerFind &find : walk.found) {
        auto at = shown.groups.find(find.node);
        if (at == shown.groups.end())
            return false;
        Group group;
        for (const std::string &line : at->second) {
            bool description = line[0] == '\t';
            if (description ? !find.descriptionLost : !find.idLost)
                group.push_back(line);
        }
        groups->push_back(group);
    }
    return true;
}

// Learns from the machine's runs without failures, and with every search failing, what its
// controllers show; a run that finds other controllers or makes other calls than the walk is
// a problem.
Shown LearnControllers(const SimMachine &machine, const Outcome &base, const Outcome &none,
                       std::vector<std::string> *problems)
{
    Shown shown;
    ControllerWalk walk = WalkControllers(machine);
    if (!walk.known)
        return shown;
    CheckCalls(base.sim, walk, problems);
    std::vector<Group> found = SplitDetails(base.sim.details).controllers;
    shown.none = SplitDetails(none.sim.details).controllers;
    if (walk.found.empty() ? found != shown.none : found.size() != walk.found.size()) {
        problems->push_back("the host controllers found are not the " +
                            std::to_string(walk.found.size()) + " a walk of the tree finds: " +
                            ::testing::PrintToString(found));
        return shown;
    }
    for (size_t i = 0; i < walk.found.size(); ++i)
        shown.groups[walk.found[i].node] = found[i];
    shown.known = true;
    return shown;
}

bool SamePorts(const SimMachine &a, const SimMachine &b)
{
    return std::tie(a.portWrites, a.portReads, a.portFaults) ==
           std::tie(b.portWrites, b.portReads, b.portFaults);
}

bool SameRatings(const CheckRatings &a, const CheckRatings &b)
{
    return std::tie(a.os, a.hardware, a.combined) == std::tie(b.os, b.hardware, b.combined);
}

// The run that just ended in Sim shows and rates everything as the outcome does.
bool SameRun(const CheckRatings &ratings, const Outcome &outcome)
{
    return SameRatings(ratings, outcome.ratings) && MoreInfoText() == outcome.core &&
           Sim.details == outcome.sim.details && Sim.panel == outcome.sim.panel &&
           Sim.headline == outcome.sim.headline && SamePorts(Sim, outcome.sim);
}

// What a failure of op at call (0: every call) may change, against the run without it and,
// for the version query, the run on the same machine when it cannot tell its version at all.
void CheckAgainstBaseline(SimOp op, uint32_t call, const CheckRatings &ratings,
                          const Outcome &base, const Outcome &versionless, const Shown &shown,
                          std::vector<std::string> *problems)
{
    auto expect = [problems](bool holds, const std::string &problem) {
        if (!holds)
            problems->push_back(problem);
    };
    std::string core = MoreInfoText();
    Parts now = SplitDetails(Sim.details), before = SplitDetails(base.sim.details);

    if (!FaultStruck(op)) {
        expect(SameRun(ratings, base), "a failure that struck no call changed the run");
        return;
    }

    switch (KindOf(op)) {
    case INTERFACE:
        expect(SameRatings(ratings, base.ratings), "a failing control changed the ratings");
        expect(core == base.core, "a failing control changed the panel text");
        expect(SamePorts(Sim, base.sim), "a failing control changed the port accesses");
        if (op != SIM_ADD_ITEM)
            expect(Sim.details == base.sim.details, "a failing control changed the Details");
        else if (call == 0)
            expect(Sim.details.empty(), "lines were added although every addition failed");
        else
            expect(WithoutOne(base.sim.details, Sim.details, call - 1),
                   "a failed addition lost other lines than its own");
        break;
    case MESSAGES: {
        expect(SameRatings(ratings, base.ratings), "a failing message load changed the ratings");
        expect(SamePorts(Sim, base.sim), "a failing message load changed the port accesses");
        if (call == 0) {
            expect(core.empty() && Sim.headline.empty(),
                   "a text reached the panel or headline although no message loaded");
            std::vector<std::string> kept;
            for (const std::string &line : base.sim.details) {
                bool fromCatalogue =
                    !line.empty() && (line[0] != '\t' || line.compare(0, 9, "\tRegistry") == 0 ||
                                      line.compare(0, 7, "\tKernel") == 0 ||
                                      line.compare(0, 8, "\tThe PII") == 0);
                if (!fromCatalogue)
                    kept.push_back(line);
            }
            expect(Sim.details == kept,
                   "the Details are not exactly the lines that need no message");
            break;
        }
        bool lineLost = OneLost(base.sim.details, Sim.details) && core == base.core &&
                        Sim.headline == base.sim.headline;
        bool paragraphLost = Sim.details == base.sim.details &&
                             OneLost(Paragraphs(base.core), Paragraphs(core)) &&
                             Sim.headline == base.sim.headline;
        bool headlineLost = Sim.details == base.sim.details && core == base.core &&
                            Sim.headline.empty() && !base.sim.headline.empty();
        expect(lineLost + paragraphLost + headlineLost == 1,
               "a failed message load did not lose exactly its own text");
        break;
    }
    case REGISTRY:
        expect(ratings.hardware == base.ratings.hardware,
               "a registry failure changed the hardware rating");
        expect(SamePorts(Sim, base.sim), "a registry failure changed the port accesses");
        expect(now.chipset == before.chipset && now.controllers == before.controllers,
               "a registry failure changed the hardware lines");
        expect(now.os.size() == 3 && now.os[1] == "\tRegistry version ",
               "a failed registry read does not show the empty registry text");
        break;
    case PORTS: {
        expect(ratings.os == base.ratings.os, "a port failure changed the os rating");
        expect(now.os == before.os, "a port failure changed the operating system's lines");
        uint32_t at = call == 0 ? 1 : call;
        uint32_t writes = at, reads = op == SIM_PORT_WRITE ? at - 1 : at;
        expect(Sim.portFaults == 1 && Sim.portWrites == writes && Sim.portReads == reads,
               "the ports were used again after a denied access");
        // What the chipset probe wrote before the failure stays; a group may end early.
        for (const Group &group : now.chipset) {
            bool found = false;
            for (const Group &earlier : before.chipset)
                found = found || (group.size() <= earlier.size() &&
                                  std::equal(group.begin(), group.end(), earlier.begin()));
            expect(found, "a port failure made the chipset probe report something it did not find");
        }
        expect(WithoutUnidentified(now.controllers) == WithoutUnidentified(before.controllers),
               "a port failure changed the host controllers' lines");
        // What was found before the failure keeps its rating: a controller or the bridge with
        // its USB function rates YES, the bridge without it MAYBE, and the bridge alone nothing.
        const std::string bridge = CatalogueText(MSG_PIIX3_BRIDGE);
        bool yes = false, maybe = false;
        for (const Group &group : now.chipset) {
            yes = yes || (group.size() == 1 && group[0] != bridge) ||
                  group == Group{bridge, CatalogueText(MSG_PIIX3_USB_ENABLED)};
            maybe = maybe || group == Group{bridge, CatalogueText(MSG_PIIX3_USB_DISABLED)};
        }
        expect(!yes || ratings.hardware == SUPPORT_YES,
               "a port failure undid the YES of a chipset already found");
        expect(!maybe || ratings.hardware == SUPPORT_YES || ratings.hardware == SUPPORT_MAYBE,
               "a port failure undid the MAYBE of a PIIX-3 bridge without its USB function");
        break;
    }
    case HOST_CONTROLLERS: {
        expect(ratings.os == base.ratings.os, "a host controller failure changed the os rating");
        expect(SamePorts(Sim, base.sim), "a host controller failure changed the port accesses");
        expect(now.os == before.os && now.chipset == before.chipset,
               "a host controller failure changed the lines before its own");
        if (!shown.known)
            break;
        // The controllers the failure leaves found, and the calls it leaves made, are the
        // walk's under the same failure.
        ControllerWalk walk = WalkControllers(Sim);
        CheckCalls(Sim, walk, problems);
        std::vector<Group> groups;
        if (ExpectedControllers(walk, shown, &groups))
            expect(now.controllers == groups,
                   "the host controllers found are " + ::testing::PrintToString(now.controllers) +
                       ", a walk finds " + ::testing::PrintToString(groups));
        break;
    }
    case VERSION:
        // Each probe asks for the version itself; the operating system is named and rated from
        // the run's first answer.
        if (!base.sim.versionKnown) {
            expect(SameRun(ratings, base),
                   "a failed version query changed a run whose queries all fail anyway");
            break;
        }
        if (call == 0)
            expect(SameRun(ratings, versionless),
                   "a version query failing every time differs from a machine without a version");
        if (FaultHit(SIM_GET_VERSION, 1)) {
            expect(ratings.os == SUPPORT_UNKNOWN && now.os != before.os,
                   "the operating system is still known after its version query failed");
            if (call == 1)
                expect(ratings.hardware == base.ratings.hardware && now.chipset == before.chipset &&
                           now.controllers == before.controllers && SamePorts(Sim, base.sim),
                       "the operating system's failed query changed the hardware probes' findings");
        } else {
            expect(ratings.os == base.ratings.os && now.os.size() == 3 && before.os.size() == 3 &&
                       now.os[0] == before.os[0] && now.os[2] == before.os[2],
                   "a later version query changed the operating system's rating, release or "
                   "kernel line");
        }
        break;
    }
}

// The calls to fail on: each one in turn, or a sample when there are many, and every call.
std::vector<uint32_t> CallsToFail(uint32_t calls, bool exhaustive)
{
    std::set<uint32_t> sample = {1, 2, 3, calls / 2, calls - 1, calls};
    std::vector<uint32_t> list = {0};
    for (uint32_t call = 1; call <= calls; ++call)
        if (exhaustive || sample.count(call))
            list.push_back(call);
    return list;
}

std::string Describe(const std::string &machine, const std::vector<SimFault> &faults)
{
    std::string text = machine;
    for (const SimFault &fault : faults)
        text += std::string(" ") + SimOpName(fault.op) + "@" +
                (fault.call == 0 ? std::string("every") : std::to_string(fault.call)) +
                (fault.written != 0 ? "+written" : "");
    return text;
}

struct Tally {
    std::set<std::pair<int, uint32_t>> points;     // operation and call failed
    unsigned long long struck[SIM_OP_COUNT] = {};  // runs in which the failure hit a call
    unsigned long long cases = 0, singles = 0, pairs = 0, failures = 0;
    unsigned long long learned = 0;  // machines whose controllers the walk learned
};

void Report(const std::string &label, const std::vector<std::string> &problems, Tally *tally)
{
    ++tally->cases;
    if (problems.empty())
        return;
    // A broken rule tends to break every case alike; the first few say enough.
    if (++tally->failures <= 20)
        ADD_FAILURE() << label << ": " << ::testing::PrintToString(problems);
}

void Sweep(const std::vector<SweepMachine> &machines, bool exhaustive, Tally *tally)
{
    for (const SweepMachine &machine : machines) {
        SimMachine blind = machine.machine;
        blind.versionKnown = false;
        std::string blindLabel = machine.name + " without a version";
        Outcome versionless = Observe(blind, blindLabel);
        std::vector<std::string> problems = CheckRunInvariants(versionless.ratings);
        CheckCalls(versionless.sim, WalkControllers(blind), &problems);
        Report(blindLabel, problems, tally);
        Outcome base = Observe(machine.machine, machine.name);
        std::string noneLabel = machine.name + " without a search";
        Outcome none = Observe(machine.machine, noneLabel, {{SIM_CM_LOCATE, 0}});
        problems = CheckRunInvariants(base.ratings);
        if (machine.os != 0 && base.ratings.os != machine.os)
            problems.push_back("the machine is not the family it names: os rating " +
                               std::to_string(base.ratings.os));
        Shown shown = LearnControllers(machine.machine, base, none, &problems);
        tally->learned += shown.known;
        Report(machine.name, problems, tally);

        for (int op = 0; op < SIM_OP_COUNT; ++op) {
            for (uint32_t call : CallsToFail(base.sim.calls[op], exhaustive)) {
                for (uint32_t written : {0u, EveryByte}) {
                    if (written != 0 && !SimOpWrites((SimOp)op))
                        continue;
                    std::vector<SimFault> faults = {{(SimOp)op, call, written}};
                    std::string label = Describe(machine.name, faults);
                    CheckRatings ratings = Run(machine.machine, faults, label);
                    problems = CheckRunInvariants(ratings);
                    CheckAgainstBaseline((SimOp)op, call, ratings, base, versionless, shown,
                                         &problems);
                    Report(label, problems, tally);
                    tally->struck[op] += FaultStruck((SimOp)op);
                    tally->points.insert({op, call});
                    ++tally->singles;
                }
            }
        }
        for (int first = 0; first < SIM_OP_COUNT; ++first) {
            for (int second = first + 1; second < SIM_OP_COUNT; ++second) {
                std::vector<SimFault> faults = {{(SimOp)first, 0}, {(SimOp)second, 0}};
                std::string label = Describe(machine.name, faults);
                CheckRatings ratings = Run(machine.machine, faults, label);
                Report(label, CheckRunInvariants(ratings), tally);
                ++tally->pairs;
            }
        }
    }
}

TEST(FaultSweep, EveryOperationFailingAloneAndInPairs)
{
    std::vector<SweepMachine> built = RepresentativeMachines();
    std::vector<SweepMachine> files = ScenarioFileMachines(QORVALIN_SCENARIO_DIR);
    ASSERT_FALSE(files.empty()) << "no scenario file under " << QORVALIN_SCENARIO_DIR;
    // The machines ReactOS answered, its own device tree and drivers, at every call as the
    // built ones; the other files at a sample of their calls.
    std::vector<SweepMachine> answered, sampled;
    for (const SweepMachine &file : files)
        (file.name.rfind("guests/reactos-", 0) == 0 ? answered : sampled).push_back(file);
    EXPECT_FALSE(answered.empty()) << "no recording of ReactOS under guests/";

    Tally tally;
    Sweep(built, true, &tally);
    Sweep(answered, true, &tally);
    Sweep(sampled, false, &tally);
    SimReset();
    ResetCheckRun();

    printf("fault sweep: %d operations; %zu fault points (an operation failing at one call "
           "number, or at every call); %llu cases on %zu machines (%zu built, %zu scenario files): "
           "%llu without a failure (each machine as it is and without a version), %llu with "
           "one, %llu with two; %llu failed\n",
           (int)SIM_OP_COUNT, tally.points.size(), tally.cases, built.size() + files.size(),
           built.size(), files.size(), tally.cases - tally.singles - tally.pairs, tally.singles,
           tally.pairs, tally.failures);
    EXPECT_EQ(tally.failures, 0u);
    EXPECT_EQ(tally.learned, built.size() + files.size())
        << "the host controllers of some machines were not learned from a walk of their tree";
    // An operation no machine calls would pass every case above untested.
    for (int op = 0; op < SIM_OP_COUNT; ++op)
        EXPECT_GT(tally.struck[op], 0u) << SimOpName((SimOp)op) << " never failed on any machine";
}

}  // namespace

// The simulator's report: verdict, headline, icon frames, ratings, panel, Details and ports.
#include "sim/report_out.h"

#include <stdio.h>

std::string EscapeReportText(const std::string &text)
{
    std::string out;
    for (unsigned char c : text) {
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\\') {
            out += "\\\\";
        } else if (c < 0x20 || c > 0x7E) {
            char hex[5];
            snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        } else {
            out += (char)c;
        }
    }
    return out;
}

static const char *VerdictName(Verdict verdict)
{
    switch (verdict) {
    case VERDICT_SUPPORTED:
        return "supported";
    case VERDICT_CHANGES_RECOMMENDED:
        return "changes-recommended";
    case VERDICT_NOT_SUPPORTED:
        return "not-supported";
    }
    return "?";
}

// The set prefix of every frame the run loaded (the name without its frame number), each set
// once in the order first loaded: one set after a sound run, nothing when no frame was loaded,
// and more than one set shows a run that loaded frames it should not have.
static std::string FrameSets(const std::vector<std::string> &loaded)
{
    std::vector<std::string> sets;
    for (const std::string &name : loaded) {
        std::string set = name.substr(0, name.find_last_not_of("0123456789") + 1);
        bool seen = false;
        for (const std::string &earlier : sets)
            seen = seen || earlier == set;
        if (!seen)
            sets.push_back(set);
    }
    std::string out;
    for (const std::string &set : sets)
        out += (out.empty() ? "" : " ") + set;
    return out;
}

static std::string Hex2(SupportFlags flags)
{
    char text[16];
    snprintf(text, sizeof text, "0x%02x", flags);
    return text;
}

std::string FormatReport(const SimMachine &machine, const CheckRatings &ratings)
{
    std::string out;
    out += std::string("verdict: ") + VerdictName(ChooseVerdict(ratings.combined)) + "\n";
    out += "headline: " + EscapeReportText(machine.headline) + "\n";
    out += "frames: " + EscapeReportText(FrameSets(machine.iconsLoaded)) + "\n";
    out += "rating: os=" + Hex2(ratings.os) + " hardware=" + Hex2(ratings.hardware) +
           " combined=" + Hex2(ratings.combined) + "\n";
    out += "panel: " + EscapeReportText(machine.panel) + "\n";
    for (const std::string &line : machine.details)
        out += "detail: " + EscapeReportText(line) + "\n";
    out += "ports: writes=" + std::to_string(machine.portWrites) +
           " reads=" + std::to_string(machine.portReads) +
           " faults=" + std::to_string(machine.portFaults) + "\n";
    return out;
}

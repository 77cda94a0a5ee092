// The simulator's report: what the program would show after a check run, one item a line.
#ifndef QORVALIN_REPORT_OUT_H
#define QORVALIN_REPORT_OUT_H

#include "platform/sim/sim.h"
#include "verdict/verdict.h"

#include <string>

// CR, LF, TAB and the backslash as \r \n \t \\, every other byte outside 0x20..0x7E as \xhh.
std::string EscapeReportText(const std::string &text);
// The whole report, every line ended by LF.
std::string FormatReport(const SimMachine &machine, const CheckRatings &ratings);

#endif

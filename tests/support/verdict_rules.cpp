// The verdict rules as tables: by the two bits that decide, and by operating system and hardware.
#include "tests/support/verdict_rules.h"

#include "report/messages.h"

#include <algorithm>
#include <iterator>

const VerdictLook RuledSupported = {"supported", MSG_HEADLINE_SUPPORTED, "USBYES"};
const VerdictLook RuledChangesRecommended = {"supported, changes recommended",
                                             MSG_HEADLINE_CHANGES, "USBMAYB"};
const VerdictLook RuledNotSupported = {"not supported", MSG_HEADLINE_NOT_SUPPORTED, "USBNO"};

const SupportFlags RuledRatings[4] = {SUPPORT_YES, SUPPORT_MAYBE, SUPPORT_NO, SUPPORT_UNKNOWN};

namespace {

// Indexed by whether SUPPORT_NO is set, then whether SUPPORT_MAYBE is: negative evidence wins,
// and YES and UNKNOWN play no part, so an undetermined result and a rating of 0 look supported.
const VerdictLook *const ByDecidingBits[2][2] = {
    {&RuledSupported, &RuledChangesRecommended},
    {&RuledNotSupported, &RuledNotSupported},
};

// Rows: the operating system's rating; columns: the hardware's; both in RuledRatings' order.
const VerdictLook *const ByRatings[4][4] = {
    {&RuledSupported, &RuledChangesRecommended, &RuledNotSupported, &RuledSupported},
    {&RuledChangesRecommended, &RuledChangesRecommended, &RuledNotSupported,
     &RuledChangesRecommended},
    {&RuledNotSupported, &RuledNotSupported, &RuledNotSupported, &RuledNotSupported},
    {&RuledSupported, &RuledChangesRecommended, &RuledNotSupported, &RuledSupported},
};

int RatingIndex(SupportFlags rating)
{
    const SupportFlags *at = std::find(std::begin(RuledRatings), std::end(RuledRatings), rating);
    return at != std::end(RuledRatings) ? (int)(at - RuledRatings) : -1;
}

}  // namespace

const VerdictLook &RuledVerdict(SupportFlags combined)
{
    return *ByDecidingBits[(combined & SUPPORT_NO) != 0][(combined & SUPPORT_MAYBE) != 0];
}

const VerdictLook *RuledVerdict(SupportFlags os, SupportFlags hardware)
{
    int row = RatingIndex(os), column = RatingIndex(hardware);
    if (row < 0 || column < 0)
        return nullptr;
    return ByRatings[row][column];
}

std::vector<std::string> RuledFrames(const VerdictLook &look)
{
    std::vector<std::string> names;
    for (int frame = 1; frame <= 16; ++frame)
        names.push_back(look.frames + std::to_string(frame));
    return names;
}

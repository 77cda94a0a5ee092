// The catalogue's texts, from the table generated out of report/catalogue.txt. Freestanding:
// the bare-metal kernel has no C library.
#include "platform/sim/catalogue.h"

static const struct {
    uint32_t number;
    const char *text;
} Catalogue[] = {
#include "report/catalogue_table.inc"
};

uint32_t CopyCatalogueText(uint32_t number, char *buffer, uint32_t capacity)
{
    uint32_t length = 0;
    for (const auto &entry : Catalogue) {
        if (entry.number != number)
            continue;
        while (entry.text[length] != '\0' && length < capacity - 1) {
            buffer[length] = entry.text[length];
            ++length;
        }
        break;
    }
    buffer[length] = '\0';
    return length;
}

// The message catalogue's texts for the platforms that have no message table of Windows: the
// fake and the bare-metal test kernel.
#ifndef QORVALIN_SIM_CATALOGUE_H
#define QORVALIN_SIM_CATALOGUE_H

#include <stdint.h>

// Copies at most capacity - 1 characters of the number's text and a NUL (capacity > 0); returns
// the number of characters copied, 0 and an empty text for a number the catalogue lacks.
uint32_t CopyCatalogueText(uint32_t number, char *buffer, uint32_t capacity);

#endif

// Identifiers shared by the resource script and the program.
#ifndef QORVALIN_RESOURCE_H
#define QORVALIN_RESOURCE_H

#include "report/controls.h"

#define IDC_STATIC -1

#endif

// Control identifiers of the main, splash and About dialogs (also read by the resource script).
#ifndef QORVALIN_CONTROLS_H
#define QORVALIN_CONTROLS_H

#define IDC_CLOSE 1010
#define IDC_ABOUT 1011
#define IDC_DETAILS 1012
#define IDC_MORE_INFO 1018
#define IDC_DETAILS_LIST 1019
#define IDC_HEADLINE 1020
#define IDC_STATUS_ICON 1021
#define IDC_CONTINUE 1022
#define IDC_SPLASH_TEXT 1023
#define IDC_DETAILS_LABEL 1024

#endif

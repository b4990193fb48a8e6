// What the numbered error results of a modem mean: "+CME ERROR: <n>" (TS 27.007 9.2) and
// "+CMS ERROR: <n>" (TS 27.005 3.2.5, with the network's RP-causes of TS 24.011 E.2 below 128 and
// the TP-FCS values of TS 23.040 9.2.3.22 from 128 to 255).
#pragma once

enum ErrorFamily { CmeError, CmsError };

// The meaning of code in family, or nullptr for a code the standards leave unnamed or reserved.
const char* ErrorMeaning(ErrorFamily family, int code);

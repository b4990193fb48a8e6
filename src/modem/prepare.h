#pragma once

#include "listing/listing.h"  // ReportStorage

// Probes the modem, turns echo off, sets the character set (charset 1: "UCS2", 0: "GSM") and,
// unless storage is negative, the message storage (1: phone "ME", 0: SIM "SM"). 0, or -1.
// ReportStorage chooses "SR" for reading and deleting alone, after asking whether the modem has it;
// a modem without one fails with its line on standard error.
int PrepareModem(int port, int charset, int storage);

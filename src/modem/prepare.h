#pragma once

// Probes the modem, turns echo off, sets the character set (charset 1: "UCS2", 0: "GSM") and,
// unless storage is negative, the message storage (1: phone "ME", 0: SIM "SM"). 0, or -1.
int PrepareModem(int port, int charset, int storage);

// One USSD request, such as a balance query (TS 27.007 +CUSD).
#pragma once

#include "modem/ussd_reply.h"

constexpr int PackedUssdSize = 128;  // 63 octets as hex, and a NUL
constexpr int MaxUssdLength = 72;    // characters that pack into 63 octets

// The two forms of a request in AT+CUSD: GSM 7-bit septets packed as hex ("AA180C3602"), which
// some modems need, or the string as it is ("*100#"), which others need.
enum UssdForm { UssdPacked, UssdText };

// How the modem took a request: "OK" within ten answers; refused ("ERROR", "+CME ERROR: <n>",
// "+CMS ERROR: <n>" or "COMMAND NOT SUPPORT"); or neither (no answer, a late "OK", the modem gone);
// or accepted, and then an error line came instead of the network's answer.
enum UssdAck { UssdAccepted, UssdRefused, UssdUnconfirmed, UssdNetworkRefused };

// Packs code into GSM 7-bit septets (TS 23.038) as uppercase hex in packed (PackedUssdSize bytes):
// "*100#" gives "AA180C3602". Yields the digit count, or -1 for more than MaxUssdLength characters.
int PackUssd(char* packed, const char* code);

// True when code can go as it is inside the quotes of AT+CUSD: printable ASCII without '"'.
bool IsPlainUssd(const char* code);
// Why a code that is not plain cannot be sent in the plain form alone (--ussd-text).
inline constexpr char UssdNotPlain[] =
    "atsms: with --ussd-text the USSD string must be printable ASCII without '\"'\n";

// True when code holds a control character (CR, LF, ESC, ...): no network takes one, in either form.
bool HoldsControlCharacter(const char* code);
inline constexpr char UssdControlRefused[] = "atsms: the USSD string holds a control character; nothing sent\n";

// True when a packed request is sent once more, as the plain string, after the modem took it as
// ack and the network's answer so far is reply: the modem refused it before the network answered,
// or the network answered +CUSD: 4 (operation not supported). Any other answer, or none, stands:
// the request may have done something already (bought a package). Only for a plain code that is
// not empty (an empty one is the same in both forms).
bool ResendUssdAsText(UssdAck ack, const UssdReply& reply, const char* code);

// True when the network's last answer to an accepted request fails it: +CUSD: 4 (operation not
// supported) or +CUSD: 5 (network time-out). No answer at all, and +CUSD: 2 (the network ended
// the session), stand as success.
bool UssdNetworkFailed(const UssdReply& reply);

// Sends code, traces the exchange on standard error and writes the OK or ERROR block; 0 or -1.
// UssdPacked: packed first, then plain once where ResendUssdAsText says so; UssdText: plain only
// (a code that is not plain is refused before the modem). A request the network fails
// (UssdNetworkFailed) gets the ERROR block. With json, a block after a request also carries
// "form", and an OK block after a reply with text "reply" and "status".
int SendUssd(int port, const char* code, bool json = false, UssdForm form = UssdPacked);

#include "modem/error_codes.h"

#include <string.h>

namespace {

// Each table is one string of entries "<code> <text>" with a NUL after each, in ascending order,
// ended by the string's own NUL: no pointers, so nothing to relocate when the program starts.
// TS 27.007 9.2.1, and of the causes of 9.2.2 those a network gives a USSD request after its OK
// (the others answer no command that atsms sends).
constexpr char CmeTexts[] =
    "0 phone failure\0"
    "1 no connection to phone\0"
    "2 phone-adaptor link reserved\0"
    "3 operation not allowed\0"
    "4 operation not supported\0"
    "5 PH-SIM PIN required\0"
    "6 PH-FSIM PIN required\0"
    "7 PH-FSIM PUK required\0"
    "10 SIM not inserted\0"
    "11 SIM PIN required\0"
    "12 SIM PUK required\0"
    "13 SIM failure\0"
    "14 SIM busy\0"
    "15 SIM wrong\0"
    "16 incorrect password\0"
    "17 SIM PIN2 required\0"
    "18 SIM PUK2 required\0"
    "20 memory full\0"
    "21 invalid index\0"
    "22 not found\0"
    "23 memory failure\0"
    "24 text string too long\0"
    "25 invalid characters in text string\0"
    "26 dial string too long\0"
    "27 invalid characters in dial string\0"
    "30 no network service\0"
    "31 network timeout\0"
    "32 network not allowed - emergency calls only\0"
    "40 network personalization PIN required\0"
    "41 network personalization PUK required\0"
    "42 network subset personalization PIN required\0"
    "43 network subset personalization PUK required\0"
    "44 service provider personalization PIN required\0"
    "45 service provider personalization PUK required\0"
    "46 corporate personalization PIN required\0"
    "47 corporate personalization PUK required\0"
    "50 incorrect parameters\0"
    "100 unknown\0"
    "132 service option not supported\0"
    "133 requested service option not subscribed\0"
    "134 service option temporarily out of order\0";

// TS 24.011 E.2 (RP-cause, the network's reasons), TS 23.040 9.2.3.22 (TP-FCS), TS 27.005 3.2.5.
constexpr char CmsTexts[] =
    "1 unassigned (unallocated) number\0"
    "8 operator determined barring\0"
    "10 call barred\0"
    "21 short message transfer rejected\0"
    "22 memory capacity exceeded\0"
    "27 destination out of order\0"
    "28 unidentified subscriber\0"
    "29 facility rejected\0"
    "30 unknown subscriber\0"
    "38 network out of order\0"
    "41 temporary failure\0"
    "42 congestion\0"
    "47 resources unavailable, unspecified\0"
    "50 requested facility not subscribed\0"
    "69 requested facility not implemented\0"
    "81 invalid short message transfer reference value\0"
    "95 semantically incorrect message\0"
    "96 invalid mandatory information\0"
    "97 message type non-existent or not implemented\0"
    "98 message not compatible with short message protocol state\0"
    "99 information element non-existent or not implemented\0"
    "111 protocol error, unspecified\0"
    "127 interworking, unspecified\0"
    "128 telematic interworking not supported\0"
    "129 short message type 0 not supported\0"
    "130 cannot replace short message\0"
    "143 unspecified TP-PID error\0"
    "144 data coding scheme (alphabet) not supported\0"
    "145 message class not supported\0"
    "159 unspecified TP-DCS error\0"
    "160 command cannot be actioned\0"
    "161 command unsupported\0"
    "175 unspecified TP-Command error\0"
    "176 TPDU not supported\0"
    "192 SC busy\0"
    "193 no SC subscription\0"
    "194 SC system failure\0"
    "195 invalid SME address\0"
    "196 destination SME barred\0"
    "197 SM rejected - duplicate SM\0"
    "198 TP-VPF not supported\0"
    "199 TP-VP not supported\0"
    "208 SIM SMS storage full\0"
    "209 no SMS storage capability in SIM\0"
    "210 error in MS\0"
    "211 memory capacity exceeded\0"
    "212 SIM application toolkit busy\0"
    "213 SIM data download error\0"
    "255 unspecified error cause\0"
    "300 ME failure\0"
    "301 SMS service of ME reserved\0"
    "302 operation not allowed\0"
    "303 operation not supported\0"
    "304 invalid PDU mode parameter\0"
    "305 invalid text mode parameter\0"
    "310 SIM not inserted\0"
    "311 SIM PIN required\0"
    "312 PH-SIM PIN required\0"
    "313 SIM failure\0"
    "314 SIM busy\0"
    "315 SIM wrong\0"
    "316 SIM PUK required\0"
    "317 SIM PIN2 required\0"
    "318 SIM PUK2 required\0"
    "320 memory failure\0"
    "321 invalid memory index\0"
    "322 memory full\0"
    "330 SMSC address unknown\0"
    "331 no network service\0"
    "332 network timeout\0"
    "340 no +CNMA acknowledgement expected\0"
    "500 unknown error\0";

const char* Find(const char* table, int code) {
  while (*table) {
    int entry = 0;
    for (; *table >= '0' && *table <= '9'; ++table) entry = entry * 10 + (*table - '0');
    const char* text = table + 1;  // after the blank
    if (entry == code) return text;
    if (entry > code) return nullptr;
    table = text + strlen(text) + 1;
  }
  return nullptr;
}

}  // namespace

const char* ErrorMeaning(ErrorFamily family, int code) {
  return family == CmeError ? Find(CmeTexts, code) : Find(CmsTexts, code);
}

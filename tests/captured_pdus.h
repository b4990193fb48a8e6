// SMS-DELIVER PDUs of long-message parts recorded from real networks, as modems list them, and the
// text of each part (7-bit, a concatenation header with IE 00); SMS-STATUS-REPORTs real modems kept.
#pragma once

namespace captured {

// Reference 0x4C, part 1 of 2: 160 septets, the header's 7 included.
inline constexpr char Part1Of2[] =
    "07912160130320F5440B916171056429F5000021405291650569A00500034C0201A9E8F41C949E83C2207B599E07B1DFEE33885E9E"
    "D341E4F23C7D7697C920FA1B54C697E5E3F4BC0C6AD7D9F434081E96D341E3303C2C4EB3D3F4BC0B94A483E6E8779D4D06CDD1EF3B"
    "A80E0785E7A0B7BB0C6A97E7F3F0B9CC02B9DF7450780EA2DFDF2C50780EA2A3CBA0BA9B5C96B3F369F71954768FDFE4B4FB0C9297"
    "E1F2F2BCECA6CF41";
inline constexpr char Part1Text[] =
    "This is a very long test designed to exercise multi part capability. It should show up as one message, "
    "not as two, as the underlying encoding represents ";

// The same message, part 2 of 2.
inline constexpr char Part2Of2[] =
    "07912160130320F6440B916171056429F5000021405291651569320500034C0202E9E8301D44479741F0B09C3E0785E56590BCCC0E"
    "D3CB6410FD0D7ABBCBA0B0FB4D4797E52E10";
inline constexpr char Part2Text[] = "that the parts are related to one another. ";

// Another message, in lower-case hex: reference 0xC4, part 2 of 2.
inline constexpr char LowerCasePart[] =
    "07912160130300f4440b915155685703f900005240713104738a3e050003c40202da6f37881e969fcbf4b4fb0ccabfeb20f4fb0ea2"
    "87e5e7323ded3e83dae17519747fcbd96490b95c6683d273101d5d0601";
inline constexpr char LowerCaseText[] = "mon targeting you how targeting make world feel is the ";

// Status reports two modems kept with <stat> 3 ("+CMGR: 3,,29"). The first padded with FF to the end
// of its SIM record (175 octets after the record's status octet): reference 0xAB to 604865888.
inline constexpr char ReportPadded[] =
    "079124602009999002AB098106845688F8907080517375809070805183018000"
    "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF"
    "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF"
    "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF";
// Reference 6 to +61439012244, with TP-PI 06: TP-DCS and TP-UDL follow, both 00.
inline constexpr char ReportWithPi[] =
    "07911614786007F006060B911634092142F4019071011000040190710110450400060000";

}  // namespace captured

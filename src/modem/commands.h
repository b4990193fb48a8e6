// Every command line atsms writes to the modem (TS 27.005, TS 27.007), and the texts its callers
// look for in the answers. Each line ends in a carriage return and no line feed.
#pragma once

inline constexpr char CmdProbe[] = "AT\r";
// After a probe that got nothing back: ESC ends a PDU entry that an earlier run left open (the modem
// took the probe as PDU text); a modem in command mode ignores what comes before "AT".
inline constexpr char CmdProbeAfterEscape[] = "\x1b" "AT\r";
inline constexpr char CmdEchoOff[] = "ATE0\r";
inline constexpr char CmdCharsetUcs2[] = "AT+CSCS=\"UCS2\"\r";  // text fields travel as UCS-2 hex
inline constexpr char CmdCharsetGsm[] = "AT+CSCS=\"GSM\"\r";
inline constexpr char CmdStoragePhone[] = "AT+CPMS=\"ME\",\"ME\",\"ME\"\r";  // read, write, receive
inline constexpr char CmdStorageSim[] = "AT+CPMS=\"SM\",\"SM\",\"SM\"\r";
inline constexpr char CmdStorages[] = "AT+CPMS=?\r";                 // the storages the modem has
inline constexpr char CmdStorageReports[] = "AT+CPMS=\"SR\"\r";      // status reports: read and delete
inline constexpr char CmdPduMode[] = "AT+CMGF=0\r";
inline constexpr char CmdTextMode[] = "AT+CMGF=1\r";
inline constexpr char CmdListAll[] = "AT+CMGL=4\r";          // 4: every status, PDU mode
inline constexpr char CmdReadFormat[] = "AT+CMGR=%d\r";      // index
inline constexpr char CmdDeleteFormat[] = "AT+CMGD=%d\r";    // index
inline constexpr char CmdDeleteRead[] = "AT+CMGD=1,3\r";    // <delflag> 3: read, sent and unsent messages,
                                                             // not the unread ones; the index is ignored
inline constexpr char CmdSendFormat[] = "AT+CMGS=%d\r";      // TPDU octets after the SMSC part
inline constexpr char CmdPduLineFormat[] = "%s\x1a\r";       // the PDU, then Ctrl-Z
inline constexpr char CmdUssdFormat[] = "AT+CUSD=1,\"%s\",15\r";  // packed or plain string, DCS 15
inline constexpr char CmdReadIndications[] = "AT+CNMI?\r";  // how new messages and reports are indicated
// <mode>,<mt>,<bm> as read, <ds> 2: the modem keeps status reports and says where (+CDSI), <bfr> as read.
inline constexpr char CmdKeepReportsFormat[] = "AT+CNMI=%d,%d,%d,2,%d\r";

// What the answers are searched for (plain substring searches).
inline constexpr char AnsOk[] = "OK";
inline constexpr char AnsError[] = "ERROR";
inline constexpr char AnsNotSupported[] = "COMMAND NOT SUPPORT";  // one maker's ERROR to AT+CUSD
inline constexpr char AnsPrompt[] = ">";            // AT+CMGS waits for the PDU
inline constexpr char AnsListLine[] = "+CMGL:";     // one per stored message, index first
inline constexpr char AnsStorage[] = "+CPMS:";      // <used>,<total> of each storage chosen
inline constexpr char AnsReadLine[] = "+CMGR:";
inline constexpr char AnsUnread[] = "UNREAD\",\"";  // the sender follows
inline constexpr char AnsRead[] = "READ\",\"";
inline constexpr char AnsNoAlpha[] = ",,\"";        // empty alpha field; the date follows
inline constexpr char AnsUssdReply[] = "CUSD";
inline constexpr char AnsUssdLine[] = "+CUSD:";    // the network's answer: <m>[,<str>[,<dcs>]]
inline constexpr char AnsIndications[] = "+CNMI:";  // <mode>,<mt>,<bm>,<ds>,<bfr>
inline constexpr char AnsSendReference[] = "+CMGS:";  // <mr>: the message reference (TP-MR)

// Result blocks of the operations that send.
inline constexpr char ResultOk[] = "\n{\n \"msg\":\"OK\"\n}\n";
inline constexpr char ResultError[] = "\n{\n \"msg\":\"ERROR\"\n}\n";

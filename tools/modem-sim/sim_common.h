// sim_common.h: what the simulated modem's parts share: the answers' building blocks and small text helpers.
#pragma once

#include <string>
#include <vector>

namespace sim {

inline constexpr char Ok[] = "\r\nOK\r\n";
inline constexpr char Error[] = "\r\nERROR\r\n";
inline constexpr int IndexLimit = 1000;                     // CMGD and CMGR refuse indexes from here on
inline const char* const Statuses[] = {"REC UNREAD", "REC READ", "STO UNSENT", "STO SENT"};  // <stat> 0..3

int StatusCode(const std::string& status);
bool EndsWith(const std::string& text, const std::string& tail);
std::string CmsError(int code);
bool ParseNumber(const std::string& text, int* value);
bool IsCommand(const std::string& line);
// Control characters written out for the log: \r, \n, \t, \\ and \xNN.
std::string Escape(const std::string& bytes);
// 1,"AA180C3602",15 -> {1, AA180C3602, 15}: split at commas outside quotes, quotes dropped.
std::vector<std::string> SplitParameters(const std::string& list);

}  // namespace sim

// The lock file's name and content: the conventions every serial program on Linux shares.
#include <gtest/gtest.h>

#include <string>

#include "serial/port_lock.h"

namespace {

struct NameCase { const char* resolved; const char* want; };

const NameCase Names[] = {
    {"/dev/ttyUSB2", "/var/lock/LCK..ttyUSB2"},
    {"/dev/ttyACM0", "/var/lock/LCK..ttyACM0"},
    {"/dev/pts/3", "/var/lock/LCK..pts_3"},
    {"/dev/serial/by-id/usb-Modem-if02", "/var/lock/LCK..serial_by-id_usb-Modem-if02"},
    {"/home/user/port", "/var/lock/LCK..home_user_port"},  // a device outside /dev
};

TEST(LockFilePath, IsTheDevicePathAfterDevWithSlashesMadeUnderscores) {
  for (const NameCase& c : Names) {
    char path[LockPathSize];
    EXPECT_EQ((int)strlen(c.want), LockFilePath(path, sizeof path, c.resolved)) << c.resolved;
    EXPECT_STREQ(c.want, path);
  }
  char small[20];
  EXPECT_EQ(-1, LockFilePath(small, sizeof small, "/dev/ttyUSB2"));  // "/var/lock/LCK..ttyUSB2" needs 23
}

struct PidCase { std::string content; int want; };

TEST(ReadLockPid, TakesTheHdbFormAndRefusesAnythingElse) {
  const PidCase cases[] = {
      {"      1234\n", 1234},
      {"1234\n", 1234},                  // written without the padding
      {"  4194304  \n", 4194304},
      {"1234", 1234},
      {"", -1},
      {"\n", -1},
      {"garbage\n", -1},
      {"12ab\n", -1},
      {"0\n", -1},                       // no process has id 0
      {"-5\n", -1},
      {"99999999999\n", -1},             // longer than ten digits
      {std::string("\xd2\x04\x00\x00", 4), -1},  // a binary pid of the old kind
      {"12 34\n", -1},
  };
  for (const PidCase& c : cases)
    EXPECT_EQ(c.want, ReadLockPid(c.content.data(), (int)c.content.size())) << "\"" << c.content << "\"";
}

}  // namespace

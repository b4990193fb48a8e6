// The lock file's name and content: the conventions every serial program on Linux shares.
#include <gtest/gtest.h>

#include <string.h>
#include <sys/stat.h>

#include <string>
#include <utility>

#include "serial/port_lock.h"

TEST(LockFile, NameAndContent) {
  const std::pair<const char*, const char*> names[] = {
      {"/dev/ttyUSB2", "/var/lock/LCK..ttyUSB2"},
      {"/dev/serial/by-id/usb-Modem-if02", "/var/lock/LCK..serial_by-id_usb-Modem-if02"},
      {"/home/user/port", "/var/lock/LCK..home_user_port"},  // a device outside /dev
  };
  for (const auto& name : names) {
    char path[LockPathSize];
    EXPECT_EQ((int)strlen(name.second), LockFilePath(path, sizeof path, name.first));
    EXPECT_STREQ(name.second, path);
  }
  char small[20];
  EXPECT_EQ(-1, LockFilePath(small, sizeof small, "/dev/ttyUSB2"));  // needs 23

  // HDB: ten characters and a line feed; the old format: the int itself, 4 bytes that are no
  // text. A file that holds anything else holds no process id.
  auto binary = [](int32_t pid) { return std::string((const char*)&pid, sizeof pid); };
  const std::pair<std::string, int> pids[] = {
      {"      1234\n", 1234}, {"1234", 1234},  {"", -1},          {"garbage\n", -1},
      {"0\n", -1},           {"99999999999\n", -1}, {"12 34\n", -1},    {binary(1234), 1234},
      {binary(0), -1},        {"abcd", -1},          {binary(1234) + "\n", -1}};
  for (const auto& pid : pids)
    EXPECT_EQ(pid.second, ReadLockPid(pid.first.data(), (int)pid.first.size())) << "\"" << pid.first << "\"";
}

// What the refusal names when something other than a regular file stands at the lock path.
TEST(LockFile, NotALockFile) {
  std::string kinds;
  for (unsigned type : {S_IFIFO, S_IFDIR, S_IFLNK, S_IFSOCK, S_IFCHR, S_IFBLK})
    kinds += NotALockFile(type) + std::string("|");
  EXPECT_EQ("a FIFO|a directory|a symbolic link|a socket|a device|a device|", kinds);
  EXPECT_EQ(nullptr, NotALockFile(S_IFREG));
}

#include <gtest/gtest.h>

#include <cerrno>

#include "platform/linux/Win32Errors.h"
#include "transport/DeviceIo.h"

namespace brisquel::linuxpt {
namespace {

TEST(Win32ErrorFromErrno, NamesEachFailureAsWindowsWould) {
  struct Case {
    int error;
    std::uint32_t code;
  };
  for (const Case& c :
       {Case{ENOENT, 2}, Case{ENOTDIR, 3}, Case{EACCES, 5}, Case{EPERM, 5}, Case{EBADF, 6},
        Case{ENOMEM, 8}, Case{ENOMEDIUM, 21}, Case{ENOTTY, 50}, Case{EOPNOTSUPP, 50},
        Case{EINVAL, 87}, Case{ETIMEDOUT, 121}, Case{EBUSY, 170}, Case{EIO, 1117},
        Case{ENODEV, 1167}, Case{ENXIO, 1167}, Case{EPIPE, 31}}) {
    EXPECT_EQ(Win32ErrorFromErrno(c.error), c.code) << "errno " << c.error;
  }
  // Never ERROR_INVALID_FUNCTION: the SCSI path would count that as success.
  EXPECT_NE(Win32ErrorFromErrno(ENOTTY), win32::ERROR_INVALID_FUNCTION_);
}

TEST(Win32ErrorFromSgIo, PassesCompletionsAndNamesTransportFailures) {
  struct Case {
    std::uint16_t host, driver;
    std::uint32_t code;
  };
  for (const Case& c : {Case{0x00, 0x00, 0}, Case{0x00, 0x08, 0},  // sense valid is a completion
                        Case{0x03, 0x00, 121}, Case{0x00, 0x06, 121}, Case{0x01, 0x00, 1167},
                        Case{0x04, 0x00, 1167}, Case{0x07, 0x00, 1117}, Case{0x00, 0x04, 1117}}) {
    EXPECT_EQ(Win32ErrorFromSgIo(c.host, c.driver), c.code)
        << "host " << c.host << " driver " << c.driver;
  }
}

TEST(Win32MessageText, GivesWindowsTextsWithTheirLineEnd) {
  EXPECT_EQ(Win32MessageText(6), "The handle is invalid.\r\n");
  EXPECT_EQ(Win32MessageText(1117),
            "The request could not be performed because of an I/O device error.\r\n");
  EXPECT_EQ(Win32MessageText(121), "The semaphore timeout period has expired.\r\n");
  // Every code the backend can report has a text.
  for (int e : {ENOENT, ENOTDIR, EACCES, EBADF, EMFILE, ENOMEM, EROFS, ENOMEDIUM, ENOTTY, EINVAL,
                EFAULT, EBUSY, ENAMETOOLONG, ETIMEDOUT, EIO, ENODEV, EPIPE}) {
    EXPECT_NE(Win32MessageText(Win32ErrorFromErrno(e)), "") << "errno " << e;
  }
  EXPECT_EQ(Win32MessageText(0xDEAD), "");
}

}  // namespace
}  // namespace brisquel::linuxpt

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "ops/ErrorCodeNames.h"

namespace brisquel {
namespace {

TEST(ErrorCodeName, NamesTheCodesAtTheEdgesOfRunsAndPages) {
  struct Case {
    std::uint16_t code;
    const char* name;
  };
  for (const Case& c : {
           Case{0x0000, "SUCCESS"},
           Case{0x0015, "SCT_TLER_TIMEOUT_STATUS"},
           Case{0x0016, "UNKNOWN ERROR_0016"},
           Case{0xFFFF, "NOT_AN_ERR_VSC_CMD_EXEC_IN_BKG"},
           Case{0xFFFE, "NOT_AN_ERR_SIO_INVLD_NON_ATA_OPCODE"},
           Case{0xFFFD, "UNKNOWN ERROR_FFFD"},
           Case{0x7F00, "COMMON_PTM_ERROR_CODE_BASE"},
           Case{0x7F01, "PTM_ERR_INV_VEC_TBL_VER"},
           Case{0x7F02, "COMMON_PTM_ERROR_CODE_BASE"},
           Case{0x7FFF, "COMMON_PTM_ERROR_CODE_BASE"},
           Case{0x8000, "HAL_INVALID_PARAMETER"},
           Case{0x5500, "SIO_ERROR_CODE_BASE"},
           Case{0x55AB, "SIO_ERROR_CODE_BASE"},
           Case{0x7100, "ERROR_CODE_BASE"},
           Case{0x76FF, "IBI_ERROR_CODE_BASE"},
           Case{0x7400, "UNKNOWN ERROR_7400"},
           Case{0x5600, "UNKNOWN ERROR_5600"},
           Case{0x3746, "Module not in Dir?"},
           Case{0x51A4, "DISK_ER_FWECC_FAILURE"},
           Case{0x5204, "DISK_ER_FWECC_FAILURE"},
           Case{0x5202, "UNKNOWN ERROR_5202"},
           Case{0xB0B0, "VSC_ERR_P_OVL_ALREADY_LOADED"},
           Case{0xC848, "CHGDEFCMD_FIELD_LIST_ERROR"},
           Case{0x00AB, "UNKNOWN ERROR_00AB"},
       }) {
    EXPECT_EQ(ErrorCodeName(c.code), c.name) << std::hex << c.code;
  }
}

// The table's shape as a whole: a lost or doubled line of a run shifts every
// name after it, which these counts catch.
TEST(ErrorCodeName, TableNamesAllAndOnlyTheListedCodes) {
  EXPECT_EQ(ErrorCodeEntries().size(), 946u);
  EXPECT_EQ(ErrorCodePages().size(), 8u);

  std::set<std::string> singleNames;
  for (const ErrorCodeEntry& e : ErrorCodeEntries()) singleNames.emplace(e.name);
  EXPECT_EQ(singleNames.size(), 945u);

  int runs = 0;
  int previous = -2;
  for (const ErrorCodeEntry& e : ErrorCodeEntries()) {
    if (e.code != previous + 1) ++runs;
    previous = e.code;
  }
  EXPECT_EQ(runs, 128);

  int named = 0;
  std::set<std::string> names;
  for (unsigned code = 0; code <= 0xFFFF; ++code) {
    const std::string name = ErrorCodeName(static_cast<std::uint16_t>(code));
    if (name.rfind("UNKNOWN ERROR_", 0) == 0) continue;
    ++named;
    names.insert(name);
  }
  EXPECT_EQ(named, 2993);
  EXPECT_EQ(names.size(), 953u);
}

// Names such as "DISK_not_used_error_5205" carry their own code: each must sit
// at that code.
TEST(ErrorCodeName, NamesThatCarryTheirCodeSitAtThatCode) {
  int checked = 0;
  for (const ErrorCodeEntry& e : ErrorCodeEntries()) {
    const auto at = e.name.rfind("not_used_error_");
    if (at == std::string_view::npos) continue;
    EXPECT_EQ(std::stoul(std::string(e.name.substr(at + 15)), nullptr, 16), e.code) << e.name;
    ++checked;
  }
  EXPECT_GT(checked, 10);
}

}  // namespace
}  // namespace brisquel

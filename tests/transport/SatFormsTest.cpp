// Which answers make another command block form worth trying, and the forms'
// names as --sat, info and the trace write them.
#include <gtest/gtest.h>

#include "transport/SatForms.h"

namespace brisquel {
namespace {

TEST(SatForms, OnlyARefusalOfTheBlockItselfMovesOn) {
  const auto sense = [](std::uint8_t key, std::uint8_t asc) {
    return CommandResult{.end = CommandEnd::deviceError, .sense = SenseSummary{key, asc, 0}};
  };
  struct Case {
    CommandResult result;
    bool movesOn;
  };
  const Case cases[] = {
      {sense(0x5, 0x20), true},   // invalid command operation code
      {sense(0x5, 0x24), true},   // invalid field in CDB
      {{.end = CommandEnd::systemRefused, .systemError = 87}, true},
      {sense(0x5, 0x21), false},  // another ILLEGAL REQUEST: the block was understood
      {sense(0xB, 0x00), false},  // the drive aborted the command: the form works
      {{.end = CommandEnd::deviceError}, false},
      {{.end = CommandEnd::completed}, false},
      {{.end = CommandEnd::timedOut, .systemError = 121}, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RefusesTheForm(c.result), c.movesOn) << static_cast<int>(c.result.end);
  }
}

TEST(SatForms, EachFormHasItsNameAndItsPlaceOnTheTarget) {
  for (const SatForm form : kSatForms) {
    EXPECT_EQ(SatFormNamed(SatFormName(form)), form);
    DriveTarget target;
    SetSatForm(target, form);
    EXPECT_EQ(TargetSatForm(target), form);
    EXPECT_EQ(target.use16ByteCdb, form == SatForm::x85);
  }
  EXPECT_EQ(SatFormName(SatForm::a1Ten), std::string("12-10"));
  EXPECT_FALSE(SatFormNamed("10"));
  EXPECT_EQ(TargetSatForm(DriveTarget{}), SatForm::a1Ten) << "the first form unless found otherwise";
}

}  // namespace
}  // namespace brisquel

// A result's operation, and the table that turns (operation, status,
// variant) into the texts the user reads.
#include <gtest/gtest.h>

#include "link/failure_text.h"
#include "tests/fixtures/fake_prompter.h"

namespace qmx {
namespace {

using test::FakePrompter;
using test::Shown;

TEST(ResultOperation, AFailureSaysWhatFailedAndCarriesItOver) {
  const Done plain = Done::Fail(Status::NoReply);
  EXPECT_EQ(plain.operation(), Operation::None);

  const Done during = plain.During(Operation::MemorySave);
  EXPECT_EQ(during.operation(), Operation::MemorySave);
  EXPECT_EQ(during.status(), Status::NoReply);
  EXPECT_EQ(plain.operation(), Operation::None) << "the const form copies";

  const Done opened = Done::Fail(Operation::OpenPort, Status::CannotOpen, "busy");
  const Result<int> carried = Result<int>::From(opened);
  EXPECT_EQ(carried.operation(), Operation::OpenPort);
  EXPECT_EQ(carried.status(), Status::CannotOpen);
  EXPECT_EQ(carried.reason(), "busy");

  // A success stays one, whatever it is said to be part of.
  const Result<int> value = Result<int>(7).During(Operation::ReadBanks);
  EXPECT_TRUE(value.ok());
  EXPECT_EQ(value.operation(), Operation::None);
  EXPECT_EQ(*value, 7);
}

struct Case {
  Operation operation;
  Status status;
  Variant variant;
  const char* subject;
  const char* message;  // nullptr: no box
  const char* caption;
};

// The places that word one failure differently keep their own spellings.
TEST(FailureOf, EachPlaceKeepsItsWording) {
  using O = Operation;
  using V = Variant;
  const Case cases[] = {
      {O::EnterProtocolMode, Status::NoReply, V::Plain, "", "Could not enter protocol mode.",
       "EnterProtocolMode Error"},
      {O::EnterProtocolMode, Status::NoReply, V::TryAgain, "", "Could not enter protocol mode.  Please try again.",
       "EnterProtocol Mode Error"},
      {O::EnterProtocolMode, Status::NoReply, V::Defaults, "", "Could not enter protocol mode.  Please try again.",
       "EnterProtocolMode Error"},
      {O::EnterProtocolMode, Status::NoReply, V::Packet, "", "Could not enter Protocol Mode.  Please try again.",
       "EnterProtocolMode Error"},
      {O::EnterProtocolMode, Status::NoReply, V::Apply, "", "Could not talk to radio.", "Could not enter config mode."},
      {O::EnterProtocolMode, Status::NoReply, V::ApplyReset, "", "Could not reset unit.  Please try again.",
       "EnterProtocolModeError"},
      // A variant without a wording of its own takes the plain one.
      {O::EnterProtocolMode, Status::PortClosed, V::Mac, "", "Could not enter protocol mode.",
       "EnterProtocolMode Error"},
      {O::FactoryOverride, Status::Refused, V::Fcc, "4", "Factory Overwrite Failure", "Factory Override Error"},
      // The status picks the text where the operation has one per status.
      {O::LineSettings, Status::LineNotRead, V::Plain, "", "Could not setup comm port.  Please try again.",
       "Get DCB Error"},
      {O::LineSettings, Status::LineNotApplied, V::Plain, "", "Could not setup comm port.  Please try again.",
       "Set DCB Error"},
      {O::LineSettings, Status::LineNotRead, V::Apply, "", "DCB Comm Error", "DCB Error"},
      {O::LineSettings, Status::LineNotApplied, V::Apply, "", "DCB Comm Error", "DCB Error2"},
      {O::LineSettings, Status::LineNotRead, V::Defaults, "", "Error settings Comm Parameters",
       "Comm Parameter Error"},
      // The subject goes wherever the text names it.
      {O::SetRegister, Status::NoReply, V::Fcc, "4", "Could not set FCC 4", "FCC 4 Error"},
      {O::Upgrade, Status::BadInput, V::NoFirmware, "12",
       "File holds no firmware: 12 bytes, no more than its 128-byte header.  Please check file and try again.",
       "File size 12"},
      {O::OpenLog, Status::FileError, V::Plain, "diagfile.dat", "Erroring opening diagfile.dat", "LogFile Error"},
      {O::LoadProfile, Status::BadInput, V::Plain, "3: 100% is no number",
       "The profile was not loaded: line 3: 100% is no number", "Load Profile"},
      {O::LoadProfile, Status::FileError, V::Plain, "a.qmxprofile", "Could not read the profile a.qmxprofile.",
       "Load Profile"},
      // No box: success, a quiet step, an operation nobody words.
      {O::EnterProtocolMode, Status::Ok, V::Plain, "", nullptr, nullptr},
      {O::Verify, Status::Mismatch, V::Quiet, "", nullptr, nullptr},
      {O::Verify, Status::Mismatch, V::Plain, "", nullptr, nullptr},
      {O::None, Status::NoReply, V::Plain, "", nullptr, nullptr},
  };
  for (const Case& c : cases) {
    const auto text = FailureOf(c.operation, c.status, c.variant, c.subject);
    const std::string where = std::to_string(static_cast<int>(c.operation)) + "/" +
                              std::to_string(static_cast<int>(c.variant));
    if (!c.message) {
      EXPECT_FALSE(text) << where;
      continue;
    }
    ASSERT_TRUE(text) << where;
    EXPECT_EQ(text->message, c.message) << where;
    EXPECT_EQ(text->caption, c.caption) << where;
    EXPECT_EQ(text->detail, "") << where;
  }
}

TEST(ShowFailure, OneBoxForAFailureNoneForSuccessTheReasonBelowWhereShown) {
  FakePrompter prompter;
  EXPECT_TRUE(ShowFailure(prompter, Done{}));
  EXPECT_TRUE(prompter.All().empty());

  // The reason of a port that did not open is the detail line; of a file
  // that could not be created, part of the message.
  EXPECT_FALSE(ShowFailure(prompter, Done::Fail(Operation::OpenPort, Status::CannotOpen, "/dev/ttyUSB0 is busy")));
  EXPECT_FALSE(ShowFailure(prompter, Result<int>::Fail(Operation::CreateFile, Status::FileError, "a folder")));
  // A result that names no operation shows nothing; a port failure is
  // worded by its status.
  EXPECT_FALSE(ShowFailure(prompter, Done::Fail(Status::WriteFailed)));
  EXPECT_FALSE(ShowPortFailure(prompter, Done::Fail(Status::WriteFailed)));
  EXPECT_EQ(prompter.All(),
            (std::vector<Shown>{
                {"Could not open selected CommPort.  Please close all programs and try again.", "Invalid Comm Port",
                 false},
                {"Could not create file: a folder.  Check filename and try again", "Invalid Filename", false},
                {"Could not write data to comm port please check cable and radio power.", "Comm Port Write Problem",
                 false}}));
  EXPECT_EQ(prompter.Details(), (std::vector<std::string>{"/dev/ttyUSB0 is busy", "", ""}));
}

}  // namespace
}  // namespace qmx

#include "link/failure_text.h"

#include <array>

#include "link/prompter.h"
#include "link/serial_port.h"

namespace qmx {

namespace {

using O = Operation;
using V = Variant;

// One failure as the user reads it. `status` Ok stands for any status. A
// '%' in the message or the caption is the subject; `subjectBelow` puts the
// subject (the system's reason) in the detail line instead.
struct Row {
  Operation operation;
  Variant variant;
  Status status;
  const char* message;
  const char* caption;
  bool subjectBelow = false;
};

constexpr char kSetupFailed[] = "Could not setup comm port.  Please try again.";
constexpr char kNoRadio[] = "Could not detect radio.  Please cycle power and try again";
constexpr char kNoImage[] = "Could not get image.  Please try again.";
constexpr Status kAny = Status::Ok;

// Looked up from the top: the first row of the operation and variant whose
// status matches.
constexpr Row kRows[] = {
    // The serial port.
    {O::OpenPort, V::Plain, kAny, "Could not open selected CommPort.  Please close all programs and try again.",
     "Invalid Comm Port", true},
    {O::StartThread, V::Plain, kAny, "Thread Creation Failed", "Thread Error"},
    {O::LineSettings, V::Plain, Status::LineNotRead, kSetupFailed, "Get DCB Error"},
    {O::LineSettings, V::Plain, Status::LineNotApplied, kSetupFailed, "Set DCB Error"},
    {O::LineSettings, V::Apply, Status::LineNotRead, "DCB Comm Error", "DCB Error"},
    {O::LineSettings, V::Apply, Status::LineNotApplied, "DCB Comm Error", "DCB Error2"},
    {O::LineSettings, V::Defaults, kAny, "Error settings Comm Parameters", "Comm Parameter Error"},
    {O::LineSettings, V::Dialog, kAny,
     "The selected comm port settings are not valid.\nPlease check settings and try again.",
     "Invalid Comm Port Settings"},
    {O::Write, V::Plain, Status::WriteFailed, "Could not write data to comm port please check cable and radio power.",
     "Comm Port Write Problem"},
    {O::PortLost, V::Plain, kAny, "The radio's serial port has gone away.  Please check the cable and connect again.",
     "Port Lost"},
    {O::FindRadio, V::Plain, kAny, "Could not detect radio.  Please try again.", "No Radio Detected"},
    {O::FindRadio, V::Dialog, kAny, "Could not find device.  Please check settings and try again.",
     "Device not present"},

    // Protocol mode.
    {O::EnterProtocolMode, V::Plain, kAny, "Could not enter protocol mode.", "EnterProtocolMode Error"},
    {O::EnterProtocolMode, V::TryAgain, kAny, "Could not enter protocol mode.  Please try again.",
     "EnterProtocol Mode Error"},
    {O::EnterProtocolMode, V::Defaults, kAny, "Could not enter protocol mode.  Please try again.",
     "EnterProtocolMode Error"},
    {O::EnterProtocolMode, V::Packet, kAny, "Could not enter Protocol Mode.  Please try again.",
     "EnterProtocolMode Error"},
    {O::EnterProtocolMode, V::Apply, kAny, "Could not talk to radio.", "Could not enter config mode."},
    {O::EnterProtocolMode, V::ApplyReset, kAny, "Could not reset unit.  Please try again.", "EnterProtocolModeError"},
    {O::ExitProtocolMode, V::Plain, kAny, "Could not exit config mode", "ExitConfigMode Error"},
    {O::ExitProtocolMode, V::Packet, kAny, "Could not exit Protocol Mode.  Please try again.", "ExitProtocolMode Error"},

    // Reads.
    {O::ReadRadio, V::Plain, kAny, "Could not read data.  Please try again.", "Read Failed"},
    {O::ReadBanks, V::Plain, kAny, "Could not get data from radio.  Please try again.", "BANKALL Failed"},
    {O::CheckParameters, V::Plain, kAny, "Could not communicate with device", "CheckParameters Failed"},
    {O::GetRegister, V::Packet, kAny, "Could not get data.  Please try again.", "GetField Error"},
    {O::GetRemoteRegister, V::Packet, kAny, "Could not get remote register.  Please try again.",
     "Get Remote Register Error"},

    // Writes and actions.
    {O::SetRegister, V::Packet, kAny, "Could not set data.  Please try again.", "Set Field Error"},
    {O::SetRegister, V::Mac, kAny, "Could not set MAC Address", "SetField Error"},
    {O::SetRegister, V::Fcc, kAny, "Could not set FCC %", "FCC % Error"},
    {O::SetRegister, V::Baud, kAny, "Baudrate Set Failed", "Baudrate Problem"},
    {O::SetRegister, V::SerialParams, kAny, "Serial Params Set Failed", "Serial Params Problem"},
    {O::SetRemoteRegister, V::Packet, kAny, "Could not set remote register.  Please try again.",
     "Set Remote Register Error"},
    {O::TxData, V::Plain, kAny, "Could not send data", "Send Data Failed"},
    {O::TxData, V::Packet, kAny, "Could not send data.  Please try again.", "Send Data Error"},
    {O::SoftwareReset, V::Packet, kAny, "Could not reset radio.  Please try again.", "ResetRadio Error"},
    {O::MemorySave, V::Apply, kAny, "Could not save data to memory.  Please try again.", "Memory Save Error"},
    {O::MemorySave, V::Mac, kAny, "Could not save MAC Address.", "MemorySave Error"},
    {O::FactoryDefaults, V::Plain, kAny, "Could not default radio.  Please try again.", "DefaultRadio Error"},
    {O::FactoryOverride, V::Plain, kAny, "Factory Overwrite Failure", "Factory Override Error"},
    {O::CheckInput, V::Mac, kAny, "MAC Address invalid.  Please try again.", "MAC Address Error"},

    // The boot code and the firmware.
    {O::BootCode, V::Plain, kAny, "Could not communicate with radio.  Cycle power and try again.", "No communication"},
    {O::Upgrade, V::BootPrompt, kAny, kNoRadio, "Could enter boot code"},
    {O::Upgrade, V::Prompt, kAny, kNoRadio, "No prompt"},
    {O::Upgrade, V::Transfer, kAny, "Programming unsuccessful.  Please cycle power and try again.",
     "File transfer unsuccessful"},
    {O::Upgrade, V::Answer, kAny, "Programming failed.  Please try again", "No prompt"},
    {O::Upgrade, V::TooLarge, kAny, "File size is to large.  Please check file and try again.", "File size %"},
    {O::Upgrade, V::NoFirmware, kAny,
     "File holds no firmware: % bytes, no more than its 128-byte header.  Please check file and try again.",
     "File size %"},
    {O::Upload, V::Plain, kAny, kNoImage, "No Save Image Reply"},

    // Files.
    {O::ReadFile, V::Plain, kAny, "Filename invalid.  Check filename and try again", "Invalid Filename"},
    {O::CreateFile, V::Plain, kAny, "Could not create file: %.  Check filename and try again", "Invalid Filename"},
    {O::WriteFile, V::Plain, kAny, "Could not write file.  Check disk space and try again", "Save Image Failed"},
    {O::OpenLog, V::Plain, kAny, "Erroring opening %", "LogFile Error"},
    {O::SaveProfile, V::Plain, kAny, "Could not write the profile %.", "Save Profile"},
    {O::LoadProfile, V::Plain, Status::BadInput, "The profile was not loaded: line %", "Load Profile"},
    {O::LoadProfile, V::Plain, kAny, "Could not read the profile %.", "Load Profile"},
};

const Row* Find(Operation operation, Status status, Variant variant) {
  for (const Row& row : kRows)
    if (row.operation == operation && row.variant == variant && (row.status == kAny || row.status == status))
      return &row;
  return nullptr;
}

std::string Fill(std::string_view text, std::string_view subject) {
  std::string out;
  for (char c : text) {
    if (c == '%') out += subject;
    else out += c;
  }
  return out;
}

struct FlagText {
  unsigned flag;
  LineErrorText text;
};

// Report order: the first flag set in this list is the one shown.
constexpr std::array<FlagText, 8> kLineErrors{{
    {lineerror::IoError, {"An I/O error occurred during communications with the device.", "I/O Error"}},
    {lineerror::ModeNotSupported, {"The requested mode is not supported.", "Mode Error"}},
    {lineerror::Break, {"The hardware detected a break condition.", "Break Error"}},
    {lineerror::Framing, {"The hardware detected a framing error.", "Framing Error"}},
    {lineerror::InputOverflow, {"An input buffer overflow has occurred.", "Input Buffer Error"}},
    {lineerror::OutputFull,
     {"The application tried to transmit a character, but the output buffer was full.", "Output Buffer Error"}},
    {lineerror::Overrun, {"A character-buffer overrun has occurred.", "Overrun Error"}},
    {lineerror::Parity, {"The hardware detected a parity error.", "Rx Parity Error"}},
}};

}  // namespace

std::optional<FailureText> FailureOf(Operation operation, Status status, Variant variant, std::string_view subject) {
  if (status == Status::Ok || variant == Variant::Quiet) return std::nullopt;
  const Row* row = Find(operation, status, variant);
  if (!row && variant != Variant::Plain) row = Find(operation, status, Variant::Plain);
  if (!row) return std::nullopt;
  if (row->subjectBelow) return FailureText{row->message, row->caption, std::string(subject)};
  return FailureText{Fill(row->message, subject), Fill(row->caption, subject), {}};
}

std::optional<FailureText> PortFailureText(Status status, const std::string& reason) {
  switch (status) {
    case Status::CannotOpen:
      return FailureOf(O::OpenPort, status, V::Plain, reason);
    case Status::ThreadFailed:
      return FailureOf(O::StartThread, status);
    case Status::LineNotRead:
    case Status::LineNotApplied:
      return FailureOf(O::LineSettings, status);
    case Status::WriteFailed:
      return FailureOf(O::Write, status);
    default:
      return std::nullopt;
  }
}

LineErrorText FirstLineError(unsigned flags) {
  for (const auto& e : kLineErrors) {
    if (flags & e.flag) return e.text;
  }
  return {nullptr, nullptr};
}

std::optional<FailureText> LineErrorFailureText(unsigned flags) {
  const LineErrorText text = FirstLineError(flags);
  if (!text.message) return std::nullopt;
  return FailureText{text.message, text.caption, {}};
}

FailureText LogFileFailureText(std::string_view fileName) {
  return *FailureOf(O::OpenLog, Status::FileError, V::Plain, fileName);
}

void ShowFailure(Prompter& prompter, const FailureText& text) {
  if (text.detail.empty()) prompter.Message(text.message, text.caption);
  else prompter.MessageWithDetail(text.message, text.caption, text.detail);
}

void ShowFailure(Prompter& prompter, const std::optional<FailureText>& text) {
  if (text) ShowFailure(prompter, *text);
}

}  // namespace qmx

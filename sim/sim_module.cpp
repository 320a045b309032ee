#include "sim/sim_module.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "link/banks.h"

namespace qmx::sim {

namespace {

using std::chrono::milliseconds;

// Positions in a radio's banks (index into Banks, then register).
namespace bi {
constexpr std::size_t B0 = 0, B1 = 1, B2 = 2, B3 = 3, B4 = 4, B5 = 5, B6 = 6, B16 = 7;
}
namespace reg0 {
constexpr std::size_t DeviceMode = 0, InitialPanId = 1, WakeDuration = 6, TxPower = 10, UserTag = 28;
}
namespace reg1 {
constexpr std::size_t ChannelList = 17, ArqLimit = 19, BroadcastAttempts = 23, LeasePeriod = 25,
                      RelayScanNormal = 30, RelayScanFast = 32;
}
namespace reg2 {
constexpr std::size_t Mac = 0, MacLength = 8, NetworkAddress = 8, PanId = 10, Channel = 12, LinkStatus = 13,
                      HardwareVersion = 14, FirmwareVersion = 15, FirmwareBuild = 16, RssiIdle = 19, RssiLast = 20;
}
namespace reg4 {
constexpr std::size_t ProtocolMode = 0, TxTimeout = 2, MinPacketLength = 3, StartupAnnounce = 4,
                      TransparentAddress = 7;
}
namespace reg5 {
constexpr std::size_t Adc0 = 6, Voltage = 12, Temperature = 14, Pwm0 = 17, Pwm1 = 19;
}
namespace reg6 {
constexpr std::size_t GpioInit = 1, Pwm0Init = 7, Pwm1Init = 9, AdcInterval = 12, Thresholds = 14,
                      IoInterval = 26;
}
namespace reg16 {
constexpr std::size_t Uptime = 0, RxPackets = 4, TxPackets = 8, TxData = 16, RxData = 18, BuildDate = 53,
                      Crystal = 73;
}

constexpr std::uint8_t kDeviceRemote = 0;
constexpr std::uint8_t kDeviceBase = 2;
constexpr std::uint8_t kProtocolModeProtocol = 2;
constexpr std::uint16_t kPanId = 0x1234;
constexpr std::uint8_t kChannel = 0x0F;
constexpr std::uint16_t kBroadcast = 0xFFFF;
constexpr char kBuildDate[] = "Dec 7 2026 10:00:00";  // 19 characters, the field's width
static_assert(sizeof(kBuildDate) - 1 == 19);

namespace announce {
constexpr std::uint8_t Startup = 0xA0;
constexpr std::uint8_t PanFormed = 0xA1;
constexpr std::uint8_t RemoteJoined = 0xA2;
constexpr std::uint8_t JoinedPan = 0xA3;
constexpr std::uint8_t NodeLeft = 0xA5;
constexpr std::uint8_t InvalidType = 0xE0;
constexpr std::uint8_t InvalidArgument = 0xE1;
constexpr std::uint8_t ParserTimeout = 0xE3;
constexpr std::uint8_t ReadOnly = 0xE4;
}  // namespace announce

namespace action {
constexpr std::uint8_t RemoteReset = 0x00;
constexpr std::uint8_t FccMode = 0x06;
constexpr std::uint8_t Override = 0x6A;
constexpr std::uint8_t Memory = 0xFF;  // data 0: defaults, 1: save
}  // namespace action

// Enter Protocol Mode as it appears on the wire; byte 2 (sequence) is free.
constexpr std::array<std::uint8_t, 11> kEnterFrame{kStartOfPacket, 9, 0, ptype::EnterProtocolMode, 'Q', 'M', 'X',
                                                   '2', '4', '0', '0'};
constexpr std::size_t kEnterSequenceAt = 2;

int BankIndex(std::uint8_t bank) {
  for (std::size_t i = 0; i < kBanks.size(); ++i)
    if (kBanks[i].bank == bank) return static_cast<int>(i);
  return -1;
}

template <typename Bytes>
void Put16(Bytes& b, std::size_t at, std::uint16_t v) {
  b[at] = static_cast<std::uint8_t>(v & 0xFF);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
template <typename Bytes>
void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (std::size_t i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
template <typename Bytes>
std::uint16_t Get16(const Bytes& b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

void PutText(std::uint8_t* at, std::size_t width, std::string_view text) {
  std::memset(at, 0, width);
  std::memcpy(at, text.data(), std::min(width, text.size()));
}

std::array<std::uint8_t, 2> AddressBytes(std::uint16_t a) {
  return {static_cast<std::uint8_t>(a & 0xFF), static_cast<std::uint8_t>(a >> 8)};
}

// The banks written by a "load factory defaults": the settings banks. Bank 2
// (identity and live status) and bank 16 (statistics) are not settings.
constexpr std::array<std::size_t, 6> kSettingBanks{bi::B0, bi::B1, bi::B3, bi::B4, bi::B5, bi::B6};

}  // namespace

// ---------------------------------------------------------------------------
// Line settings

bool SimLine::Accepts(const LineSettings& host) const {
  if (host.baudRate != settings.baudRate) return false;
  const bool frame = host.byteSize == 8 && host.parity == settings.parity;
  const bool stop = host.stopBits == settings.stopBits;
  switch (match) {
    case MatchMode::Uart:
      return frame;
    case MatchMode::Full:
      return frame && stop;
    case MatchMode::BaudRate:
      return true;
    case MatchMode::BaudAndStopBits:
      return stop;
  }
  return false;
}

namespace {
constexpr std::array<std::pair<std::uint8_t, std::uint32_t>, 8> kBaudCodes{
    {{3, 1200}, {4, 2400}, {5, 4800}, {6, 9600}, {7, 19200}, {8, 38400}, {9, 57600}, {11, 115200}}};
struct ParamCode {
  std::uint8_t code, parity, stopBits;
};
constexpr std::array<ParamCode, 6> kParamCodes{{{0x00, parity::None, stopbits::One},
                                                {0x08, parity::None, stopbits::Two},
                                                {0x20, parity::Even, stopbits::One},
                                                {0x28, parity::Even, stopbits::Two},
                                                {0x30, parity::Odd, stopbits::One},
                                                {0x38, parity::Odd, stopbits::Two}}};
}  // namespace

std::optional<std::uint32_t> BaudFromCode(std::uint8_t code) {
  for (auto [c, baud] : kBaudCodes)
    if (c == code) return baud;
  return std::nullopt;
}

std::optional<std::uint8_t> CodeFromBaud(std::uint32_t baud) {
  for (auto [c, b] : kBaudCodes)
    if (b == baud) return c;
  return std::nullopt;
}

std::optional<LineSettings> LineFromCodes(std::uint8_t baudCode, std::uint8_t paramCode) {
  auto baud = BaudFromCode(baudCode);
  if (!baud) return std::nullopt;
  for (const auto& p : kParamCodes) {
    if (p.code != paramCode) continue;
    LineSettings line;
    line.baudRate = *baud;
    line.byteSize = 8;
    line.parity = p.parity;
    line.stopBits = p.stopBits;
    return line;
  }
  return std::nullopt;
}

std::optional<std::array<std::uint8_t, 2>> CodesFromLine(const LineSettings& line) {
  auto baud = CodeFromBaud(line.baudRate);
  if (!baud || line.byteSize != 8) return std::nullopt;
  for (const auto& p : kParamCodes)
    if (p.parity == line.parity && p.stopBits == line.stopBits) return std::array<std::uint8_t, 2>{*baud, p.code};
  return std::nullopt;
}

// ---------------------------------------------------------------------------
// Construction and the scheduler

SimOptions LiveNetwork(milliseconds interval, std::uint32_t seed) {
  SimOptions o;
  o.seed = seed;
  o.network.live = interval.count() > 0;
  if (o.network.live) o.network.interval = interval;
  return o;
}

SimModule::SimModule(SimOptions options)
    : options_(options),
      time_(options.time ? *options.time : SteadyTime()),
      rng_(options.seed),
      networkRng_(options.seed ^ 0x9E3779B9u) {
  line_.match = options_.match;
  local_ = MakeRadio(0x0000, true, 0);
  for (std::uint8_t i = 1; i <= 3; ++i) remotes_.emplace(i, MakeRadio(i, false, i));
  ApplyLineFromBanks();
  // The module was powered before anyone looked: it is running, without
  // start-up announcements.
  protocolMode_ = local_.working[bi::B4][reg4::ProtocolMode] == kProtocolModeProtocol;
  // A clock moved by hand wakes the scheduler under the module's lock, so
  // that neither its move nor a new task can slip past the scheduler's
  // check of the time before it blocks.
  if (!time_.Steady()) time_.OnMove(this, [this] {
    std::lock_guard lock(mutex_);
    wake_.notify_all();
  });
  scheduler_ = std::thread([this] { SchedulerLoop(); });
}

SimModule::~SimModule() {
  if (!time_.Steady()) time_.OnMove(this, nullptr);
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  scheduler_.join();
}

void SimModule::SchedulerLoop() {
  Lock lock(mutex_);
  while (!stopping_) {
    if (tasks_.empty()) {
      wake_.wait(lock);
      continue;
    }
    const auto due = tasks_.top().due;
    if (time_.Now() < due) {
      if (time_.Steady()) time_.WaitUntil(lock, wake_, due);
      else wake_.wait(lock);
      continue;
    }
    auto run = tasks_.top().run;
    taskDue_ = tasks_.top().due;
    tasks_.pop();
    run();
    taskDue_.reset();
    idle_.notify_all();
  }
}

Clock::time_point SimModule::TaskNow() const { return taskDue_ ? *taskDue_ : time_.Now(); }

void SimModule::After(milliseconds delay, std::function<void()> task) {
  tasks_.push(Task{TaskNow() + delay, taskOrder_++, std::move(task)});
  wake_.notify_all();
}

void SimModule::WaitUntilIdle() const {
  Lock lock(mutex_);
  idle_.wait(lock, [this] { return stopping_ || tasks_.empty() || tasks_.top().due > time_.Now(); });
}

// ---------------------------------------------------------------------------
// Radios

SimModule::Radio SimModule::MakeRadio(std::uint16_t address, bool base, std::uint8_t index) {
  Radio r;
  r.address = address;
  r.index = index;
  Banks& b = r.factory;

  b[bi::B0][reg0::DeviceMode] = base ? kDeviceBase : kDeviceRemote;
  Put16(b[bi::B0], reg0::InitialPanId, kPanId);
  Put16(b[bi::B0], reg0::WakeDuration, 0x0064);
  b[bi::B0][reg0::TxPower] = 0x12;
  std::string tag = base ? "QMX2400 Base" : "Remote " + std::to_string(index);
  PutText(&b[bi::B0][reg0::UserTag], 16, tag);

  Put16(b[bi::B1], reg1::ChannelList, 0xFFFF);
  b[bi::B1][reg1::ArqLimit] = 3;
  b[bi::B1][reg1::BroadcastAttempts] = 3;
  Put32(b[bi::B1], reg1::LeasePeriod, 3600);
  Put16(b[bi::B1], reg1::RelayScanNormal, 0x0100);
  Put16(b[bi::B1], reg1::RelayScanFast, 0x0020);

  // MAC 02:51:4D:58:24:00:00:nn, least significant byte first.
  const std::array<std::uint8_t, 8> mac{static_cast<std::uint8_t>(index + 1), 0x00, 0x00, 0x24, 0x58, 0x4D, 0x51, 0x02};
  std::copy(mac.begin(), mac.end(), b[bi::B2].begin() + reg2::Mac);
  Put16(b[bi::B2], reg2::NetworkAddress, address);
  Put16(b[bi::B2], reg2::PanId, kPanId);
  b[bi::B2][reg2::Channel] = kChannel;
  b[bi::B2][reg2::LinkStatus] = 1;
  b[bi::B2][reg2::HardwareVersion] = 0x21;
  b[bi::B2][reg2::FirmwareVersion] = 0x21;
  Put16(b[bi::B2], reg2::FirmwareBuild, 0x0105);
  b[bi::B2][reg2::RssiIdle] = 0x1C;
  b[bi::B2][reg2::RssiLast] = 0x5A;

  // 9600 baud, no parity, one stop bit.
  b[bi::B3][0] = 6;
  b[bi::B3][1] = 0x00;

  b[bi::B4][reg4::ProtocolMode] = 0;  // transparent point-to-point
  b[bi::B4][reg4::TxTimeout] = 0x05;
  b[bi::B4][reg4::MinPacketLength] = 0x01;
  b[bi::B4][reg4::StartupAnnounce] = 1;
  Put16(b[bi::B4], reg4::TransparentAddress, base ? kBroadcast : 0x0000);

  // Remotes show a different pin pattern and readings each.
  const std::uint8_t pins = base ? 0x00 : static_cast<std::uint8_t>((0x15 >> (index - 1)) & 0x3F);
  for (std::size_t p = 0; p < 6; ++p) b[bi::B5][p] = (pins >> p) & 1;
  for (std::size_t a = 0; a < 3; ++a)
    Put16(b[bi::B5], reg5::Adc0 + 2 * a, static_cast<std::uint16_t>(0x0100 + 0x0C0 * a + 0x040 * index));
  Put16(b[bi::B5], reg5::Voltage, 0x0CE4);
  b[bi::B5][reg5::Temperature] = static_cast<std::uint8_t>(0x19 + index);

  b[bi::B6][reg6::GpioInit] = pins;
  Put16(b[bi::B6], reg6::AdcInterval, 0x0064);
  for (std::size_t t = 0; t < 3; ++t) {
    Put16(b[bi::B6], reg6::Thresholds + 4 * t, 0x0000);
    Put16(b[bi::B6], reg6::Thresholds + 4 * t + 2, 0x03FF);
  }
  Put32(b[bi::B6], reg6::IoInterval, 1000);

  std::memcpy(&b[bi::B16][reg16::BuildDate], kBuildDate, 19);
  Put16(b[bi::B16], reg16::Crystal, 16000);

  r.working = r.factory;
  r.saved = r.factory;
  r.lqi = static_cast<std::uint8_t>(base ? 0xFF : 0xD8 - 0x20 * (index - 1));
  r.bootedAt = time_.Now();
  return r;
}

SimModule::Radio* SimModule::FindRadio(int radio) {
  if (radio == kLocal) return &local_;
  if (radio < 0 || radio > 0xFFFF) return nullptr;
  auto it = remotes_.find(static_cast<std::uint16_t>(radio));
  return it == remotes_.end() ? nullptr : &it->second;
}

const SimModule::Radio* SimModule::FindRadio(int radio) const {
  return const_cast<SimModule*>(this)->FindRadio(radio);
}

void SimModule::ApplyLineFromBanks() {
  const auto& b3 = local_.working[bi::B3];
  if (auto line = LineFromCodes(b3[0], b3[1])) line_.settings = *line;
}

void SimModule::DriftInputs(Radio& radio) {
  std::uniform_int_distribution<int> step(-3, 3);
  auto& b5 = radio.working[bi::B5];
  for (std::size_t a = 0; a < 3; ++a) {
    const std::size_t at = reg5::Adc0 + 2 * a;
    Put16(b5, at, static_cast<std::uint16_t>(std::clamp(Get16(b5, at) + step(rng_), 0, 0x03FF)));
  }
  Put16(b5, reg5::Voltage, static_cast<std::uint16_t>(std::clamp(Get16(b5, reg5::Voltage) + step(rng_), 0, 0x0FFF)));
}

void SimModule::RefreshLive(Radio& radio) const {
  const auto up = std::chrono::duration_cast<std::chrono::seconds>(time_.Now() - radio.bootedAt).count();
  Put32(radio.working[bi::B16], reg16::Uptime, static_cast<std::uint32_t>(up));
}

void SimModule::Count(std::uint8_t reg, std::uint8_t width) {
  auto& b = local_.working[bi::B16];
  for (std::size_t i = 0; i < width; ++i)
    if (++b[reg + i] != 0) break;
}

// Settings a radio takes up when it starts: outputs at their initial levels.
static void StartIo(std::array<std::array<std::uint8_t, 75>, 8>& w) {
  const std::uint8_t init = w[bi::B6][reg6::GpioInit];
  for (std::size_t p = 0; p < 6; ++p) w[bi::B5][p] = (init >> p) & 1;
  w[bi::B5][reg5::Pwm0] = w[bi::B6][reg6::Pwm0Init];
  w[bi::B5][reg5::Pwm0 + 1] = w[bi::B6][reg6::Pwm0Init + 1];
  w[bi::B5][reg5::Pwm1] = w[bi::B6][reg6::Pwm1Init];
  w[bi::B5][reg5::Pwm1 + 1] = w[bi::B6][reg6::Pwm1Init + 1];
}

// Statistics start from zero with each start; the build date and crystal stay.
static void ClearStatistics(std::array<std::uint8_t, 75>& b16) {
  std::fill(b16.begin(), b16.begin() + reg16::BuildDate, 0);
}

// ---------------------------------------------------------------------------
// Booting

void SimModule::StartBoot(bool cold) {
  if (cold) {
    local_.working = local_.saved;
    // Live values are not stored; they come from the radio itself.
    auto& b2 = local_.working[bi::B2];
    const auto& live = local_.factory[bi::B2];
    std::copy(live.begin() + reg2::MacLength, live.begin() + kBanks[bi::B2].length, b2.begin() + reg2::MacLength);
  }
  phase_ = Phase::Booting;
  protocolMode_ = false;
  assembler_.Reset();
  held_.clear();
  overrideArmed_ = false;
  overrideFresh_ = false;
  overrideUsedBy_.reset();
  local_.fccMode = 0;
  const auto generation = ++bootGeneration_;
  // The bootloader listens during this window; it will hook in here.
  After(options_.bootTime, [this, generation] { FinishBoot(generation); });
}

void SimModule::FinishBoot(std::uint64_t generation) {
  if (generation != bootGeneration_ || !plugged_) return;
  phase_ = Phase::Running;
  ApplyLineFromBanks();
  auto& w = local_.working;
  protocolMode_ = w[bi::B4][reg4::ProtocolMode] == kProtocolModeProtocol;
  local_.bootedAt = time_.Now();
  ClearStatistics(w[bi::B16]);
  StartIo(w);
  const std::uint8_t mode = w[bi::B0][reg0::DeviceMode];
  std::copy_n(w[bi::B0].begin() + reg0::InitialPanId, 2, w[bi::B2].begin() + reg2::PanId);
  if (mode == kDeviceBase) Put16(w[bi::B2], reg2::NetworkAddress, 0x0000);
  AnnounceStartup(generation);
}

void SimModule::AnnounceStartup(std::uint64_t generation) {
  if (local_.working[bi::B4][reg4::StartupAnnounce] != 0) EmitAnnounce(announce::Startup);
  if (options_.network.live) {
    networkStarted_ = true;
    HoldRemotes();
  }
  const std::uint8_t mode = local_.working[bi::B0][reg0::DeviceMode];
  After(options_.panFormTime, [this, generation, mode] {
    if (generation != bootGeneration_ || phase_ != Phase::Running || !plugged_) return;
    const auto& b2 = local_.working[bi::B2];
    if (mode == kDeviceBase) {
      EmitAnnounce(announce::PanFormed, std::span(b2).subspan(reg2::PanId, 2));
      if (options_.network.live) JoinInTurn();
    } else if (mode == kDeviceRemote) {
      std::array<std::uint8_t, 4> fields{b2[reg2::PanId], b2[reg2::PanId + 1], b2[reg2::NetworkAddress],
                                         b2[reg2::NetworkAddress + 1]};
      EmitAnnounce(announce::JoinedPan, fields);
    }
  });
}

void SimModule::RebootRemote(Radio& remote) {
  remote.rebooting = true;
  remote.fccMode = 0;
  const auto generation = ++remote.bootGeneration;
  const auto address = remote.address;
  After(options_.bootTime + options_.panFormTime,
        [this, address, generation] { RemoteBooted(address, generation); });
}

void SimModule::RemoteBooted(std::uint16_t address, std::uint64_t generation) {
  auto it = remotes_.find(address);
  if (it == remotes_.end() || it->second.bootGeneration != generation) return;
  Radio& r = it->second;
  r.rebooting = false;
  r.bootedAt = time_.Now();
  ClearStatistics(r.working[bi::B16]);
  StartIo(r.working);
  if (r.linked && local_.working[bi::B0][reg0::DeviceMode] == kDeviceBase && phase_ == Phase::Running)
    AnnounceJoined(r);
}

// ---------------------------------------------------------------------------
// Output

void SimModule::Emit(std::span<const std::uint8_t> bytes) {
  if (!plugged_ || sink_ == nullptr || bytes.empty()) return;
  sink_->OnOutput(bytes, line_);
}

void SimModule::EmitFrame(std::uint8_t seq, std::uint8_t type, std::span<const std::uint8_t> payload) {
  if (auto frame = BuildFrame(seq, type, payload.first(std::min(payload.size(), kMaxPayload))))
    Emit(std::span(frame->data(), frame->size));
}

void SimModule::EmitAnnounce(std::uint8_t code, std::span<const std::uint8_t> fields) {
  std::vector<std::uint8_t> payload{code};
  payload.insert(payload.end(), fields.begin(), fields.end());
  EmitFrame(0, ptype::Announce, payload);
}

bool SimModule::Faulty(Fault fault) const {
  auto it = faults_.find(fault);
  return it != faults_.end() && it->second.active;
}

bool SimModule::TakeFault(Fault fault, int* param) {
  auto it = faults_.find(fault);
  if (it == faults_.end() || !it->second.active) return false;
  FaultState& f = it->second;
  if (param) *param = f.param;
  if (f.count > 0 && --f.count == 0) f.active = false;
  return true;
}

void SimModule::Reply(const Frame& command, std::uint8_t type, std::span<const std::uint8_t> payload,
                      milliseconds delay, std::function<void()> after) {
  if (Faulty(Fault::Unplug) && unplugAfter_ > 0) --unplugAfter_;
  if (TakeFault(Fault::DropReply)) {
    if (after) after();
    return;
  }
  std::uint8_t seq = command.sequence();
  int param = 0;
  if (TakeFault(Fault::WrongSequence, &param))
    seq = static_cast<std::uint8_t>((seq + (param != 0 ? param : 1)) & 0x7F);
  auto frame = BuildFrame(seq, type, payload);
  if (!frame) return;

  std::vector<std::uint8_t> out;
  if (TakeFault(Fault::Noise, &param)) {
    std::uniform_int_distribution<int> any(0, 255);
    for (int i = 0; i < (param > 0 ? param : 8); ++i) {
      auto b = static_cast<std::uint8_t>(any(rng_));
      out.push_back(b == kStartOfPacket ? 0x00 : b);
    }
  }
  if (TakeFault(Fault::OverlongLength, &param)) {
    out.push_back(kStartOfPacket);
    out.push_back(static_cast<std::uint8_t>(std::clamp(param, static_cast<int>(kMaxPacketLength) + 1, 255)));
  }
  out.insert(out.end(), frame->data(), frame->data() + frame->size);
  if (TakeFault(Fault::DuplicateReply)) out.insert(out.end(), frame->data(), frame->data() + frame->size);
  if (TakeFault(Fault::LateReply, &param)) delay += milliseconds(param > 0 ? param : 1500);

  if (delay.count() <= 0) {
    Emit(out);
    if (after) after();
    return;
  }
  After(delay, [this, out = std::move(out), after = std::move(after)] {
    Emit(out);
    if (after) after();
  });
}

// ---------------------------------------------------------------------------
// Input

void SimModule::FromHost(std::span<const std::uint8_t> bytes, const LineSettings& hostLine) {
  std::lock_guard lock(mutex_);
  // While booting only the boot code listens (at 38400 8N1, for its own
  // commands); it is not modelled yet, so a booting module is deaf.
  if (!plugged_ || phase_ != Phase::Running || !line_.Accepts(hostLine)) return;
  if (Faulty(Fault::NeverReply)) return;
  ++inputGeneration_;
  std::vector<std::uint8_t> pass;
  for (std::uint8_t b : bytes) {
    // A command may have reset or unplugged the module half-way.
    if (!plugged_ || phase_ != Phase::Running) break;
    if (protocolMode_) {
      if (assembler_.Push(b)) {
        const Frame frame = assembler_.frame();
        OnFrame(frame);
      }
    } else if (auto enter = TransparentByte(b, pass)) {
      PassThrough(pass);
      pass.clear();
      OnFrame(*enter);
    }
  }
  if (plugged_ && phase_ == Phase::Running) {
    PassThrough(pass);
    ArmParserTimeout();
  }
}

std::optional<Frame> SimModule::TransparentByte(std::uint8_t byte, std::vector<std::uint8_t>& passThrough) {
  held_.push_back(byte);
  while (!held_.empty()) {
    bool prefix = true;
    for (std::size_t i = 0; i < held_.size() && prefix; ++i)
      prefix = i == kEnterSequenceAt || held_[i] == kEnterFrame[i];
    if (prefix) {
      if (held_.size() < kEnterFrame.size()) return std::nullopt;
      Frame frame;
      std::copy(held_.begin(), held_.end(), frame.bytes.begin());
      frame.size = held_.size();
      held_.clear();
      return frame;
    }
    passThrough.push_back(held_.front());
    held_.erase(held_.begin());
  }
  return std::nullopt;
}

void SimModule::PassThrough(std::span<const std::uint8_t> bytes) {
  if (bytes.empty()) return;
  Count(reg16::TxData, 2);
  // Over the air to the transparent default address; the loop-back remote
  // sends the bytes straight back.
  if (options_.transparentEcho && local_.working[bi::B2][reg2::LinkStatus] != 0) {
    Count(reg16::RxData, 2);
    Emit(bytes);
  }
  if (options_.network.live) AnswerTyped(bytes);
}

void SimModule::ArmParserTimeout() {
  const bool partial = protocolMode_ ? !assembler_.Idle() : !held_.empty();
  if (!partial) return;
  const auto generation = inputGeneration_;
  After(options_.parserTimeout, [this, generation] {
    if (generation != inputGeneration_ || phase_ != Phase::Running) return;
    if (protocolMode_ && !assembler_.Idle()) {
      assembler_.Reset();
      EmitAnnounce(announce::ParserTimeout);
    } else if (!protocolMode_ && !held_.empty()) {
      std::vector<std::uint8_t> held;
      held.swap(held_);
      PassThrough(held);
    }
  });
}

void SimModule::OnFrame(const Frame& frame) {
  if (received_.size() >= 4096) received_.pop_front();
  received_.push_back(frame);
  if (Faulty(Fault::Unplug) && unplugAfter_ <= 0) {
    UnplugLocked();
    return;
  }
  HandleCommand(frame);
}

bool SimModule::ProtectedWrite(std::uint8_t bank, std::uint8_t reg) {
  if (bank == kActionBank) return reg == action::FccMode;
  return bank == 2 && reg < reg2::MacLength;
}

void SimModule::HandleCommand(const Frame& frame) {
  const std::uint8_t type = frame.type();
  const std::span<const std::uint8_t> payload(frame.payload(), frame.payloadSize());

  // The factory override permits one protected write, and repeats of that
  // same write (a retransmission after a lost reply). The override itself
  // may be repeated; any other command ends it.
  std::optional<std::pair<std::uint8_t, std::uint8_t>> target;  // bank, register
  if (type == ptype::SetRegister && payload.size() >= 3) target.emplace(payload[1], payload[0]);
  if (type == ptype::SetRemoteRegister && payload.size() >= 5) target.emplace(payload[3], payload[2]);
  const bool isOverride = target && target->first == kActionBank && target->second == action::Override;
  const bool isProtected = target && ProtectedWrite(target->first, target->second);
  std::vector<std::uint8_t> key{type};
  key.insert(key.end(), payload.begin(), payload.end());
  if (isProtected) {
    overrideArmed_ = overrideFresh_ || (overrideUsedBy_ && *overrideUsedBy_ == key);
  } else if (!isOverride) {
    overrideFresh_ = false;
    overrideUsedBy_.reset();
    overrideArmed_ = false;
  }

  switch (type) {
    case ptype::EnterProtocolMode:
      if (payload.size() != sizeof(kModelName) - 1 ||
          !std::equal(payload.begin(), payload.end(), reinterpret_cast<const std::uint8_t*>(kModelName))) {
        EmitAnnounce(announce::InvalidArgument);
        return;
      }
      protocolMode_ = true;
      Reply(frame, ptype::EnterProtocolModeReply, {});
      return;
    case ptype::ExitProtocolMode:
      if (!payload.empty()) {
        EmitAnnounce(announce::InvalidArgument);
        return;
      }
      Reply(frame, ptype::ExitProtocolModeReply, {});
      protocolMode_ = false;
      assembler_.Reset();
      return;
    case ptype::SoftwareReset:
      if (!payload.empty()) {
        EmitAnnounce(announce::InvalidArgument);
        return;
      }
      Reply(frame, ptype::SoftwareResetReply, {});
      StartBoot(false);
      return;
    case ptype::GetRegister:
      HandleGetRegister(frame);
      return;
    case ptype::SetRegister:
      HandleSetRegister(frame);
      return;
    case ptype::TxData:
      HandleTxData(frame);
      return;
    case ptype::GetRemoteRegister:
      HandleGetRemote(frame);
      return;
    case ptype::SetRemoteRegister:
      HandleSetRemote(frame);
      return;
    default:
      EmitAnnounce(announce::InvalidType);
      return;
  }
}

// ---------------------------------------------------------------------------
// Registers

std::uint8_t SimModule::CheckRead(std::uint8_t bank, std::uint8_t reg, std::uint8_t span) const {
  const int idx = BankIndex(bank);
  if (idx < 0 || span == 0 || reg >= kBanks[static_cast<std::size_t>(idx)].length) return announce::InvalidArgument;
  return 0;
}

std::vector<std::uint8_t> SimModule::ReadRegs(Radio& radio, std::uint8_t bank, std::uint8_t reg, std::uint8_t span) {
  const auto idx = static_cast<std::size_t>(BankIndex(bank));
  if (idx == bi::B5) DriftInputs(radio);
  if (idx == bi::B16) RefreshLive(radio);
  const std::size_t n = std::min<std::size_t>(span, kBanks[idx].length - reg);
  const auto& b = radio.working[idx];
  return {b.begin() + reg, b.begin() + reg + static_cast<std::ptrdiff_t>(n)};
}

std::uint8_t SimModule::CheckWrite(const Radio& radio, std::uint8_t bank, std::uint8_t reg,
                                   std::span<const std::uint8_t> data, bool local) const {
  if (data.empty()) return announce::InvalidArgument;
  if (bank == kActionBank) {
    if (data.size() != 1) return announce::InvalidArgument;
    const std::uint8_t v = data[0];
    switch (reg) {
      case action::Memory:
        return v <= 1 ? 0 : announce::InvalidArgument;
      case action::Override:
        return v == action::Override ? 0 : announce::InvalidArgument;
      case action::RemoteReset:
        return !local && v == 0 ? 0 : announce::InvalidArgument;
      case action::FccMode:
        if (v != 1 && v != 2 && v != 4) return announce::InvalidArgument;
        return overrideArmed_ ? 0 : announce::ReadOnly;
      default:
        return announce::InvalidArgument;
    }
  }
  const int idx = BankIndex(bank);
  if (idx < 0) return announce::InvalidArgument;
  const std::size_t length = kBanks[static_cast<std::size_t>(idx)].length;
  if (reg >= length || data.size() > length - reg) return announce::InvalidArgument;
  if (static_cast<std::size_t>(idx) == bi::B16) return announce::ReadOnly;
  if (static_cast<std::size_t>(idx) == bi::B2)
    return reg + data.size() <= reg2::MacLength && overrideArmed_ ? 0 : announce::ReadOnly;
  if (static_cast<std::size_t>(idx) == bi::B3) {
    auto codes = radio.working[bi::B3];
    std::copy(data.begin(), data.end(), codes.begin() + reg);
    if (!LineFromCodes(codes[0], codes[1])) return announce::InvalidArgument;
  }
  return 0;
}

std::function<void()> SimModule::ApplyWrite(Radio& radio, std::uint8_t bank, std::uint8_t reg,
                                            std::span<const std::uint8_t> data, bool local) {
  if (bank == kActionBank) {
    const std::uint8_t v = data[0];
    switch (reg) {
      case action::Memory:
        if (v == 0) {
          for (std::size_t idx : kSettingBanks) radio.working[idx] = radio.factory[idx];
        } else {
          radio.saved = radio.working;
        }
        return {};
      case action::Override:
        overrideFresh_ = true;
        overrideUsedBy_.reset();
        return {};
      case action::FccMode:
        radio.fccMode = v;
        return {};
      case action::RemoteReset: {
        const auto address = radio.address;
        return [this, address] {
          if (auto it = remotes_.find(address); it != remotes_.end()) RebootRemote(it->second);
        };
      }
      default:
        return {};
    }
  }
  const auto idx = static_cast<std::size_t>(BankIndex(bank));
  std::copy(data.begin(), data.end(), radio.working[idx].begin() + reg);
  // The new line holds once the reply has left at the old one.
  if (local && idx == bi::B3) return [this] { ApplyLineFromBanks(); };
  return {};
}

void SimModule::HandleGetRegister(const Frame& frame) {
  const std::span<const std::uint8_t> p(frame.payload(), frame.payloadSize());
  if (p.size() != 3) {
    EmitAnnounce(announce::InvalidArgument);
    return;
  }
  const std::uint8_t reg = p[0], bank = p[1], span = p[2];
  if (auto code = CheckRead(bank, reg, span)) {
    EmitAnnounce(code);
    return;
  }
  auto data = ReadRegs(local_, bank, reg, span);
  std::vector<std::uint8_t> payload{reg, bank, static_cast<std::uint8_t>(data.size())};
  payload.insert(payload.end(), data.begin(), data.end());
  Reply(frame, ptype::GetRegisterReply, payload);
}

void SimModule::HandleSetRegister(const Frame& frame) {
  const std::span<const std::uint8_t> p(frame.payload(), frame.payloadSize());
  if (p.size() < 3 || p.size() != 3u + p[2]) {
    EmitAnnounce(announce::InvalidArgument);
    return;
  }
  const std::uint8_t reg = p[0], bank = p[1];
  const auto data = p.subspan(3);
  if (auto code = CheckWrite(local_, bank, reg, data, true)) {
    EmitAnnounce(code);
    return;
  }
  auto after = ApplyWrite(local_, bank, reg, data, true);
  if (ProtectedWrite(bank, reg)) UseOverride(frame);
  Reply(frame, ptype::SetRegisterReply, {}, milliseconds(0), std::move(after));
}

void SimModule::UseOverride(const Frame& frame) {
  overrideFresh_ = false;
  // The write's type and payload, which a retransmission repeats.
  std::vector<std::uint8_t> key;
  key.reserve(1 + frame.payloadSize());
  key.push_back(frame.type());
  for (std::size_t i = 0; i < frame.payloadSize(); ++i) key.push_back(frame.payload()[i]);
  overrideUsedBy_ = std::move(key);
}

std::pair<std::uint8_t, std::uint8_t> SimModule::AirExchange(std::uint16_t address, Radio** remote) {
  *remote = nullptr;
  if (local_.working[bi::B2][reg2::LinkStatus] == 0) return {txstatus::NotLinked, 0};
  Count(reg16::TxPackets, 4);
  auto it = remotes_.find(address);
  if (it == remotes_.end()) return {txstatus::NoAcknowledgement, 0};
  Radio& r = it->second;
  if (!r.linked) return {txstatus::NotLinked, 0};
  if (r.rebooting) return {txstatus::NoAcknowledgement, 0};
  if (r.lossPercent > 0 && std::uniform_int_distribution<int>(0, 99)(rng_) < r.lossPercent)
    return {txstatus::NoAcknowledgement, 0};
  Count(reg16::RxPackets, 4);
  const int lqi = std::clamp(r.lqi + std::uniform_int_distribution<int>(-4, 4)(rng_), 1, 255);
  local_.working[bi::B2][reg2::RssiLast] = static_cast<std::uint8_t>(lqi / 2);
  *remote = &r;
  return {txstatus::Acknowledged, static_cast<std::uint8_t>(lqi)};
}

void SimModule::HandleTxData(const Frame& frame) {
  const std::span<const std::uint8_t> p(frame.payload(), frame.payloadSize());
  if (p.size() < 2) {
    EmitAnnounce(announce::InvalidArgument);
    return;
  }
  const auto address = static_cast<std::uint16_t>(p[0] | (p[1] << 8));
  const std::vector<std::uint8_t> data(p.begin() + 2, p.end());
  Count(reg16::TxData, 2);
  if (local_.working[bi::B2][reg2::LinkStatus] == 0) {
    const std::array<std::uint8_t, 2> reply{txstatus::NotLinked, 0};
    Reply(frame, ptype::TxDataReply, reply);
    return;
  }
  if (address == kBroadcast) {
    Count(reg16::TxPackets, 4);
    const std::array<std::uint8_t, 2> reply{txstatus::Acknowledged, 0};
    Reply(frame, ptype::TxDataReply, reply, options_.remoteLatency);
    return;
  }
  Radio* remote = nullptr;
  const auto [status, lqi] = AirExchange(address, &remote);
  const std::array<std::uint8_t, 2> reply{status, lqi};
  std::function<void()> echo;
  if (remote && options_.remoteDataEcho) {
    echo = [this, address, data] {
      After(options_.remoteLatency, [this, address, data] { SendRxDataLocked(address, data); });
    };
  }
  Reply(frame, ptype::TxDataReply, reply, status == txstatus::NotLinked ? milliseconds(0) : options_.remoteLatency,
        std::move(echo));
}

void SimModule::HandleGetRemote(const Frame& frame) {
  const std::span<const std::uint8_t> p(frame.payload(), frame.payloadSize());
  if (p.size() != 5) {
    EmitAnnounce(announce::InvalidArgument);
    return;
  }
  const auto address = static_cast<std::uint16_t>(p[0] | (p[1] << 8));
  const std::uint8_t reg = p[2], bank = p[3], span = p[4];
  if (auto code = CheckRead(bank, reg, span)) {
    EmitAnnounce(code);
    return;
  }
  Radio* remote = nullptr;
  const auto [status, lqi] = AirExchange(address, &remote);
  std::vector<std::uint8_t> payload{status, p[0], p[1], lqi, reg, bank, 0};
  if (remote) {
    auto data = ReadRegs(*remote, bank, reg, span);
    payload[6] = static_cast<std::uint8_t>(data.size());
    payload.insert(payload.end(), data.begin(), data.end());
  }
  Reply(frame, ptype::GetRemoteRegisterReply, payload,
        status == txstatus::NotLinked ? milliseconds(0) : options_.remoteLatency);
}

void SimModule::HandleSetRemote(const Frame& frame) {
  const std::span<const std::uint8_t> p(frame.payload(), frame.payloadSize());
  if (p.size() < 5 || p.size() != 5u + p[4]) {
    EmitAnnounce(announce::InvalidArgument);
    return;
  }
  const auto address = static_cast<std::uint16_t>(p[0] | (p[1] << 8));
  const std::uint8_t reg = p[2], bank = p[3];
  const auto data = p.subspan(5);
  // The address itself is checked before anything goes on air.
  if (bank != kActionBank && CheckRead(bank, reg, static_cast<std::uint8_t>(data.size())) != 0) {
    EmitAnnounce(announce::InvalidArgument);
    return;
  }
  Radio* remote = nullptr;
  const auto [status, lqi] = AirExchange(address, &remote);
  std::function<void()> after;
  if (remote) {
    if (auto code = CheckWrite(*remote, bank, reg, data, false)) {
      EmitAnnounce(code);
      return;
    }
    after = ApplyWrite(*remote, bank, reg, data, false);
    if (ProtectedWrite(bank, reg)) UseOverride(frame);
  }
  const std::array<std::uint8_t, 4> payload{status, p[0], p[1], lqi};
  Reply(frame, ptype::SetRemoteRegisterReply, payload,
        status == txstatus::NotLinked ? milliseconds(0) : options_.remoteLatency, std::move(after));
}

// ---------------------------------------------------------------------------
// Public: line and state

bool SimModule::Attach(SimSink* sink) {
  std::lock_guard lock(mutex_);
  if (!plugged_ || sink_ != nullptr || sink == nullptr) return false;
  sink_ = sink;
  if (options_.network.live && !networkStarted_) {
    // Power-up: the host's first command is answered at once, the start-up
    // is announced when a boot would have ended.
    networkStarted_ = true;
    HoldRemotes();
    After(options_.bootTime, [this, generation = bootGeneration_] {
      if (generation == bootGeneration_ && phase_ == Phase::Running && plugged_) AnnounceStartup(generation);
    });
  }
  return true;
}

void SimModule::Detach(SimSink* sink) {
  std::lock_guard lock(mutex_);
  if (sink_ == sink) sink_ = nullptr;
}

SimLine SimModule::Line() const {
  std::lock_guard lock(mutex_);
  return line_;
}

bool SimModule::SetLine(const LineSettings& line) {
  std::lock_guard lock(mutex_);
  auto codes = CodesFromLine(line);
  if (!codes) return false;
  for (auto* banks : {&local_.working, &local_.saved}) std::copy(codes->begin(), codes->end(), (*banks)[bi::B3].begin());
  ApplyLineFromBanks();
  return true;
}

bool SimModule::InProtocolMode() const {
  std::lock_guard lock(mutex_);
  return protocolMode_ && phase_ == Phase::Running;
}

bool SimModule::Booting() const {
  std::lock_guard lock(mutex_);
  return phase_ == Phase::Booting;
}

std::optional<std::vector<std::uint8_t>> SimModule::Registers(int radio, std::uint8_t bank, std::uint8_t reg,
                                                              std::uint8_t span, bool saved) const {
  std::lock_guard lock(mutex_);
  const Radio* r = FindRadio(radio);
  const int idx = BankIndex(bank);
  if (!r || idx < 0 || reg + span > kBanks[static_cast<std::size_t>(idx)].length) return std::nullopt;
  const auto& b = (saved ? r->saved : r->working)[static_cast<std::size_t>(idx)];
  return std::vector<std::uint8_t>(b.begin() + reg, b.begin() + reg + span);
}

bool SimModule::PokeRegisters(int radio, std::uint8_t bank, std::uint8_t reg, std::span<const std::uint8_t> bytes) {
  std::lock_guard lock(mutex_);
  Radio* r = FindRadio(radio);
  const int idx = BankIndex(bank);
  if (!r || idx < 0 || reg + bytes.size() > kBanks[static_cast<std::size_t>(idx)].length) return false;
  std::copy(bytes.begin(), bytes.end(), r->working[static_cast<std::size_t>(idx)].begin() + reg);
  return true;
}

int SimModule::FccMode(int radio) const {
  std::lock_guard lock(mutex_);
  const Radio* r = FindRadio(radio);
  return r ? r->fccMode : 0;
}

std::vector<Frame> SimModule::ReceivedFrames() const {
  std::lock_guard lock(mutex_);
  return {received_.begin(), received_.end()};
}

void SimModule::ClearReceivedFrames() {
  std::lock_guard lock(mutex_);
  received_.clear();
}

// ---------------------------------------------------------------------------
// Public: power and plug

void SimModule::PowerCycle() {
  std::lock_guard lock(mutex_);
  if (plugged_) StartBoot(true);
}

void SimModule::UnplugLocked() {
  if (!plugged_) return;
  plugged_ = false;
  ++bootGeneration_;
  faults_.erase(Fault::Unplug);
  SimSink* sink = sink_;
  sink_ = nullptr;
  if (sink) sink->OnUnplug();
}

void SimModule::Unplug() {
  std::lock_guard lock(mutex_);
  UnplugLocked();
}

void SimModule::Plug() {
  std::lock_guard lock(mutex_);
  if (plugged_) return;
  plugged_ = true;
  StartBoot(true);
}

bool SimModule::IsPlugged() const {
  std::lock_guard lock(mutex_);
  return plugged_;
}

// ---------------------------------------------------------------------------
// Public: network

std::vector<std::uint16_t> SimModule::Remotes() const {
  std::lock_guard lock(mutex_);
  std::vector<std::uint16_t> out;
  for (const auto& [address, r] : remotes_) out.push_back(address);
  return out;
}

void SimModule::AnnounceJoined(const Radio& remote) {
  std::array<std::uint8_t, 10> fields{};
  std::copy_n(remote.working[bi::B2].begin() + reg2::Mac, reg2::MacLength, fields.begin());
  fields[8] = static_cast<std::uint8_t>(remote.address & 0xFF);
  fields[9] = static_cast<std::uint8_t>(remote.address >> 8);
  EmitAnnounce(announce::RemoteJoined, fields);
}

void SimModule::JoinRemote(std::uint16_t address) {
  std::lock_guard lock(mutex_);
  auto it = remotes_.find(address);
  if (it == remotes_.end()) {
    const auto index = static_cast<std::uint8_t>(std::min<std::size_t>(remotes_.size() + 1, 200));
    it = remotes_.emplace(address, MakeRadio(address, false, index)).first;
  }
  it->second.linked = true;
  it->second.rebooting = false;
  AnnounceJoined(it->second);
  if (networkStarted_) StartReports(address);
}

void SimModule::LeaveRemote(std::uint16_t address) {
  std::lock_guard lock(mutex_);
  auto it = remotes_.find(address);
  if (it == remotes_.end()) return;
  it->second.linked = false;
  EmitAnnounce(announce::NodeLeft, AddressBytes(address));
}

void SimModule::SetRemoteLinked(std::uint16_t address, bool linked) {
  std::lock_guard lock(mutex_);
  if (auto it = remotes_.find(address); it != remotes_.end()) it->second.linked = linked;
}

void SimModule::SetLocalLinked(bool linked) {
  std::lock_guard lock(mutex_);
  local_.working[bi::B2][reg2::LinkStatus] = linked ? 1 : 0;
}

void SimModule::SetRemoteLqi(std::uint16_t address, std::uint8_t lqi) {
  std::lock_guard lock(mutex_);
  if (auto it = remotes_.find(address); it != remotes_.end()) it->second.lqi = lqi;
}

void SimModule::SetRemoteLoss(std::uint16_t address, int percent) {
  std::lock_guard lock(mutex_);
  if (auto it = remotes_.find(address); it != remotes_.end()) it->second.lossPercent = std::clamp(percent, 0, 100);
}

void SimModule::SetRemoteDataEcho(bool on) {
  std::lock_guard lock(mutex_);
  options_.remoteDataEcho = on;
}

// ---------------------------------------------------------------------------
// Public: asynchronous output

void SimModule::EmitFromRemote(std::uint8_t type, std::uint16_t from, std::uint8_t lqi,
                               std::span<const std::uint8_t> data) {
  std::vector<std::uint8_t> payload{static_cast<std::uint8_t>(from & 0xFF), static_cast<std::uint8_t>(from >> 8), lqi};
  payload.insert(payload.end(), data.begin(), data.begin() + static_cast<std::ptrdiff_t>(std::min(data.size(), kMaxPayload - 3)));
  EmitFrame(0, type, payload);
}

void SimModule::SendRxDataLocked(std::uint16_t from, std::span<const std::uint8_t> data) {
  Count(reg16::RxData, 2);
  if (!protocolMode_) {
    Emit(data);
    return;
  }
  auto it = remotes_.find(from);
  EmitFromRemote(ptype::RxData, from, it != remotes_.end() ? it->second.lqi : 0x80, data);
}

void SimModule::SendRxData(std::uint16_t from, std::span<const std::uint8_t> data) {
  std::lock_guard lock(mutex_);
  SendRxDataLocked(from, data);
}

void SimModule::SendAnnounce(std::uint8_t code, std::span<const std::uint8_t> fields) {
  std::lock_guard lock(mutex_);
  EmitAnnounce(code, fields.first(std::min(fields.size(), kMaxPayload - 1)));
}

void SimModule::SendRxEvent(std::uint16_t from, std::span<const std::uint8_t> data) {
  std::lock_guard lock(mutex_);
  auto it = remotes_.find(from);
  EmitFromRemote(ptype::RxEvent, from, it != remotes_.end() ? it->second.lqi : 0x80, data);
}

void SimModule::ReportInputs(const Radio& remote, std::uint8_t lqi) {
  const auto& b5 = remote.working[bi::B5];
  EmitFromRemote(ptype::RxEvent, remote.address, lqi, std::span(b5).first(kBanks[bi::B5].length));
}

void SimModule::SendRxEvent(std::uint16_t from) {
  std::lock_guard lock(mutex_);
  auto it = remotes_.find(from);
  if (it == remotes_.end()) return;
  DriftInputs(it->second);
  ReportInputs(it->second, it->second.lqi);
}

bool SimModule::SetRemoteInput(std::uint16_t address, int pin, bool high) {
  std::lock_guard lock(mutex_);
  auto it = remotes_.find(address);
  if (it == remotes_.end() || pin < 0 || pin > 5) return false;
  Radio& r = it->second;
  if ((r.working[bi::B6][0] >> pin) & 1) return false;
  auto& level = r.working[bi::B5][static_cast<std::size_t>(pin)];
  const std::uint8_t wanted = high ? 1 : 0;
  if (level == wanted) return true;
  level = wanted;
  if (protocolMode_ && Reaches(r) && !LostOnAir(r)) ReportInputs(r, r.lqi);
  return true;
}

// ---------------------------------------------------------------------------
// The live network

bool SimModule::Reaches(const Radio& remote) const {
  return plugged_ && phase_ == Phase::Running && local_.working[bi::B2][reg2::LinkStatus] != 0 && remote.linked &&
         !remote.rebooting;
}

bool SimModule::LostOnAir(const Radio& remote) {
  return remote.lossPercent > 0 && std::uniform_int_distribution<int>(0, 99)(networkRng_) < remote.lossPercent;
}

std::uint8_t SimModule::NetworkLqi(const Radio& remote) {
  const int jitter = std::uniform_int_distribution<int>(-4, 4)(networkRng_);
  return static_cast<std::uint8_t>(std::clamp(remote.lqi + jitter, 1, 255));
}

std::string SimModule::TagOf(const Radio& remote) const {
  const auto& b0 = remote.working[bi::B0];
  std::string tag;
  for (std::size_t i = reg0::UserTag; i < reg0::UserTag + 16 && b0[i] >= 0x20 && b0[i] < 0x7F; ++i)
    tag += static_cast<char>(b0[i]);
  if (tag.empty()) {
    char text[16];
    std::snprintf(text, sizeof text, "Remote 0x%04X", static_cast<unsigned>(remote.address));
    tag = text;
  }
  return tag;
}

void SimModule::HoldRemotes() {
  ++networkGeneration_;
  reporting_.clear();
  networkEpoch_ = TaskNow();
  for (auto& [address, r] : remotes_) r.linked = false;
}

void SimModule::JoinInTurn() {
  const auto generation = networkGeneration_;
  int turn = 0;
  for (const auto& [address, r] : remotes_) {
    After(options_.network.joinSpacing * ++turn, [this, address = address, generation] {
      auto it = remotes_.find(address);
      if (generation != networkGeneration_ || it == remotes_.end() || phase_ != Phase::Running || !plugged_) return;
      it->second.linked = true;
      AnnounceJoined(it->second);
      StartReports(address);
    });
  }
}

void SimModule::StartReports(std::uint16_t address) {
  if (options_.network.live && reporting_.insert(address).second) ScheduleReport(address, networkGeneration_);
}

void SimModule::ScheduleReport(std::uint16_t address, std::uint64_t generation) {
  const std::int64_t mean = std::max<std::int64_t>(options_.network.interval.count(), 2);
  const auto gap = std::uniform_int_distribution<std::int64_t>(mean / 2, mean * 3 / 2)(networkRng_);
  After(milliseconds(gap), [this, address, generation] { Report(address, generation); });
}

void SimModule::FollowPatterns(Radio& remote) {
  constexpr double kPi = 3.14159265358979;
  const double t = std::chrono::duration<double>(TaskNow() - networkEpoch_).count();
  const double phase = remote.index * 1.7;
  auto& b5 = remote.working[bi::B5];
  // ADC0: a thermistor warming and cooling over three minutes.
  Put16(b5, reg5::Adc0, static_cast<std::uint16_t>(0x200 + std::lround(0x60 * std::sin(2 * kPi * t / 180 + phase))));
  // ADC1: a potentiometer that someone turns a little now and then.
  const int pot = Get16(b5, reg5::Adc0 + 2) + std::uniform_int_distribution<int>(-24, 24)(networkRng_);
  Put16(b5, reg5::Adc0 + 2, static_cast<std::uint16_t>(std::clamp(pot, 0, 0x3FF)));
  // ADC2: a triangle between 0x040 and 0x3C0 over four minutes.
  const double ramp = std::fmod(t / 240 + phase, 1.0);
  const double rise = ramp < 0.5 ? 2 * ramp : 2 - 2 * ramp;
  Put16(b5, reg5::Adc0 + 4, static_cast<std::uint16_t>(0x040 + std::lround(0x380 * rise)));
  b5[reg5::Temperature] = static_cast<std::uint8_t>(0x19 + remote.index + (Get16(b5, reg5::Adc0) - 0x200) / 0x30);
}

void SimModule::Report(std::uint16_t address, std::uint64_t generation) {
  auto it = remotes_.find(address);
  if (generation != networkGeneration_ || it == remotes_.end()) return;
  ScheduleReport(address, generation);
  Radio& r = it->second;
  if (!Reaches(r)) return;
  FollowPatterns(r);
  const int roll = std::uniform_int_distribution<int>(0, 99)(networkRng_);
  const std::uint32_t count = ++r.reports;
  std::vector<int> inputs;
  for (int pin = 0; pin < 6; ++pin)
    if (!((r.working[bi::B6][0] >> pin) & 1)) inputs.push_back(pin);
  const bool toggle = roll >= 4 && roll < 34 && !inputs.empty();
  if (toggle) {
    const int pin = inputs[std::uniform_int_distribution<std::size_t>(0, inputs.size() - 1)(networkRng_)];
    r.working[bi::B5][static_cast<std::size_t>(pin)] ^= 1;
  }
  // The pin changes whether or not its report arrives.
  if (LostOnAir(r)) return;
  const std::uint8_t lqi = NetworkLqi(r);

  if (roll < 4) {
    // Lost its parent for a moment. Announcements are frames of protocol
    // mode: a terminal in transparent mode sees none.
    if (protocolMode_ && local_.working[bi::B0][reg0::DeviceMode] == kDeviceBase) AnnounceJoined(r);
  } else if (toggle) {
    if (protocolMode_) ReportInputs(r, lqi);
  } else {
    std::vector<std::uint8_t> data;
    const auto& b5 = r.working[bi::B5];
    if (roll < 46) {
      // A binary record: kind, counter, the three ADC words, a checksum.
      data = {0x02, static_cast<std::uint8_t>(count)};
      data.insert(data.end(), b5.begin() + reg5::Adc0, b5.begin() + reg5::Adc0 + 6);
      std::uint8_t sum = 0;
      for (std::uint8_t b : data) sum = static_cast<std::uint8_t>(sum + b);
      data.push_back(static_cast<std::uint8_t>(0x100 - sum));
    } else {
      char text[64];
      int n;
      if (count % 3 == 0) {
        n = std::snprintf(text, sizeof text, "%s: level %d %%", TagOf(r).c_str(),
                          Get16(b5, reg5::Adc0 + 2) * 100 / 0x3FF);
      } else {
        // 25.0 C at mid-scale, 0.1 C for every 5 counts.
        const int tenths = 250 + (Get16(b5, reg5::Adc0) - 0x200) / 5;
        n = std::snprintf(text, sizeof text, "%s: temperature %d.%d C", TagOf(r).c_str(), tenths / 10, tenths % 10);
      }
      data.assign(text, text + std::clamp(n, 0, static_cast<int>(sizeof text) - 1));
    }
    Count(reg16::RxData, 2);
    if (protocolMode_) EmitFromRemote(ptype::RxData, address, lqi, data);
    else Emit(data);
  }
}

void SimModule::AnswerTyped(std::span<const std::uint8_t> bytes) {
  for (std::uint8_t b : bytes) {
    if (b != '\r' && b != '\n') {
      if (typedLine_.size() < 64) typedLine_ += static_cast<char>(b);
      continue;
    }
    if (typedLine_.empty()) continue;
    std::string line;
    line.swap(typedLine_);
    const std::uint16_t to = Get16(local_.working[bi::B4], reg4::TransparentAddress);
    const Radio* answering = nullptr;
    for (const auto& [address, r] : remotes_) {
      if ((to == kBroadcast || to == address) && Reaches(r)) {
        answering = &r;
        break;
      }
    }
    if (!answering || LostOnAir(*answering)) continue;
    const std::string answer = "\r\n" + TagOf(*answering) + ": " + line + "\r\n";
    After(options_.remoteLatency, [this, from = answering->address, answer] {
      SendRxDataLocked(from, std::span(reinterpret_cast<const std::uint8_t*>(answer.data()), answer.size()));
    });
  }
}

// ---------------------------------------------------------------------------
// Public: faults

void SimModule::SetFault(Fault fault, int count, int param) {
  std::lock_guard lock(mutex_);
  if (count == 0) {
    faults_.erase(fault);
    return;
  }
  faults_[fault] = FaultState{true, count, param};
  if (fault == Fault::Unplug) unplugAfter_ = std::max(param, 0);
}

void SimModule::ClearFault(Fault fault) {
  std::lock_guard lock(mutex_);
  faults_.erase(fault);
}

void SimModule::ClearFaults() {
  std::lock_guard lock(mutex_);
  faults_.clear();
}

}  // namespace qmx::sim

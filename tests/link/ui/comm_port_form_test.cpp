// The port settings dialog with real widgets, the real nested-loop waiter and
// the simulated module behind "sim"; the other ports are stand-ins that either
// cannot be opened or open and never answer.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <array>
#include <atomic>
#include <chrono>
#include <iterator>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "link/radio_link.h"
#include "link/ui/comm_port_form.h"
#include "link/ui/qt_waiter.h"
#include "link/workdir.h"
#include "sim/sim_module.h"
#include "sim/sim_serial_port.h"
#include "tests/fixtures/fake_prompter.h"
#include "tests/fixtures/qmxsim_process.h"
#include "tests/fixtures/sim_link.h"
#include "tests/fixtures/temp_dir.h"
#include "tests/fixtures/test_ports.h"
#include "tests/fixtures/ui/qt_app.h"

namespace qmx {
namespace {

using namespace std::chrono_literals;
using test::Shown;

constexpr char kInvalidSettings[] =
    "The selected comm port settings are not valid.\nPlease check settings and try again.";
constexpr char kNotFound[] = "Could not find device.  Please check settings and try again.";
constexpr char kOpenFailed[] = "Could not open selected CommPort.  Please close all programs and try again.";

const Shown kInvalidSettingsBox{kInvalidSettings, "Invalid Comm Port Settings", false};
const Shown kNotFoundBox{kNotFound, "Device not present", false};
const Shown kOpenFailedBox{kOpenFailed, "Invalid Comm Port", false};

LineSettings Line(std::uint32_t baud, std::uint8_t par, std::uint8_t stop) {
  return LineSettings{baud, 8, par, stop, false};
}

// The ports the tests' "system" reports, out of order: ttyS2 opens (and stays
// silent), the other two cannot be opened. kRadioPath has the module behind it.
constexpr char kRadioPath[] = "/dev/ttyS11";

std::vector<PortInfo> SystemPorts() {
  return {{"/dev/ttyS10", "ttyS10", 10, "", ""},
          {"/dev/ttyUSB0", "ttyUSB0", 0, "FT232R USB UART", "0403:6001"},
          {"/dev/ttyS2", "ttyS2", 2, "16550A", ""}};
}

class CommPortFormTest : public ::testing::Test {
 protected:
  CommPortFormTest() {
    link = std::make_unique<RadioLink>(
        sim::MakeSimPortFactory(module,
                                [this](const std::string& name) -> std::unique_ptr<SerialPort> {
                                  if (name.rfind("/dev/pts/", 0) == 0) return MakePosixSerialPort();
                                  if (name == kRadioPath) return RadioPort();
                                  if (!openable.count(name)) return nullptr;
                                  auto port = std::make_unique<test::SilentPort>();
                                  if (name == "/dev/ttyS10") port->refusedBaud = 28800;  // closes the port
                                  return port;
                                }),
        dir, prompter, waiter, sink);
    link->transport.SetSettleTime(0ms);
    link->parser.Start();
    form = std::make_unique<TCommPortForm>(*link, prompter);
    UsePorts(SystemPorts());
    form->SetAttemptTimeoutMs(50);
    form->SetPermissionHintSource({});
  }
  ~CommPortFormTest() override {
    form.reset();
    link->parser.Stop();
    link->transport.StopComm();
  }

  void UsePorts(std::vector<PortInfo> ports) {
    form->SetPortSource([ports] { return ports; },
                        [this](const std::string& path) { return openable.count(path) > 0; });
  }
  // The simulated module behind a system port. A search waits out every
  // attempt the module does not answer; only the attempt at the module's own
  // line gets the time a real answer needs.
  // Blocks written to the port with the module behind it.
  std::atomic<std::size_t> radioWrites{0};
  std::unique_ptr<SerialPort> RadioPort() {
    auto port = std::make_unique<test::PassPort>(sim::MakeSimSerialPort(module), "sim",
                                                 [this](std::span<const std::uint8_t>) {
                                                   ++radioWrites;
                                                   return false;
                                                 });
    port->OnApply([this](const LineSettings& s) { form->SetAttemptTimeoutMs(module->Line().Accepts(s) ? 1000 : 5); });
    return port;
  }
  int IndexOf(QComboBox* box, const char* text) { return box->findText(text); }
  QStringList Items(QComboBox* box) {
    QStringList out;
    for (int i = 0; i < box->count(); ++i) out << box->itemText(i);
    return out;
  }
  // Shows the dialog and picks the port entry and line settings.
  void ShowWith(const char* port, const char* baud, const char* par = "NONE", const char* stop = "1",
                const char* autoDetect = "FALSE") {
    form->show();
    form->CommPortComboBox->setCurrentIndex(IndexOf(form->CommPortComboBox, port));
    form->BaudrateComboBox->setCurrentIndex(IndexOf(form->BaudrateComboBox, baud));
    form->ParityComboBox->setCurrentIndex(IndexOf(form->ParityComboBox, par));
    form->StopBitsComboBox->setCurrentIndex(IndexOf(form->StopBitsComboBox, stop));
    form->AutoDetectComboBox->setCurrentIndex(IndexOf(form->AutoDetectComboBox, autoDetect));
  }
  // The dialog closed with OK: the port is open and the radio in protocol mode.
  void ExpectConnected() {
    EXPECT_EQ(form->result(), QDialog::Accepted);
    EXPECT_FALSE(form->isVisible());
    EXPECT_TRUE(link->transport.IsOpen());
    EXPECT_TRUE(module->InProtocolMode());
  }
  // The dialog is still open after a failure, the port stopped.
  void ExpectStillOpenAndStopped() {
    EXPECT_TRUE(form->isVisible());
    EXPECT_NE(form->result(), QDialog::Accepted);
    EXPECT_EQ(form->StatusText(), "Could not find radio");
    EXPECT_FALSE(link->transport.IsOpen());
    EXPECT_FALSE(link->transport.CommThreadRunning());
  }

  struct AppFirst {
    AppFirst() { test::QtApp(); }
  } app_;
  std::set<std::string> openable{"/dev/ttyS2"};
  test::TempDir temp;
  WorkDir dir{temp.path()};
  test::FakePrompter prompter;
  QtWaiter waiter;
  test::RecordingSink sink;
  std::shared_ptr<sim::SimModule> module = std::make_shared<sim::SimModule>();
  std::unique_ptr<RadioLink> link;
  std::unique_ptr<TCommPortForm> form;
};

TEST_F(CommPortFormTest, PortListIsSortedByNumberAndMarked) {
  EXPECT_EQ(form->FillPortList(), 4);
  EXPECT_EQ(Items(form->CommPortComboBox), (QStringList{"ttyUSB0-N/A", "ttyS2-OK", "ttyS10-N/A", "SIM-OK"}));
  QStringList tips;
  for (int i = 0; i < form->CommPortComboBox->count(); ++i)
    tips << form->CommPortComboBox->itemData(i, Qt::ToolTipRole).toString();
  EXPECT_EQ(tips, (QStringList{"FT232R USB UART, USB 0403:6001, /dev/ttyUSB0", "16550A, /dev/ttyS2", "/dev/ttyS10",
                               "The built-in simulated QMX2400 module"}));

  // Equal numbers come out in reverse reading order.
  UsePorts({{"/dev/ttyS0", "ttyS0", 0, "", ""},
            {"/dev/ttyACM1", "ttyACM1", 1, "", ""},
            {"/dev/ttyUSB0", "ttyUSB0", 0, "", ""},
            {"/dev/ttyAMA0", "ttyAMA0", 0, "", ""}});
  form->SetOfferSim(false);
  EXPECT_EQ(form->FillPortList(), 4);
  EXPECT_EQ(Items(form->CommPortComboBox), (QStringList{"ttyAMA0-N/A", "ttyUSB0-N/A", "ttyS0-N/A", "ttyACM1-N/A"}));

  // No ports and no simulated module: an empty list.
  UsePorts({});
  EXPECT_EQ(form->FillPortList(), 0);
  EXPECT_EQ(form->CommPortComboBox->count(), 0);
}

TEST_F(CommPortFormTest, TheDesignedSelectionsStandBeforeTheFirstShowing) {
  // The settings file may be saved before the dialog was ever shown.
  EXPECT_EQ(form->SelectedIndex(TCommPortForm::PortList), 0);
  EXPECT_EQ(form->SelectedIndex(TCommPortForm::BaudList), 3);
  EXPECT_EQ(form->SelectedIndex(TCommPortForm::ParityList), 0);
  EXPECT_EQ(form->SelectedIndex(TCommPortForm::StopBitsList), 0);
  EXPECT_EQ(form->SelectedIndex(TCommPortForm::AutoDetectList), 0);
  EXPECT_EQ(form->BaudText(), "9600");
  EXPECT_EQ(form->windowTitle(), "Comm Port Settings");
  EXPECT_EQ(form->StatusText(), "Select Settings");
  EXPECT_TRUE(form->OKButton->isDefault());
}

TEST_F(CommPortFormTest, WithoutARememberedPortAUsbAdapterOrElseTheSimulatedModuleIsPreselected) {
  const PortInfo builtIn{"/dev/ttyS0", "ttyS0", 0, "16550A", ""};
  const PortInfo adapter{"/dev/ttyACM3", "ttyACM3", 3, "cdc_acm", "2a03:0043"};
  const struct {
    std::vector<PortInfo> ports;
    const char* shown;
  } cases[] = {
      {{builtIn}, "SIM-OK"},           // a machine with a serial port but no radio
      {{builtIn, adapter}, "ttyACM3-N/A"},  // a radio on a USB adapter
      {{}, "SIM-OK"},
  };
  for (const auto& c : cases) {
    form = std::make_unique<TCommPortForm>(*link, prompter);
    UsePorts(c.ports);
    // Saving the settings before the first showing keeps what will show.
    const int willShow = form->SelectedIndex(TCommPortForm::PortList);
    form->show();
    EXPECT_EQ(form->PortText(), c.shown);
    EXPECT_EQ(form->SelectedIndex(TCommPortForm::PortList), willShow);
  }
  // A position from the settings file is kept.
  form->hide();
  UsePorts({builtIn});
  form->SetRemembered(TCommPortForm::PortList, 0);
  form->show();
  EXPECT_EQ(form->PortText(), "ttyS0-N/A");
}

TEST_F(CommPortFormTest, ShowingAppliesTheRememberedSelections) {
  struct Case {
    std::array<int, TCommPortForm::ListCount> tags;
    std::array<const char*, TCommPortForm::ListCount> shown;
  };
  const Case cases[] = {
      {{0, 3, 0, 0, 0}, {"ttyUSB0-N/A", "9600", "NONE", "1", "FALSE"}},
      {{3, 9, 1, 1, 1}, {"SIM-OK", "115200", "EVEN", "2", "TRUE"}},
      {{1, 5, 2, 0, 0}, {"ttyS2-OK", "19200", "ODD", "1", "FALSE"}},
      // None, and positions past the end of a list: no selection.
      {{-1, 10, 3, -1, 2}, {"", "", "", "", ""}},
      {{4, -1, -1, 2, -1}, {"", "", "", "", ""}},
  };
  QComboBox* lists[] = {form->CommPortComboBox, form->BaudrateComboBox, form->ParityComboBox, form->StopBitsComboBox,
                        form->AutoDetectComboBox};
  for (const Case& c : cases) {
    for (int i = 0; i < TCommPortForm::ListCount; ++i)
      form->SetRemembered(static_cast<TCommPortForm::List>(i), c.tags[static_cast<std::size_t>(i)]);
    form->show();
    for (int i = 0; i < TCommPortForm::ListCount; ++i) {
      const int tag = c.tags[static_cast<std::size_t>(i)];
      const bool valid = tag >= 0 && tag < lists[i]->count();
      EXPECT_EQ(form->SelectedIndex(static_cast<TCommPortForm::List>(i)), valid ? tag : -1) << "list " << i;
      EXPECT_EQ(lists[i]->currentText(), c.shown[static_cast<std::size_t>(i)]) << "list " << i;
    }
    // A choice made in the dialog is what is selected now; the next showing
    // applies the remembered selections again.
    form->BaudrateComboBox->setCurrentIndex(0);
    EXPECT_EQ(form->SelectedIndex(TCommPortForm::BaudList), 0);
    form->hide();
  }
  form->SetRemembered(TCommPortForm::BaudList, 7);
  form->show();
  EXPECT_EQ(form->BaudText(), "38400");
}

TEST_F(CommPortFormTest, EachShowingRebuildsThePortList) {
  form->show();
  EXPECT_EQ(form->CommPortComboBox->count(), 4);
  form->hide();
  openable.insert("/dev/ttyS10");
  UsePorts({{"/dev/ttyS10", "ttyS10", 10, "", ""}});
  form->show();
  EXPECT_EQ(Items(form->CommPortComboBox), (QStringList{"ttyS10-OK", "SIM-OK"}));
}

TEST_F(CommPortFormTest, OkAtTheModulesLineOpensThePort) {
  ShowWith("SIM-OK", "9600");
  form->OKButtonClick();
  ExpectConnected();
  EXPECT_EQ(prompter.All(), std::vector<Shown>{});
  ASSERT_EQ(form->Attempts().size(), 1u);
  EXPECT_EQ(form->Attempts()[0].first, "sim");
  EXPECT_EQ(form->Attempts()[0].second, Line(9600, parity::None, stopbits::One));
  EXPECT_EQ(form->PortText(), "SIM-OK");
  EXPECT_EQ(form->BaudText(), "9600");
}

TEST_F(CommPortFormTest, TheSettingsChosenAreTheOnesTried) {
  module->SetLine(Line(115200, parity::Even, stopbits::One));
  ShowWith("SIM-OK", "115200", "EVEN", "1");
  form->OKButtonClick();
  ExpectConnected();
  ASSERT_EQ(form->Attempts().size(), 1u);
  EXPECT_EQ(form->Attempts()[0].second, Line(115200, parity::Even, stopbits::One));
  // The dialog hands out what it connected to, without its texts parsed back.
  EXPECT_EQ(form->Choice().path, "sim");
  EXPECT_EQ(form->Choice().line, Line(115200, parity::Even, stopbits::One));
  EXPECT_EQ(form->Choice().label, "SIM");
}

TEST_F(CommPortFormTest, OkAtAWrongBaudRateKeepsTheDialogOpen) {
  ShowWith("SIM-OK", "19200");
  form->OKButtonClick();
  EXPECT_EQ(prompter.All(), std::vector<Shown>{kInvalidSettingsBox});
  ExpectStillOpenAndStopped();
  EXPECT_FALSE(module->InProtocolMode());

  // The user corrects the rate and tries again in the same showing.
  prompter.Clear();
  form->BaudrateComboBox->setCurrentIndex(IndexOf(form->BaudrateComboBox, "9600"));
  form->OKButtonClick();
  ExpectConnected();
  EXPECT_EQ(prompter.Count(), 0u);
}

TEST_F(CommPortFormTest, ASilentPortIsNotARadio) {
  ShowWith("ttyS2-OK", "9600");
  form->OKButtonClick();
  EXPECT_EQ(prompter.All(), std::vector<Shown>{kInvalidSettingsBox});
  ExpectStillOpenAndStopped();
}

TEST_F(CommPortFormTest, ATypedPortPathIsOpenedAsTyped) {
  // The editable list takes a device the list does not show.
  ShowWith("ttyUSB0-N/A", "9600");
  form->CommPortComboBox->setEditText("/dev/nonexistent");
  form->OKButtonClick();
  // The port's own reason is the one box: there was no radio to ask.
  EXPECT_EQ(prompter.All(), std::vector<Shown>{kOpenFailedBox});
  ExpectStillOpenAndStopped();
  ASSERT_EQ(form->Attempts().size(), 1u);
  EXPECT_EQ(form->Attempts()[0].first, "/dev/nonexistent");

  prompter.Clear();
  form->CommPortComboBox->setEditText("sim");
  form->OKButtonClick();
  ExpectConnected();
  EXPECT_EQ(prompter.Count(), 0u);
  ASSERT_EQ(form->Attempts().size(), 1u);
  EXPECT_EQ(form->Attempts()[0].first, "sim");
}

// A port named at start that cannot be opened (no permission, say): one box
// with the reason, and the dialog shows the typed path when it opens.
TEST_F(CommPortFormTest, APortThatDoesNotOpenGivesOneBoxAndKeepsItsTypedPath) {
  EXPECT_FALSE(form->OpenNamed("/dev/nonexistent", "9600"));
  EXPECT_EQ(prompter.All(), std::vector<Shown>{kOpenFailedBox});
  form->show();
  EXPECT_EQ(form->CommPortComboBox->currentText(), "/dev/nonexistent");
  form->hide();
  // A list entry chosen later is what shows from then on.
  form->show();
  form->CommPortComboBox->setCurrentIndex(IndexOf(form->CommPortComboBox, "SIM-OK"));
  form->BaudrateComboBox->setCurrentIndex(IndexOf(form->BaudrateComboBox, "9600"));
  form->OKButtonClick();
  ExpectConnected();
  form->show();
  EXPECT_NE(form->CommPortComboBox->currentText(), "/dev/nonexistent");
}

// The attempts a search makes on one port: two stop bits, parities NONE,
// EVEN, ODD, each from 115200 baud down, until `last` (inclusive).
std::vector<std::pair<std::string, LineSettings>> SearchOf(const std::string& path,
                                                           std::optional<LineSettings> last = std::nullopt) {
  std::vector<std::pair<std::string, LineSettings>> out;
  for (std::uint8_t par : {parity::None, parity::Even, parity::Odd}) {
    for (auto it = std::rbegin(kBaudRates); it != std::rend(kBaudRates); ++it) {
      out.emplace_back(path, Line(*it, par, stopbits::Two));
      if (last && out.back().second == *last) return out;
    }
  }
  return out;
}

TEST_F(CommPortFormTest, AutoDetectTriesEveryLineOfEverySystemPortInOrder) {
  // The module answers only on the very last line of a port's search. It
  // runs one stop bit; the search sends two, which a UART set to one stop
  // bit reads without complaint.
  std::vector<PortInfo> ports = SystemPorts();
  ports.push_back({kRadioPath, "ttyS11", 11, "", ""});
  openable.insert(kRadioPath);
  UsePorts(ports);
  form->SetAttemptTimeoutMs(5);  // nothing answers before the radio port
  module->SetLine(Line(1200, parity::Odd, stopbits::One));
  ShowWith("ttyUSB0-N/A", "9600", "NONE", "1", "TRUE");
  form->OKButtonClick();
  ExpectConnected();

  // A port that cannot be opened gets one attempt, an open one all thirty;
  // the simulated module in the list is not searched.
  std::vector<std::pair<std::string, LineSettings>> want;
  want.emplace_back("/dev/ttyUSB0", Line(115200, parity::None, stopbits::Two));
  for (auto& a : SearchOf("/dev/ttyS2")) want.push_back(a);
  want.emplace_back("/dev/ttyS10", Line(115200, parity::None, stopbits::Two));
  for (auto& a : SearchOf(kRadioPath)) want.push_back(a);
  EXPECT_EQ(form->Attempts(), want);
  // One request an attempt, never a retry: the search's time is its attempts.
  EXPECT_EQ(radioWrites.load(), SearchOf(kRadioPath).size());
  // The 9600 baud attempt without parity is the seventh on each port.
  EXPECT_EQ(SearchOf("x")[6].second, Line(9600, parity::None, stopbits::Two));

  // The selections show what was found.
  EXPECT_EQ(form->PortText(), "ttyS11-OK");
  EXPECT_EQ(form->BaudText(), "1200");
  EXPECT_EQ(form->ParityComboBox->currentText(), "ODD");
  EXPECT_EQ(form->StopBitsComboBox->currentText(), "2");
  EXPECT_EQ(form->Choice().path, kRadioPath);
  EXPECT_EQ(form->Choice().line, Line(1200, parity::Odd, stopbits::Two));
  EXPECT_EQ(form->Choice().label, "ttyS11");
  // Only the two ports that cannot be opened said so.
  EXPECT_EQ(prompter.All(), (std::vector<Shown>{kOpenFailedBox, kOpenFailedBox}));
}

// Shown again after a search connected, the dialog shows the connection:
// the port and line found, Auto Detect as chosen, no stale status.
TEST_F(CommPortFormTest, ReopenedAfterAutoDetectItShowsTheConnectionAsMade) {
  std::vector<PortInfo> ports = SystemPorts();
  ports.push_back({kRadioPath, "ttyS11", 11, "", ""});
  openable.insert(kRadioPath);
  UsePorts(ports);
  form->SetAttemptTimeoutMs(5);
  module->SetLine(Line(19200, parity::None, stopbits::One));
  ShowWith("ttyUSB0-N/A", "9600", "NONE", "1", "TRUE");
  form->OKButtonClick();
  ExpectConnected();
  form->show();
  EXPECT_EQ(form->PortText(), "ttyS11-OK");
  EXPECT_EQ(form->BaudText(), "19200");
  EXPECT_EQ(form->AutoDetectComboBox->currentText(), "TRUE");
  EXPECT_EQ(form->StatusText(), "Select Settings");
}

TEST_F(CommPortFormTest, AutoDetectWithOnlyTheSimulatedModuleFindsNothing) {
  UsePorts({});
  ShowWith("SIM-OK", "9600", "NONE", "1", "TRUE");
  form->OKButtonClick();
  EXPECT_EQ(prompter.All(), std::vector<Shown>{kNotFoundBox});
  ExpectStillOpenAndStopped();
  EXPECT_TRUE(form->Attempts().empty());
  EXPECT_FALSE(module->InProtocolMode());
}

TEST_F(CommPortFormTest, AutoDetectSearchesATypedPathAlone) {
  test::QmxsimProcess radio({"--baud", "115200"});
  if (radio.Path().empty()) GTEST_SKIP() << "qmxsim did not start: " << test::QmxsimBinary();
  ShowWith("ttyS2-OK", "9600", "NONE", "1", "TRUE");
  form->CommPortComboBox->setEditText(QString::fromStdString(radio.Path()));
  form->OKButtonClick();
  EXPECT_EQ(form->result(), QDialog::Accepted);
  EXPECT_TRUE(link->transport.IsOpen());
  EXPECT_EQ(form->Attempts(), (std::vector<std::pair<std::string, LineSettings>>{
                                  {radio.Path(), Line(115200, parity::None, stopbits::Two)}}));
  EXPECT_EQ(form->PortText().toStdString(), radio.Path());
  EXPECT_EQ(prompter.Count(), 0u);
}

TEST_F(CommPortFormTest, CancelEndsASearchAfterTheCurrentAttempt) {
  openable.insert("/dev/ttyUSB0");  // silent too: the search spends its time there
  std::size_t attemptsAtCancel = 0;
  bool sawSearchRunning = false;
  QTimer::singleShot(0, form.get(), [&] {
    form->AutoDetectComboBox->setCurrentIndex(1);
    test::Click(form->OKButton);
  });
  QTimer::singleShot(300, form.get(), [&] {
    sawSearchRunning = form->StatusText() == "Checking for QMX Device...";
    attemptsAtCancel = form->Attempts().size();
    test::Click(form->CancelButton);
  });
  const auto start = std::chrono::steady_clock::now();
  const int result = form->exec();
  const auto took = std::chrono::steady_clock::now() - start;

  EXPECT_EQ(result, QDialog::Rejected);
  EXPECT_TRUE(sawSearchRunning);
  EXPECT_GT(attemptsAtCancel, 0u);
  EXPECT_EQ(form->Attempts().size(), attemptsAtCancel);  // no attempt after the one running
  EXPECT_LT(took, 2s);
  EXPECT_EQ(prompter.All(), std::vector<Shown>{kNotFoundBox});
  EXPECT_FALSE(form->isVisible());
  EXPECT_FALSE(link->transport.IsOpen());
  EXPECT_FALSE(module->InProtocolMode());
}

// The boot code is looked for once on a port whose radio did not answer
// protocol mode (under Auto Detect after the port's whole line search), never
// where a radio answered. A port that has it closes the dialog with
// BootCode, the port open and no box shown.
TEST_F(CommPortFormTest, TheBootCodeIsLookedForOnlyWhereNoRadioAnswered) {
  std::vector<std::pair<std::string, std::size_t>> probes;  // port, attempts made before
  std::string bootPort;                                      // where the boot code answers
  form->SetBootCodeProbe([&] {
    probes.emplace_back(link->transport.PortName(), form->Attempts().size());
    return link->transport.PortName() == bootPort;
  });
  using Probes = std::vector<std::pair<std::string, std::size_t>>;
  ShowWith("SIM-OK", "9600");
  form->OKButtonClick();
  ExpectConnected();
  EXPECT_EQ(probes, Probes{});
  link->transport.StopComm();

  ShowWith("ttyS2-OK", "9600");
  form->OKButtonClick();
  EXPECT_EQ(probes, (Probes{{"/dev/ttyS2", 1}}));
  EXPECT_EQ(prompter.All(), std::vector<Shown>{kInvalidSettingsBox});
  EXPECT_TRUE(form->isVisible());
  EXPECT_FALSE(link->transport.IsOpen());

  bootPort = "/dev/ttyS2";
  probes.clear();
  prompter.Clear();
  form->OKButtonClick();
  EXPECT_EQ(form->result(), TCommPortForm::BootCode);
  EXPECT_FALSE(form->isVisible());
  EXPECT_TRUE(link->transport.IsOpen());
  EXPECT_EQ(prompter.Count(), 0u);
  link->transport.StopComm();

  // Auto Detect: ttyUSB0 does not open, ttyS2 and ttyS10 are silent, and
  // ttyS10 cannot run 28800 baud, its fourth line (the port is closed
  // then, and opened again to be asked). The port with the boot code is
  // open again afterwards at the factory line.
  form->SetAttemptTimeoutMs(5);
  openable.insert("/dev/ttyS10");
  bootPort = "/dev/ttyS10";
  probes.clear();
  prompter.Clear();
  ShowWith("SIM-OK", "19200", "EVEN", "1", "TRUE");
  form->OKButtonClick();
  EXPECT_EQ(probes, (Probes{{"/dev/ttyS2", 31}, {"/dev/ttyS10", 35}}));
  EXPECT_EQ(form->result(), TCommPortForm::BootCode);
  EXPECT_TRUE(link->transport.IsOpen());
  EXPECT_EQ(link->transport.PortName(), "/dev/ttyS10");
  EXPECT_EQ(form->PortText(), "ttyS10-OK");
  EXPECT_EQ(form->BaudText(), "9600");
  EXPECT_EQ(form->ParityComboBox->currentText(), "NONE");
  EXPECT_EQ(form->StopBitsComboBox->currentText(), "1");
  link->transport.StopComm();

  // A radio that answers on a later port is found all the same.
  std::vector<PortInfo> ports = SystemPorts();
  ports.push_back({kRadioPath, "ttyS11", 11, "", ""});
  openable.insert(kRadioPath);
  UsePorts(ports);
  bootPort = "/dev/ttyS2";
  probes.clear();
  ShowWith("SIM-OK", "9600", "NONE", "1", "TRUE");
  form->OKButtonClick();
  ExpectConnected();
  EXPECT_EQ(probes, (Probes{{"/dev/ttyS2", 31}}));
}

TEST_F(CommPortFormTest, CancelRejectsTheDialog) {
  QTimer::singleShot(0, form.get(), [&] { test::Click(form->CancelButton); });
  EXPECT_EQ(form->exec(), QDialog::Rejected);
  EXPECT_EQ(prompter.Count(), 0u);
  EXPECT_TRUE(form->Attempts().empty());
  EXPECT_FALSE(link->transport.IsOpen());
}

TEST_F(CommPortFormTest, OkInsideExecAcceptsTheDialog) {
  form->SetRemembered(TCommPortForm::PortList, 3);  // SIM-OK
  QTimer::singleShot(0, form.get(), [&] { test::Click(form->OKButton); });
  EXPECT_EQ(form->exec(), QDialog::Accepted);
  EXPECT_TRUE(link->transport.IsOpen());
  EXPECT_TRUE(module->InProtocolMode());
}

}  // namespace
}  // namespace qmx

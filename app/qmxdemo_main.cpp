// qmxdemo: the composition root of the desktop program. Creates the radio
// link (with the built-in simulated module behind the port name "sim"),
// every window in start-up order, wires them and runs the event loop.
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QDateTime>
#include <QFile>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <optional>

#include "config/register_map.h"
#include "config/ui/device_config_form.h"
#include "config/ui/mac_form.h"
#include "link/radio_link.h"
#include "link/version.h"
#include "link/ui/comm_port_form.h"
#include "link/ui/qt_prompter.h"
#include "link/ui/qt_waiter.h"
#include "link/workdir.h"
#include "mainwindow/ui/main_window.h"
#include "sim/sim_module.h"
#include "sim/sim_serial_port.h"
#include "tools/ui/about_form.h"
#include "tools/ui/packet_form.h"
#include "tools/ui/diag_form.h"
#include "tools/ui/note_form.h"
#include "tools/ui/firmware_form.h"
#include "tools/ui/firmware_info_form.h"

namespace {

// "1200, 2400, ... 115200": the port dialog's baud rate list.
QString BaudRatesText() {
  QStringList rates;
  for (std::uint32_t rate : qmx::kBaudRates) rates << QString::number(rate);
  return rates.join(", ");
}

struct Options {
  QCommandLineOption sim{"sim", "Start on the built-in simulated module: the port dialog selects it."};
  QCommandLineOption workdir{"workdir", "Directory of the program's files (logfile.dat, qmxdemo.ini).", "DIR",
                             QDir::currentPath()};
  QCommandLineOption userDirs{"user-dirs",
                              "Keep the settings in $XDG_CONFIG_HOME/qmxdemo (~/.config/qmxdemo) and the logs in "
                              "$XDG_STATE_HOME/qmxdemo (~/.local/state/qmxdemo) instead of the working directory, as "
                              "the desktop menu's entry does."};
  QCommandLineOption demo{"demo-interval",
                          "Mean seconds between two reports of a simulated remote (0: a quiet network; default 10).",
                          "SECONDS", "10"};
  QCommandLineOption port{"port",
                          "Connect at start to this port, as if chosen in the port dialog and OK pressed: a list "
                          "entry's name (SIM for the simulated module, ttyUSB0) or a device path.",
                          "NAME"};
  QCommandLineOption baud{"baud", "Baud rate for --port, one of " + BaudRatesText() +
                                      " (default: the port dialog's selection).",
                          "RATE"};
};

// A --baud value that the port dialog's baud rate list holds.
bool ListedBaud(const QString& text) {
  bool number = false;
  const unsigned rate = text.toUInt(&number);
  return number && std::find(std::begin(qmx::kBaudRates), std::end(qmx::kBaudRates), rate) != std::end(qmx::kBaudRates);
}

void DescribeOptions(QCommandLineParser& cli, const Options& options) {
  // "-reverse" is Qt's option, not -r -e -v... (-v would print the version).
  cli.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
  cli.setApplicationDescription(
      "Configuration and demonstration tool for QMX2400 radio modules on a serial port.\n"
      "With no radio attached, choose the port SIM-OK in the port dialog to use the\n"
      "built-in simulated module.");
  cli.addHelpOption();
  cli.addVersionOption();
  cli.addOptions({options.sim, options.workdir, options.userDirs, options.demo, options.port, options.baud});
}

// --help and --version print and end the program before any window system
// is needed, so they work without a display. Only a QCoreApplication exists
// meanwhile; it is gone before the QApplication is made. The window
// system's own options (-platform, -stylesheet, -reverse and the like) are
// not known here: they are left for the full parse once the QApplication has
// taken them out. --help-all lists those too, which needs a QApplication:
// it is answered by the full parse, on the offscreen platform when no
// display was named.
void AnswerHelpAndVersion(int argc, char** argv, const Options& options) {
  QCoreApplication core(argc, argv);
  QCommandLineParser cli;
  DescribeOptions(cli, options);
  (void)cli.parse(QCoreApplication::arguments());  // errors are reported by the full parse
  if (cli.isSet("help-all")) {
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
      qputenv("QT_QPA_PLATFORM", "offscreen");
    return;
  }
  if (cli.isSet("help")) cli.showHelp(0);
  if (cli.isSet("version")) cli.showVersion();
}

// The values of the program's own options; false after saying on stderr
// what is wrong.
bool ArgumentsValid(const QCommandLineParser& cli, const Options& options) {
  const QString workdir = cli.value(options.workdir);
  if (cli.isSet(options.workdir) && cli.isSet(options.userDirs)) {
    std::fprintf(stderr, "qmxdemo: --workdir and --user-dirs name two places: give one\n");
    return false;
  }
  if (!QDir(workdir).exists()) {
    std::fprintf(stderr, "qmxdemo: no such directory: %s\n", qPrintable(workdir));
    return false;
  }
  bool demoOk = false;
  const int demoSeconds = cli.value(options.demo).toInt(&demoOk);
  if (!demoOk || demoSeconds < 0) {
    std::fprintf(stderr, "qmxdemo: bad --demo-interval: %s\n", qPrintable(cli.value(options.demo)));
    return false;
  }
  const QString baud = cli.value(options.baud);
  if (cli.isSet(options.baud) && !cli.isSet(options.port)) {
    std::fprintf(stderr, "qmxdemo: --baud needs --port\n");
    return false;
  }
  if (cli.isSet(options.baud) && !ListedBaud(baud)) {
    std::fprintf(stderr, "qmxdemo: bad --baud: %s (one of %s)\n", qPrintable(baud), qPrintable(BaudRatesText()));
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication::setApplicationName("QMXDemo");
  QCoreApplication::setApplicationVersion(QMX_VERSION_TEXT);
  const Options options;
  AnswerHelpAndVersion(argc, argv, options);

  QApplication app(argc, argv);
  QCommandLineParser cli;
  DescribeOptions(cli, options);
  cli.process(app);
  if (!ArgumentsValid(cli, options)) return 2;
  const QString workdir = cli.value(options.workdir);
  const int demoSeconds = cli.value(options.demo).toInt();
  const QString portName = cli.value(options.port);
  const QString baud = cli.value(options.baud);

  qmx::WorkDir dir(workdir.toStdString());
  qmx::QtPrompter prompter(nullptr, &dir);
  if (cli.isSet(options.userDirs)) {
    const qmx::UserDirs user = qmx::XdgUserDirs([](const char* name) { return std::getenv(name); });
    if (user.settings.empty() || user.logs.empty()) {
      prompter.Message("HOME is not set, nor XDG_CONFIG_HOME and XDG_STATE_HOME: there is no folder for the "
                       "settings and logs.",
                       "QMXDemo");
      return 1;
    }
    for (const auto& folder : {user.settings, user.logs}) {
      if (const auto why = qmx::MakePrivateDir(folder)) {
        prompter.Message("The folder of the settings and logs could not be made: " + *why + ".", "QMXDemo");
        return 1;
      }
    }
    dir.SetDirs(user.settings, user.logs);
  }
  // Held until the program ends: a second program in the same folder is
  // offered a folder of its own.
  const std::optional<qmx::WorkDirLock> lock = qmx::ClaimWorkDir(dir, prompter, portName.toStdString());
  if (!lock) return 1;
  qmx::QtWaiter waiter;
  auto module = std::make_shared<qmx::sim::SimModule>(qmx::sim::LiveNetwork(std::chrono::seconds(demoSeconds)));
  qmx::ForwardingSink sink;
  qmx::RadioLink link(
      qmx::sim::MakeSimPortFactory(module, [](const std::string&) { return qmx::MakePosixSerialPort(); }), dir,
      prompter, waiter, sink);
  qmx::RadioImage image;

  // Every window, in start-up order; they live until the program ends.
  qmx::TForm1 form1(link, image, prompter, dir);
  sink.SetTarget(&form1.Sink());
  qmx::TAboutForm about(&form1);
  about.SetFileFolders(QString::fromStdString(dir.Dir().string()), QString::fromStdString(dir.SettingsDir().string()));
  link.log.SetHeaderTitle((about.TitleText() + " " + about.VersionText()).toStdString());
  qmx::TCommPortForm port(link, prompter, &form1);
  port.SetPreferSim(cli.isSet(options.sim));
  port.SetBootCodeProbe(qmx::BootCodeProbe(link));
  qmx::TDeviceConfigForm config(&form1);
  qmx::TMACForm mac(&form1);
  qmx::TPacketForm packetBuilder(link, prompter, &form1);
  qmx::DiagLog diagLog(dir, prompter);
  qmx::TDiagForm diagnostics(link, prompter, diagLog, &form1);
  // A child of the diagnostics window, so that it takes input while that
  // window is modal.
  qmx::TInsertNoteForm note(diagLog, &diagnostics);
  diagnostics.SetNoteForm(&note);
  qmx::TForm2 information(&form1);
  qmx::TForm3 upgrade(&form1);
  upgrade.SetInformationWindow(&information);
  form1.SetForms({&port, &about, &config, &mac, &packetBuilder, &diagnostics, &upgrade});

  // A harness that watches for a hung event loop names a file here: the
  // loop rewrites it twice a second while it runs (no timer otherwise).
  QTimer heartbeat;
  if (const QString path = qEnvironmentVariable("QMX_HEARTBEAT"); !path.isEmpty()) {
    QObject::connect(&heartbeat, &QTimer::timeout, [path] {
      QFile beat(path);
      if (beat.open(QIODevice::WriteOnly | QIODevice::Truncate))
        beat.write(QByteArray::number(QDateTime::currentMSecsSinceEpoch()));
    });
    heartbeat.start(500);
  }

  form1.show();
  // Once the window shows (and has loaded its settings file).
  if (cli.isSet(options.port))
    QTimer::singleShot(0, &form1, [&form1, portName, baud] { form1.ConnectTo(portName, baud); });
  const int result = app.exec();
  prompter.Shutdown();
  sink.SetTarget(nullptr);
  link.parser.Stop();
  link.transport.StopComm();
  return result;
}

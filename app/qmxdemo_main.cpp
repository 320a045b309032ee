// qmxdemo: the composition root of the desktop program. Creates the radio
// link (with the built-in simulated module behind the port name "sim"),
// every window in start-up order, wires them and runs the event loop.
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <cstdio>
#include <memory>

#include "config/register_map.h"
#include "config/ui/device_config_form.h"
#include "config/ui/mac_form.h"
#include "link/radio_link.h"
#include "link/ui/comm_port_form.h"
#include "link/ui/qt_prompter.h"
#include "link/ui/qt_waiter.h"
#include "link/workdir.h"
#include "mainwindow/ui/main_window.h"
#include "sim/sim_module.h"
#include "sim/sim_serial_port.h"
#include "tools/ui/about_form.h"
#include "tools/ui/tool_forms.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("QMXDemo");
  QApplication::setApplicationVersion("2.05");

  QCommandLineParser cli;
  cli.setApplicationDescription(
      "Configuration and demonstration tool for QMX2400 radio modules on a serial port.\n"
      "With no radio attached, choose the port SIM-OK in the port dialog to use the\n"
      "built-in simulated module.");
  cli.addHelpOption();
  cli.addVersionOption();
  QCommandLineOption simOption("sim", "Start on the built-in simulated module: the port dialog selects it.");
  QCommandLineOption dirOption("workdir", "Directory of the program's files (logfile.dat, qmxdemo.ini).", "DIR",
                               QDir::currentPath());
  QCommandLineOption demoOption("demo-interval",
                                "Seconds between the simulated network's events (0: none; default 10).",
                                "SECONDS", "10");
  cli.addOption(simOption);
  cli.addOption(dirOption);
  cli.addOption(demoOption);
  cli.process(app);

  const QString workdir = cli.value(dirOption);
  if (!QDir(workdir).exists()) {
    std::fprintf(stderr, "qmxdemo: no such directory: %s\n", qPrintable(workdir));
    return 2;
  }
  bool demoOk = false;
  const int demoSeconds = cli.value(demoOption).toInt(&demoOk);
  if (!demoOk || demoSeconds < 0) {
    std::fprintf(stderr, "qmxdemo: bad --demo-interval: %s\n", qPrintable(cli.value(demoOption)));
    return 2;
  }

  qmx::WorkDir dir(workdir.toStdString());
  qmx::QtPrompter prompter;
  qmx::QtWaiter waiter;
  auto module = std::make_shared<qmx::sim::SimModule>();
  module->SetDemoInterval(std::chrono::seconds(demoSeconds));
  qmx::ForwardingSink sink;
  qmx::RadioLink link(
      qmx::sim::MakeSimPortFactory(module, [](const std::string&) { return qmx::MakePosixSerialPort(); }), dir,
      prompter, waiter, sink);
  qmx::RadioImage image;

  // Every window, in start-up order; they live until the program ends.
  qmx::TForm1 form1(link, image, prompter, dir);
  sink.SetTarget(&form1.Sink());
  qmx::TAboutForm about(&form1);
  link.log.SetHeaderTitle((about.TitleText() + " " + about.VersionText()).toStdString());
  qmx::TCommPortForm port(link, prompter, &form1);
  port.SetPreferSim(cli.isSet(simOption));
  qmx::TDeviceConfigForm config(&form1);
  qmx::TMACForm mac(&form1);
  qmx::TPacketForm packetBuilder(&form1);
  qmx::TDiagForm diagnostics(&form1);
  qmx::TInsertNoteForm note(&form1);
  qmx::TForm2 information(&form1);
  qmx::TForm3 upgrade(&form1);
  form1.SetForms({&port, &about, &config, &mac, &packetBuilder, &diagnostics, &upgrade});

  form1.show();
  const int result = app.exec();
  prompter.Shutdown();
  sink.SetTarget(nullptr);
  link.parser.Stop();
  link.transport.StopComm();
  return result;
}

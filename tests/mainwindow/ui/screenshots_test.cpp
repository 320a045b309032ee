// Pictures of the main window and the port dialog as a person sees them,
// saved under <build>/screenshots for review, and the layout faults a
// picture would show, checked here: text cut off, controls on top of others.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QEventLoop>
#include <QFontInfo>
#include <QGroupBox>
#include <QLineEdit>
#include <QTabWidget>
#include <QTextEdit>
#include <QLabel>
#include <QMainWindow>
#include <QPixmap>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <string>
#include <vector>

#include "link/ui/window_fit.h"
#include "tests/fixtures/qmxsim_process.h"
#include "tests/fixtures/temp_dir.h"
#include "mainwindow/ui/poll_io_tab.h"
#include <QHeaderView>
#include "mainwindow/ui/received_column.h"
#include "mainwindow/ui/serial_tab.h"
#include "mainwindow/ui/terminal_tab.h"
#include "tests/mainwindow/ui/demo_set.h"

namespace qmx {
namespace {

std::string Name(const QWidget* w) {
  return (w->objectName().isEmpty() ? QString(w->metaObject()->className()) : w->objectName()).toStdString();
}

// Every visible label, button and list in `root` is wide and tall enough for
// its text, and no two of them that share a parent overlap.
void ExpectTidy(QWidget* root) {
  const auto widgets = root->findChildren<QWidget*>();
  std::vector<QWidget*> shown;
  for (QWidget* w : widgets) {
    if (!w->isVisibleTo(root) || w->window() != root) continue;
    if (auto* label = qobject_cast<QLabel*>(w)) {
      if (label->text().isEmpty() || label->wordWrap()) continue;
      const QFontMetrics fm(label->font());
      const QSize need = fm.size(0, label->text());
      EXPECT_GE(label->contentsRect().width(), need.width()) << Name(label) << ": " << label->text().toStdString();
      EXPECT_GE(label->contentsRect().height(), need.height()) << Name(label) << ": " << label->text().toStdString();
      shown.push_back(w);
    } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
      if (button->text().isEmpty()) continue;
      EXPECT_GE(button->width(), button->sizeHint().width()) << Name(button);
      EXPECT_GE(button->height(), button->minimumSizeHint().height()) << Name(button);
      shown.push_back(w);
    } else if (auto* box = qobject_cast<QComboBox*>(w)) {
      const QFontMetrics fm(box->font());
      for (int i = 0; i < box->count(); ++i)
        EXPECT_GE(box->width(), fm.horizontalAdvance(box->itemText(i)) + 20)
            << Name(box) << ": " << box->itemText(i).toStdString();
      shown.push_back(w);
    }
  }
  for (std::size_t i = 0; i < shown.size(); ++i)
    for (std::size_t j = i + 1; j < shown.size(); ++j)
      if (shown[i]->parentWidget() == shown[j]->parentWidget()) {
        EXPECT_FALSE(shown[i]->geometry().intersects(shown[j]->geometry()))
            << Name(shown[i]) << " overlaps " << Name(shown[j]);
      }
}

void Save(QWidget* w, const char* file) {
  const std::filesystem::path dir = std::filesystem::path(test::BuildDir()) / "screenshots";
  std::filesystem::create_directories(dir);
  const QPixmap picture = w->grab();
  EXPECT_FALSE(picture.isNull());
  EXPECT_TRUE(picture.save(QString::fromStdString((dir / file).string()), "PNG")) << file;
}

class ScreenshotTest : public ::testing::Test {
 protected:
  test::TempDir temp;
  test::DemoSet set{
      temp.path(),
      {{"/dev/ttyUSB0", "ttyUSB0", 0, "FT232R USB UART", "0403:6001"}, {"/dev/ttyS10", "ttyS10", 10, "", ""}}};

  // Connect and OK on the simulated module's entry.
  bool ConnectToSimulator() {
    set.WhenPortDialogShows([](TCommPortForm& d) {
      d.CommPortComboBox->setCurrentIndex(d.CommPortComboBox->findText("SIM-OK"));
      d.OKButtonClick();
    });
    set.form1.ConnectButtonClick();
    return set.form1.Connected();
  }
};

TEST_F(ScreenshotTest, MainWindowDisconnectedAndConnected) {
  TForm1& w = set.form1;
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  ExpectTidy(&w);
  Save(&w, "main_disconnected.png");

  ASSERT_TRUE(ConnectToSimulator());
  QCoreApplication::processEvents();  // the layout settles
  ExpectTidy(&w);
  Save(&w, "main_connected.png");
}

TEST_F(ScreenshotTest, SerialTabWithReceivedData) {
  TForm1& w = set.form1;
  SerialTab& tab = *w.Serial;
  const QFontInfo font(tab.ReceivedDataRichEdit->font());
  const QFontMetrics metrics(tab.ReceivedDataRichEdit->font());
  EXPECT_EQ(metrics.horizontalAdvance("iiii"), metrics.horizontalAdvance("WWWW")) << font.family().toStdString();
  EXPECT_EQ(font.pixelSize(), 12);
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  w.PageControl1->setEnabled(true);
  std::vector<std::uint8_t> data(40);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7);
  tab.ShowReceivedData(0x0002, 0xC8, data);
  tab.HexCheckBox->setChecked(false);
  const std::string text = "Hello from remote 3, a line of exactly seventy-six characters in text mode..";
  tab.ShowReceivedData(0x0003, 0x9A, std::vector<std::uint8_t>(text.begin(), text.end()));
  tab.HexCheckBox->setChecked(true);
  for (std::uint8_t i = 0; i < 20; ++i) tab.ShowReceivedData(0x0001, 0x40, std::vector<std::uint8_t>{i, 0xFF});
  tab.AddNetworkAddress(0x0002);
  tab.AddNetworkAddress(0x8001);
  tab.TXStatusEdit->setText("0x00");
  tab.LQIEdit->setText("0xC8");
  QCoreApplication::processEvents();  // the layout settles
  ExpectTidy(&w);
  // A line of 76 characters fits its column.
  EXPECT_GE(tab.ReceivedDataRichEdit->contentsRect().width() - 2 * ReceivedColumn::kMargin,
            QFontMetrics(tab.ReceivedDataRichEdit->font()).horizontalAdvance(QString::fromStdString(text)));
  Save(&w, "serial_tab.png");

  // Larger: the columns fill the view, side by side, header above them.
  const int rowsBefore = tab.ReceivedDataRichEdit->height();
  w.resize(w.size() + QSize(300, 250));
  QCoreApplication::processEvents();  // the layout settles
  ExpectTidy(&w);
  EXPECT_GT(tab.ReceivedDataRichEdit->width(), 535 + 250);
  EXPECT_GE(tab.ReceivedDataRichEdit->height(), rowsBefore);
  EXPECT_EQ(tab.LQIRichEdit->geometry().left(), tab.ReceivedDataRichEdit->geometry().right() + 1);
  EXPECT_EQ(tab.HeaderControl1->sectionSize(1), tab.ReceivedDataRichEdit->width());
  Save(&w, "serial_tab_larger.png");
}

TEST_F(ScreenshotTest, EventsAndTerminalTabsWithLiveData) {
  TForm1& w = set.form1;
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  ASSERT_TRUE(ConnectToSimulator());
  // Announcements and an event from the module, decoded as they come.
  set.module->SendAnnounce(0xA0);
  set.module->SendAnnounce(0xA2, std::vector<std::uint8_t>{0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x02, 0x00});
  set.module->SendAnnounce(0xE5);
  set.module->SendRxEvent(0x0002);
  w.PageControl1->setCurrentIndex(2);
  // The parser thread hands them over; the event comes last.
  ASSERT_TRUE(QTest::qWaitFor([&w] { return w.EventRichEdit->toPlainText().contains("Received Event from"); }, 10000));
  ExpectTidy(&w);
  Save(&w, "events_tab.png");

  w.PageControl1->setCurrentIndex(3);
  QTest::keyClicks(w.ZavedoRichEdit, "Hello radio\r");
  {
    // The echo comes back in hex before the display switches to text.
    QEventLoop loop;
    QObject::connect(w.ZavedoRichEdit, &QTextEdit::textChanged, &loop, [&] {
      if (w.ZavedoRichEdit->toPlainText().endsWith("0D ")) loop.quit();
    });
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    loop.exec();
  }
  w.ShowSettingsInHex1->setChecked(false);
  QTest::keyClicks(w.ZavedoRichEdit, "Hello radio\r");
  ASSERT_TRUE(QTest::qWaitFor([&w] { return w.ZavedoRichEdit->toPlainText().endsWith("Hello radio\n"); }, 10000));
  ExpectTidy(&w);
  Save(&w, "terminal_tab.png");
}

TEST_F(ScreenshotTest, PollIoTabWithLiveData) {
  TForm1& w = set.form1;
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  ASSERT_TRUE(ConnectToSimulator());
  // Remote 1 drives two outputs and has PWM1 on.
  const std::uint8_t outputs[] = {0x05}, pwm1On[] = {0x04};
  set.module->PokeRegisters(0x0001, 6, 0, outputs);
  set.module->PokeRegisters(0x0001, 6, 2, pwm1On);
  for (std::uint16_t a : {0x0001, 0x0002, 0x0003}) w.Sink().RemoteJoined(a);
  QCoreApplication::processEvents();
  w.PageControl1->setCurrentWidget(w.PollIO);
  for (int n = 1; n <= 3; ++n) w.RadioNetworkAddressComboBox[static_cast<std::size_t>(n - 1)]->setCurrentIndex(n - 1);
  w.RadioNetworkAddressComboBox[3]->setEditText("0x0004");
  QCoreApplication::processEvents();  // the layout settles
  EXPECT_EQ(w.PollIO->RemoteRadioControls[0].mac->text(), "02:51:4D:58:24:00:00:02");
  ExpectTidy(&w);
  Save(&w, "poll_io_tab.png");
  // All four groups in view at the first size, each MAC address whole.
  for (QWidget* group : w.PollIO->RadioGroupBox)
    EXPECT_TRUE(w.rect().contains(QRect(group->mapTo(&w, QPoint(0, 0)), group->size()))) << Name(group);
  const RemoteRadioRow& first = w.PollIO->RemoteRadioControls[0];
  EXPECT_GE(first.mac->width(), QFontMetrics(first.mac->font()).horizontalAdvance(first.mac->text()) + 4);

  w.CloseCheckBox->setChecked(true);
  QCoreApplication::processEvents();  // the layout settles
  // All four groups in view.
  const QRect group4(w.PollIO->RadioGroupBox[3]->mapTo(&w, QPoint(0, 0)), w.PollIO->RadioGroupBox[3]->size());
  EXPECT_TRUE(w.rect().contains(group4));
  ExpectTidy(&w);
  Save(&w, "poll_io_tab_collapsed.png");
}

TEST_F(ScreenshotTest, PortDialog) {
  set.port.SetRemembered(TCommPortForm::PortList, 1);
  set.port.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&set.port));
  ExpectTidy(&set.port);
  Save(&set.port, "comm_port_form.png");

  // After a failed attempt, with the longest status text.
  set.port.BaudrateComboBox->setCurrentIndex(0);
  set.port.OKButtonClick();
  ExpectTidy(&set.port);
  EXPECT_EQ(set.port.StatusText(), "Could not find radio");
  Save(&set.port, "comm_port_form_failed.png");

  // A user who may not open the serial ports is told why, once, in the dialog.
  set.port.hide();
  set.port.SetPermissionHintSource([](const std::vector<PortInfo>&) {
    return PermissionHint({{"/dev/ttyUSB0", false, 20, 0660}},
                          {{1000}, [](unsigned) { return std::string("dialout"); }, [](unsigned) { return false; }});
  });
  set.port.show();
  ASSERT_TRUE(set.port.PermissionLabel->isVisible());
  EXPECT_TRUE(set.port.PermissionLabel->text().contains("sudo usermod -aG dialout $USER"));
  ExpectTidy(&set.port);
  Save(&set.port, "comm_port_form_permission.png");
}

TEST_F(ScreenshotTest, ConfigDialogEveryTabAndMacDialog) {
  set.form1.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&set.form1));
  ASSERT_TRUE(ConnectToSimulator());
  TDeviceConfigForm& d = set.config;
  d.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&d));
  for (int i = 0; i < d.PageControl1->count(); ++i) {
    d.PageControl1->setCurrentIndex(i);
    QCoreApplication::processEvents();  // the layout settles
    ExpectTidy(&d);
    Save(&d, ("config_tab" + std::to_string(i) + ".png").c_str());
  }
  d.hide();

  set.mac.MACAddressEdit->setText("00:11:22:33:44:55:66:77");
  set.mac.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&set.mac));
  ExpectTidy(&set.mac);
  Save(&set.mac, "mac_form.png");
}

// A title bar cuts a caption that does not fit ("MAC A…Write"): every
// window the program makes is wide enough for its caption and the bar's
// buttons.
TEST_F(ScreenshotTest, EveryWindowShowsItsCaptionWhole) {
  int windows = 0;
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (!qobject_cast<QDialog*>(w) && !qobject_cast<QMainWindow*>(w)) continue;
    ++windows;
    w->show();
    QCoreApplication::processEvents();
    EXPECT_GE(w->frameGeometry().width(), CaptionWidth(*w)) << w->windowTitle().toStdString();
    w->hide();
  }
  EXPECT_GE(windows, 10);
}

}  // namespace
}  // namespace qmx

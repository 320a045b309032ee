#include "tools/ui/about_form.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <cstdlib>
#include <filesystem>

#include "tests/fixtures/ui/qt_app.h"

namespace qmx {
namespace {

class AboutFormTest : public ::testing::Test {
 protected:
  void SetUp() override { test::QtApp(); }
};

TEST_F(AboutFormTest, FixedTexts) {
  TAboutForm form;
  EXPECT_EQ(form.windowTitle(), "OrvaneDemo");
  EXPECT_EQ(form.TitleText(), "QMXDemo 2.0");
  EXPECT_EQ(form.VersionText(), "Version 2.05");
  auto* ok = form.findChild<QPushButton*>("Button1");
  ASSERT_TRUE(ok);
  EXPECT_EQ(ok->text(), "OK");
  // Bootup replaced the designed caption.
  EXPECT_NE(form.OperatingSystemText(), "Windows");
  EXPECT_FALSE(form.OperatingSystemText().isEmpty());
  EXPECT_TRUE(form.HasPicture());
}

TEST_F(AboutFormTest, SaysWhereTheLogAndTheSettingsAreOnceTold) {
  TAboutForm form;
  auto* folders = form.findChild<QLabel*>("FoldersStaticText");
  ASSERT_TRUE(folders);
  EXPECT_TRUE(folders->isHidden());
  form.SetFileFolders("/home/u/radio", "/home/u/radio");
  EXPECT_FALSE(folders->isHidden());
  EXPECT_EQ(form.FileFoldersText(), "Log files in /home/u/radio");
  form.SetFileFolders("/home/u/.local/state/qmxdemo", "/home/u/.config/qmxdemo");
  EXPECT_EQ(form.FileFoldersText(),
            "Log files in /home/u/.local/state/qmxdemo\nSettings in /home/u/.config/qmxdemo");
}

TEST_F(AboutFormTest, SystemInformationLines) {
  TAboutForm form;
  form.ShowSystemInfo("Microsoft Windows XP Professional Service Pack 2 (Build 2600)\n",
                      {1, 586, std::uint64_t{512} << 20, std::uint64_t{300} << 20});
  EXPECT_EQ(form.OperatingSystemText(), "Microsoft Windows XP Professional Service Pack 2 (Build 2600)");
  const QStringList want = {"Hardware information:",        "",
                            " Number of processors: 1",     " Processor type: 586",
                            " Total Memory  524288 Kbytes.", " Available Memory  307200 Kbytes."};
  EXPECT_EQ(form.HardwareInfo(), want);
  auto* memo = form.findChild<QPlainTextEdit*>("Memo1");
  ASSERT_TRUE(memo);
  EXPECT_TRUE(memo->isReadOnly());

  // Filling again replaces, it does not pile up.
  form.ShowSystemInfo(std::string(kOsInfoError), {});
  EXPECT_EQ(form.OperatingSystemText(), "Erroring getting info from Windows");
  EXPECT_EQ(form.HardwareInfo().size(), 6);
}

TEST_F(AboutFormTest, LinkAndPictureOpenTheWebAddress) {
  TAboutForm form;
  QStringList opened;
  form.SetUrlOpener([&](const QString& url) { opened << url; });
  form.show();
  auto* link = form.findChild<QLabel*>("LinkStaticText");
  auto* picture = form.findChild<QLabel*>("PictureImage");
  ASSERT_TRUE(link && picture);
  EXPECT_EQ(link->cursor().shape(), Qt::PointingHandCursor);
  EXPECT_EQ(picture->cursor().shape(), Qt::PointingHandCursor);
  EXPECT_TRUE(link->text().contains("https://www.example.com/qmx2400"));

  test::Click(link, Qt::LeftButton);
  test::Click(picture, Qt::LeftButton);
  test::Click(picture, Qt::RightButton);  // not a click on the link
  EXPECT_EQ(opened, QStringList({"https://www.example.com/qmx2400", "https://www.example.com/qmx2400"}));
}

TEST_F(AboutFormTest, OkCloses) {
  TAboutForm form;
  form.show();
  ASSERT_TRUE(form.isVisible());
  int finished = 0;
  QObject::connect(&form, &QDialog::finished, [&finished] { ++finished; });
  test::Click(form.findChild<QPushButton*>("Button1"), Qt::LeftButton);
  EXPECT_FALSE(form.isVisible());
  EXPECT_EQ(finished, 1);
}

class AboutLayoutTest : public AboutFormTest, public ::testing::WithParamInterface<const char*> {
 public:
  static int GetParamIndex() {
    const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    return std::stoi(name.substr(name.rfind('/') + 1));
  }
};

TEST_P(AboutLayoutTest, FitsAndScreenshot) {
  const std::string os = GetParam();
  TAboutForm form;
  form.ShowSystemInfo(os, {16, 8664, std::uint64_t{64} << 30, std::uint64_t{60} << 30});
  form.show();
  QApplication::processEvents();
  // Fixed size: what the layout asks for, not resizable.
  EXPECT_EQ(form.minimumSize(), form.maximumSize());
  // No child sticks out of the box or overlaps another.
  const QList<QWidget*> kids = form.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
  for (QWidget* w : kids) {
    if (!w->isVisible()) continue;
    EXPECT_TRUE(form.rect().contains(w->geometry())) << w->objectName().toStdString();
    for (QWidget* other : kids) {
      if (other != w && other->isVisible()) {
        EXPECT_FALSE(w->geometry().intersects(other->geometry()))
            << w->objectName().toStdString() << " / " << other->objectName().toStdString();
      }
    }
  }
  // Every label shows its whole text on one line or wraps without clipping.
  for (QLabel* label : form.findChildren<QLabel*>()) {
    if (label->pixmap().isNull() && !label->wordWrap()) {
      EXPECT_GE(label->width(), label->sizeHint().width()) << label->objectName().toStdString();
    }
  }
  const char* dir = std::getenv("QMX_BINARY_DIR");
  const std::filesystem::path out =
      std::filesystem::path(dir ? dir : ".") / "screenshots" /
      ("about_form_" + std::to_string(AboutLayoutTest::GetParamIndex()) + ".png");
  std::filesystem::create_directories(out.parent_path());
  EXPECT_TRUE(form.grab().save(QString::fromStdString(out.string())));
}

INSTANTIATE_TEST_SUITE_P(
    OsTexts, AboutLayoutTest,
    ::testing::Values("Debian GNU/Linux 12 (bookworm) Linux 6.1.0-18-amd64 (x86_64)",
                      "Erroring getting info from Windows",
                      "Microsoft Windows Server 2003 family,Enterprise Edition Service Pack 1 (Build 3790)\n",
                      "A very long operating system text that goes on and on, with a release name, "
                      "a kernel version 6.1.0-18-amd64 and a machine name (x86_64), to see it wrap"));

}  // namespace
}  // namespace qmx

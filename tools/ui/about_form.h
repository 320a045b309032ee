// The About box: the program's title and version, the maker, the operating
// system and hardware of this machine, and a link to the maker's web site
// (the link text and the picture both open it).
#pragma once

#include <QDialog>
#include <QString>
#include <functional>
#include <string>

#include "tools/about_info.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace qmx {

class TAboutForm : public QDialog {
  Q_OBJECT

 public:
  // Opens a web address; the default hands it to the desktop's browser.
  using UrlOpener = std::function<void(const QString& url)>;

  // The web address behind the link text and the picture.
  static constexpr const char* kWebAddress = "https://www.example.com/qmx2400";

  explicit TAboutForm(QWidget* parent = nullptr);

  QString TitleText() const;
  QString VersionText() const;
  QString OperatingSystemText() const;
  // Hardware lines as shown, one per entry.
  QStringList HardwareInfo() const;
  // False when the picture could not be decoded (the box then shows none).
  bool HasPicture() const { return hasPicture_; }

  // Replaces how the link is opened (tests watch it instead of starting a
  // browser).
  void SetUrlOpener(UrlOpener opener) { opener_ = std::move(opener); }

  // Where the program keeps its log and its settings, shown below the
  // system information (nothing is shown until this is called).
  void SetFileFolders(const QString& logs, const QString& settings);
  QString FileFoldersText() const;

  // Fills the operating-system text and Memo1 from this machine. Runs once
  // from the constructor.
  void Bootup();
  // The same from given facts.
  void ShowSystemInfo(const std::string& osText, const HardwareFacts& hardware);

 public slots:
  void LaunchBroswer();
  void CloseProgram();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void LoadPicture();

  QLabel* PictureImage = nullptr;
  QLabel* TitleStaticText = nullptr;
  QLabel* VersionStaticText = nullptr;
  QLabel* MakerStaticText = nullptr;
  QLabel* OperatingSystemStaticText = nullptr;
  QPlainTextEdit* Memo1 = nullptr;
  QLabel* FoldersStaticText = nullptr;
  QLabel* LinkStaticText = nullptr;
  QPushButton* Button1 = nullptr;
  UrlOpener opener_;
  bool hasPicture_ = false;
};

}  // namespace qmx

#include "tools/ui/about_form.h"

#include <QDesktopServices>
#include <QFile>
#include <QFontDatabase>
#include <QFrame>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>

#include "tools/jpeg_image.h"

// The picture lives in a resource of this static library; a static library's
// resources are registered only on request. Must be outside any namespace.
static void InitAboutResources() { Q_INIT_RESOURCE(about); }

namespace qmx {
namespace {

constexpr const char* kPicturePath = ":/about/about.jpg";

QLabel* CenteredText(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setAlignment(Qt::AlignHCenter);
  return label;
}

}  // namespace

TAboutForm::TAboutForm(QWidget* parent) : QDialog(parent) {
  setObjectName("AboutForm");
  setWindowTitle("OrvaneDemo");
  opener_ = [](const QString& url) { QDesktopServices::openUrl(QUrl(url)); };

  // Picture and the texts beside it.
  PictureImage = new QLabel(this);
  PictureImage->setObjectName("PictureImage");
  PictureImage->setCursor(Qt::PointingHandCursor);
  PictureImage->setToolTip(kWebAddress);
  PictureImage->setAlignment(Qt::AlignCenter);
  PictureImage->installEventFilter(this);

  TitleStaticText = CenteredText(QString::fromUtf8(kProgramTitle.data(), kProgramTitle.size()), this);
  TitleStaticText->setObjectName("TitleStaticText");
  QFont titleFont = TitleStaticText->font();
  titleFont.setBold(true);
  titleFont.setPointSizeF(titleFont.pointSizeF() * 1.6);
  TitleStaticText->setFont(titleFont);

  VersionStaticText =
      CenteredText(QString::fromUtf8(kProgramVersion.data(), kProgramVersion.size()), this);
  VersionStaticText->setObjectName("VersionStaticText");

  MakerStaticText = CenteredText("Orvane Radio Systems", this);
  MakerStaticText->setObjectName("MakerStaticText");
  QFont makerFont = MakerStaticText->font();
  makerFont.setBold(true);
  MakerStaticText->setFont(makerFont);

  auto* line1 = CenteredText("2.4 GHz IEEE 802.15.4 radio tools", this);
  auto* line2 = CenteredText("Demonstration and configuration", this);
  auto* line3 = CenteredText("for the QMX2400 radio module", this);
  line1->setObjectName("Info1StaticText");
  line2->setObjectName("Info2StaticText");
  line3->setObjectName("Info3StaticText");

  auto* texts = new QVBoxLayout;
  texts->setSpacing(2);
  texts->addStretch(1);
  texts->addWidget(TitleStaticText);
  texts->addWidget(VersionStaticText);
  texts->addSpacing(fontMetrics().height() / 2);
  texts->addWidget(MakerStaticText);
  texts->addWidget(line1);
  texts->addWidget(line2);
  texts->addWidget(line3);
  texts->addStretch(1);

  auto* top = new QHBoxLayout;
  top->setSpacing(fontMetrics().averageCharWidth() * 2);
  top->addWidget(PictureImage, 0, Qt::AlignTop);
  top->addLayout(texts, 1);

  auto* rule = new QFrame(this);
  rule->setFrameShape(QFrame::HLine);
  rule->setFrameShadow(QFrame::Sunken);

  // System information.
  OperatingSystemStaticText = new QLabel("Windows", this);
  OperatingSystemStaticText->setObjectName("OperatingSystemStaticText");
  OperatingSystemStaticText->setWordWrap(true);
  OperatingSystemStaticText->setTextInteractionFlags(Qt::TextSelectableByMouse);

  Memo1 = new QPlainTextEdit(this);
  Memo1->setObjectName("Memo1");
  Memo1->setReadOnly(true);
  Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
  Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  Memo1->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  {
    // Room for the six hardware lines, with the widest amounts, at any DPI.
    const QFontMetrics fm(Memo1->font());
    const int frame = 2 * Memo1->frameWidth() + 2 * static_cast<int>(Memo1->document()->documentMargin());
    Memo1->setMinimumWidth(fm.horizontalAdvance(QString(36, QLatin1Char('M'))) + frame);
    Memo1->setFixedHeight(fm.lineSpacing() * 6 + frame + fm.descent());
  }

  FoldersStaticText = new QLabel(this);
  FoldersStaticText->setObjectName("FoldersStaticText");
  FoldersStaticText->setWordWrap(true);
  FoldersStaticText->setTextFormat(Qt::PlainText);
  FoldersStaticText->setTextInteractionFlags(Qt::TextSelectableByMouse);
  FoldersStaticText->hide();

  // Link and OK.
  LinkStaticText = new QLabel(this);
  LinkStaticText->setObjectName("LinkStaticText");
  LinkStaticText->setText(QString("<a href=\"%1\">%1</a>").arg(kWebAddress));
  LinkStaticText->setTextFormat(Qt::RichText);
  // Clicks are ours (LaunchBroswer), not the label's own link handling.
  LinkStaticText->setTextInteractionFlags(Qt::NoTextInteraction);
  LinkStaticText->setCursor(Qt::PointingHandCursor);
  LinkStaticText->installEventFilter(this);

  Button1 = new QPushButton("OK", this);
  Button1->setObjectName("Button1");
  Button1->setDefault(true);
  connect(Button1, &QPushButton::clicked, this, &TAboutForm::CloseProgram);

  auto* bottom = new QHBoxLayout;
  bottom->addWidget(LinkStaticText, 1, Qt::AlignVCenter);
  bottom->addWidget(Button1);

  auto* main = new QVBoxLayout(this);
  main->addLayout(top);
  main->addWidget(rule);
  main->addWidget(OperatingSystemStaticText);
  main->addWidget(Memo1);
  main->addWidget(FoldersStaticText);
  main->addLayout(bottom);
  // Fixed size, computed from the contents and the font, so nothing is
  // clipped at any scale.
  main->setSizeConstraint(QLayout::SetFixedSize);

  LoadPicture();
  Bootup();
}

void TAboutForm::LoadPicture() {
  InitAboutResources();
  QFile file(kPicturePath);
  if (!file.open(QIODevice::ReadOnly)) return;
  const QByteArray bytes = file.readAll();
  const auto image = DecodeJpeg(std::span(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                          static_cast<std::size_t>(bytes.size())));
  if (!image) return;
  // QImage over our buffer, then a deep copy so the pixmap owns its pixels.
  const QImage view(image->pixels.data(), image->width, image->height, image->width * 3,
                    QImage::Format_RGB888);
  PictureImage->setPixmap(QPixmap::fromImage(view.copy()));
  PictureImage->setFixedSize(image->width, image->height);
  hasPicture_ = true;
}

void TAboutForm::Bootup() { ShowSystemInfo(QueryOperatingSystemText(), QueryHardware()); }

void TAboutForm::ShowSystemInfo(const std::string& osText, const HardwareFacts& hardware) {
  // The Windows texts end with a line break; a label needs none.
  QString os = QString::fromStdString(osText);
  while (os.endsWith(QLatin1Char('\n'))) os.chop(1);
  OperatingSystemStaticText->setText(os);
  // The box grows to show the line whole, up to a limit; longer lines wrap
  // between words.
  const QFontMetrics fm(OperatingSystemStaticText->font());
  const int longest = fm.averageCharWidth() * 90;
  const int shortest = fm.averageCharWidth() * 50;
  OperatingSystemStaticText->setMinimumWidth(std::clamp(fm.horizontalAdvance(os) + 4, shortest, longest));

  Memo1->clear();
  for (const auto& line : HardwareLines(hardware)) Memo1->appendPlainText(QString::fromStdString(line));
}

QString TAboutForm::TitleText() const { return TitleStaticText->text(); }
void TAboutForm::SetFileFolders(const QString& logs, const QString& settings) {
  QString text = "Log files in " + logs;
  if (settings != logs) text += "\nSettings in " + settings;
  FoldersStaticText->setText(text);
  FoldersStaticText->show();
}

QString TAboutForm::FileFoldersText() const { return FoldersStaticText->text(); }

QString TAboutForm::VersionText() const { return VersionStaticText->text(); }
QString TAboutForm::OperatingSystemText() const { return OperatingSystemStaticText->text(); }

QStringList TAboutForm::HardwareInfo() const { return Memo1->toPlainText().split(QLatin1Char('\n')); }

void TAboutForm::LaunchBroswer() {
  if (opener_) opener_(QString::fromLatin1(kWebAddress));
}

void TAboutForm::CloseProgram() { close(); }

bool TAboutForm::eventFilter(QObject* watched, QEvent* event) {
  if ((watched == LinkStaticText || watched == PictureImage) &&
      event->type() == QEvent::MouseButtonRelease &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
    LaunchBroswer();
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace qmx

#include "mainwindow/ui/terminal_tab.h"

#include <QAction>
#include <QKeyEvent>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextEdit>
#include <QVBoxLayout>

#include "link/prompter.h"
#include "link/radio_link.h"

namespace qmx {

TerminalTab::TerminalTab(RadioLink& link, Prompter& prompter, QAction* hexOption, TimeSource& time,
                         QWidget* parent)
    : QWidget(parent),
      link_(link),
      hexOption_(hexOption),
      reader_(link.ring,
              [this, self = QPointer<TerminalTab>(this)](std::string text) {
                QMetaObject::invokeMethod(
                    this, [self, t = QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()))] {
                      if (self) self->Show(t);
                    },
                    Qt::QueuedConnection);
              }),
      handOver_(link.parser, reader_),
      transmit_([this](std::span<const std::uint8_t> bytes) { return WriteWhileHeld(bytes); },
                [&link, &prompter] {
                  if (!link.options.showCommErrors.load()) return true;
                  return prompter.Confirm("Transmit Failed.  Please check cable and try again.",
                                          "Transmit Problem");
                },
                time) {
  setObjectName("Zavedo");
  auto* layout = new QVBoxLayout(this);
  ZavedoRichEdit = new QTextEdit(this);
  ZavedoRichEdit->setObjectName("ZavedoRichEdit");
  ZavedoRichEdit->setReadOnly(true);
  ZavedoRichEdit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  ZavedoRichEdit->setMinimumSize(669, 485);
  // Read-only, yet it takes the keyboard focus: typed keys go to the port.
  ZavedoRichEdit->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  ZavedoRichEdit->setFocusPolicy(Qt::StrongFocus);
  QFont font("Terminal");
  font.setStyleHint(QFont::TypeWriter);
  font.setPixelSize(13);
  ZavedoRichEdit->setFont(font);
  ZavedoRichEdit->installEventFilter(this);
  layout->addWidget(ZavedoRichEdit);
  ZavedoTransmitButton = new QPushButton("ZavedoTransmitButton", this);
  ZavedoTransmitButton->setObjectName("ZavedoTransmitButton");
  ZavedoTransmitButton->setVisible(false);
  ZavedoTransmitButton->setEnabled(false);
  connect(ZavedoTransmitButton, &QPushButton::clicked, this, &TerminalTab::ZavedoTransmitButtonClick);

  reader_.SetHex(hexOption_->isChecked());
  connect(hexOption_, &QAction::toggled, this, [this](bool on) { reader_.SetHex(on); });
}

TerminalTab::~TerminalTab() { StopThreads(); }

void TerminalTab::StopThreads() {
  transmit_.Stop();
  reader_.Stop();
}

void TerminalTab::TakeRing() { handOver_.ToTerminal(); }

void TerminalTab::ReturnRing() { handOver_.ToParser(); }

bool TerminalTab::WriteWhileHeld(std::span<const std::uint8_t> bytes) {
  // The session lets terminal bytes out only while the terminal holds the
  // port; the write gate and the change of hands share its lock, so no
  // write of the repeat thread that passed the gate reaches the port after.
  const Done written = link_.session.WriteTerminal(bytes);
  return written.ok() || written.status() == Status::NotAllowed;
}

void TerminalTab::ZavedoTransmitButtonClick() {
  if (transmit_.On()) {
    transmit_.Stop();
    emit EventLine("Transmit Stopped");
  } else {
    emit EventLine("Transmit Started");
    transmit_.Start();
  }
}

void TerminalTab::StopTransmitting() {
  if (transmit_.On()) ZavedoTransmitButtonClick();
}

bool TerminalTab::eventFilter(QObject* watched, QEvent* event) {
  if (watched != ZavedoRichEdit || event->type() != QEvent::KeyPress) return QWidget::eventFilter(watched, event);
  auto* key = static_cast<QKeyEvent*>(event);
  if (key->key() == Qt::Key_F6) {
    ZavedoTransmitButtonClick();
    return true;
  }
  if (key->key() == Qt::Key_F8) {
    hexOption_->toggle();
    return true;
  }
  // Ctrl+Tab (and Ctrl+Shift+Tab) go on to the tabs, which move to the next
  // one: the way out of the terminal by keyboard. Tab itself is for the radio.
  if ((key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) && (key->modifiers() & Qt::ControlModifier)) {
    key->ignore();
    return true;
  }
  // Copying the selected text is the view's own.
  if (key->matches(QKeySequence::Copy) && ZavedoRichEdit->textCursor().hasSelection())
    return QWidget::eventFilter(watched, event);
  const QString text = key->text();
  if (text.isEmpty()) return QWidget::eventFilter(watched, event);  // scrolling keys
  // One byte per character, nothing echoed: the far end's answer shows.
  // Until the terminal has the port (the radio is still in protocol mode)
  // typed keys are dropped.
  for (QChar c : text) {
    const auto byte = static_cast<std::uint8_t>(c.unicode() <= 0xFF ? c.unicode() : '?');
    (void)WriteWhileHeld({&byte, 1});
  }
  return true;
}

void TerminalTab::Show(const QString& text) {
  QTextCursor cursor(ZavedoRichEdit->document());
  cursor.movePosition(QTextCursor::End);
  cursor.insertText(text);
  QScrollBar* bar = ZavedoRichEdit->verticalScrollBar();
  bar->setValue(bar->maximum());
}

}  // namespace qmx

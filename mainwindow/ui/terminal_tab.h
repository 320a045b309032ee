// The main window's "Zavedo" tab: a plain serial terminal used while the
// radio is out of protocol mode. Every received byte is shown as it comes
// (hex or text, after "Show Settings In Hex"), every character typed goes
// to the port as one byte, F6 starts and stops the repeated test
// transmission and F8 switches the display. The threads and the hand-over
// of the receive ring live in mainwindow/terminal_threads.h.
#pragma once

#include <QString>
#include <QWidget>
#include <memory>
#include <mutex>
#include <span>

#include "mainwindow/terminal_threads.h"

class QAction;
class QPushButton;
class QTextEdit;

namespace qmx {

class Prompter;
class RadioLink;

class TerminalTab : public QWidget {
  Q_OBJECT

 public:
  // `hexOption`: the View menu's "Show Settings In Hex" item.
  TerminalTab(RadioLink& link, Prompter& prompter, QAction* hexOption, TimeSource& time = SteadyTime(),
              QWidget* parent = nullptr);
  ~TerminalTab() override;

  // The terminal reader takes the ring from the frame parser, or gives it
  // back (the link session calls these as the terminal takes the port).
  void TakeRing();
  void ReturnRing();
  bool HasRing() const { return handOver_.TerminalHasRing(); }
  // Ends the repeated transmission (disconnecting); adds "Transmit Stopped"
  // when it was on.
  void StopTransmitting();
  // Ends both threads, the ring staying with nobody (closing).
  void StopThreads();
  bool Transmitting() const { return transmit_.On(); }
  // Waits until the repeated transmission's thread has ended (tests).
  void WaitTransmitEnded() { transmit_.Join(); }

  QTextEdit* ZavedoRichEdit;
  // Hidden and disabled; reached through F6. Carries the repeat flag.
  QPushButton* ZavedoTransmitButton;

 public slots:
  void ZavedoTransmitButtonClick();

 signals:
  // A line for the Events tab ("Transmit Started", "Transmit Stopped").
  void EventLine(const QString& line);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Show(const QString& text);
  // Writes `bytes` when the terminal holds the port; otherwise the session
  // drops them (the radio is in protocol mode and would read them as broken
  // frames) and this still answers true, as nothing failed.
  bool WriteWhileHeld(std::span<const std::uint8_t> bytes);

  RadioLink& link_;
  QAction* hexOption_;
  TerminalReaderThread reader_;
  RingHandOver handOver_;
  TerminalTransmitThread transmit_;
};

}  // namespace qmx

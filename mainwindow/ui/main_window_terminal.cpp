// The main window's tab changes: the terminal takes the port out of protocol
// mode and pauses the periodic work, leaving it brings both back.
#include "mainwindow/ui/main_window.h"

#include <QCheckBox>
#include <QSignalBlocker>
#include <QTabBar>
#include <QTabWidget>
#include <QTextEdit>
#include <utility>

#include "config/register_map.h"
#include "link/failure_text.h"
#include "link/prompter.h"
#include "link/radio_link.h"
#include "link/link_session.h"
#include "link/ui/busy_cursor.h"
#include "mainwindow/ui/network_tab.h"
#include "mainwindow/ui/poll_io_tab.h"
#include "mainwindow/ui/serial_tab.h"
#include "mainwindow/ui/terminal_tab.h"
#include "tools/ui/firmware_form.h"

namespace qmx {

void TForm1::TabSelected(int index) {
  const MainTab to = static_cast<MainTab>(index);
  const TabChange change = PlanTabChange(currentTab_, to, CloseCheckBox->isChecked());
  if (!PageControl1Changing(change)) {
    const QSignalBlocker keep(PageControl1);
    PageControl1->setCurrentIndex(static_cast<int>(currentTab_));
    return;
  }
  currentTab_ = to;
  PageControl1Change(change);
}

bool TForm1::PageControl1Changing(const TabChange& change) {
  if (change.refused) return false;
  if (!change.leaveTerminal) return true;
  // No other tab change while the radio is being brought back.
  PageControl1->tabBar()->setEnabled(false);
  // The terminal's repeated transmit ends with the terminal (the session
  // stops its writers): its text would reach a radio in protocol mode as
  // broken frames.
  Done back;
  {
    BusyCursor busy;
    back = link_.session.LeaveTerminal([this] {
      if (ReadBanks(link_.commands, image_, kAllBanks, 0, 0) != kAllBanks)
        ShowFailure(prompter_, FailureOf(Operation::BootCode));
      ShowLocalStatus();
      return true;
    });
  }
  EndPause(back.ok());
  if (!back) ShowFailure(prompter_, FailureOf(Operation::EnterProtocolMode));
  PageControl1->tabBar()->setEnabled(true);
  return true;  // the change still happens
}

void TForm1::PageControl1Change(const TabChange& change) {
  if (!change.showCollapseBox) CloseCheckBox->setChecked(false);
  CloseCheckBox->setVisible(change.showCollapseBox);
  if (!change.enterTerminal) return;
  // The tab bar stays off until the terminal has the port.
  PageControl1->tabBar()->setEnabled(false);
  // Nothing else writes protocol frames while the terminal holds the port:
  // the session pauses the periodic work, and leaves protocol mode only
  // once the command it has under way has ended.
  inTerminal_ = true;
  SetConnectedControls(connected_);
  const std::optional<Done> left = link_.session.EnterTerminal();
  if (const PeriodicWork paused = PausedWork(); paused.Any())
    SetStatus(QString::fromStdString(PeriodicWorkText(paused, kPausedForTerminal)));
  if (left) TerminalEntered(*left);
}

void TForm1::PeriodicCommandEnded() {
  if (const std::optional<Done> left = link_.session.CommandEnded()) TerminalEntered(*left);
}

void TForm1::TerminalEntered(const Done& left) {
  ShowTitle();
  if (!left) ShowFailure(prompter_, FailureOf(Operation::ExitProtocolMode));
  PageControl1->tabBar()->setEnabled(true);
  Zavedo->ZavedoRichEdit->setFocus();
}

PeriodicWork TForm1::PausedWork() const {
  return {link_.session.WasPaused(pollWriter_), link_.session.WasPaused(transmitWriter_)};
}

// Protocol mode is back (or could not be had): the session has resumed (or
// ended) the paused work; the tools are offered again.
void TForm1::EndPause(bool protocolMode) {
  inTerminal_ = false;
  SetConnectedControls(connected_);
  ShowTitle();
  const std::string text = LeftTerminalText(link_.session.TerminalWorkStopped(), PausedWork(), protocolMode);
  if (!text.empty()) SetStatus(QString::fromStdString(text));
}

void TForm1::LeaveTerminalQuietly() {
  inTerminal_ = false;
  PageControl1->tabBar()->setEnabled(true);
  const QSignalBlocker keep(PageControl1);
  PageControl1->setCurrentIndex(static_cast<int>(MainTab::Serial));
  currentTab_ = MainTab::Serial;
  CloseCheckBox->setChecked(false);
  CloseCheckBox->setVisible(false);
}

// The periodic writers of the tabs, registered with the session, which
// pauses, resumes and stops them as the port changes hands.
void TForm1::RegisterWriters() {
  LinkSession& session = link_.session;
  pollWriter_ = session.AddWriter({LinkState::Protocol, [this] { return PollIO->PausePolling(); },
                                   [this] { PollIO->ResumePolling(); },
                                   [this] {
                                     const bool was = PollIO->Polling();
                                     PollIO->StopPolling();
                                     return was;
                                   },
                                   [this] { return PollIO->CommandUnderWay(); }});
  transmitWriter_ = session.AddWriter({LinkState::Protocol, [this] { return Serial->PauseTransmitting(); },
                                       [this] { Serial->ResumeTransmitting(); },
                                       [this] {
                                         const bool was = Serial->TransmitState() != TransmitSchedule::State::Idle;
                                         Serial->StopTransmitting();
                                         return was;
                                       },
                                       [this] { return Serial->CommandUnderWay(); }});
  session.AddWriter({LinkState::Terminal, {}, {},
                     [this] {
                       const bool was = Zavedo->Transmitting();
                       Zavedo->StopTransmitting();
                       return was;
                     },
                     {}});
  // Find Radios ends when the terminal takes the port.
  session.AddWriter({LinkState::Protocol, [this] { return Network->StopScan(); }, {},
                     [this] { return Network->StopScan(); }, [this] { return Network->CommandUnderWay(); }});
  session.SetTerminalRing([this] { Zavedo->TakeRing(); }, [this] { Zavedo->ReturnRing(); });
  // Long waits (the boot code's searches) run off this thread, the windows
  // alive meanwhile.
  session.SetBlockingRunner(RunOffThread);
}

}  // namespace qmx

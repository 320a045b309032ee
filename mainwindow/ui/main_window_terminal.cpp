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
#include "link/reply_wait.h"
#include "link/ui/busy_cursor.h"
#include "mainwindow/ui/poll_io_tab.h"
#include "mainwindow/ui/serial_tab.h"
#include "mainwindow/ui/terminal_tab.h"

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
  // The terminal's repeated transmit ends with the terminal: its text would
  // reach a radio in protocol mode as broken frames.
  const bool repeatStopped = Zavedo->Transmitting();
  Zavedo->StopTransmitting();
  Zavedo->ReturnRing();
  {
    BusyCursor busy;
    if (const Result<BankMask> read = EnterProtocolModeAndReadAll(link_.commands, image_)) {
      if (*read != kAllBanks)
        ShowFailure(prompter_, FailureOf(Operation::BootCode));
      ShowLocalStatus();
      EndPause(true, repeatStopped);
      PageControl1->tabBar()->setEnabled(true);
      return true;
    }
  }
  EndPause(false, repeatStopped);
  ShowFailure(prompter_, FailureOf(Operation::EnterProtocolMode));
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
  // the periodic work pauses, and protocol mode is left only once the
  // command it has under way has ended.
  inTerminal_ = true;
  SetConnectedControls(connected_);
  paused_ = {PollIO->PausePolling(), Serial->PauseTransmitting()};
  if (paused_.Any()) SetStatus(QString::fromStdString(PeriodicWorkText(paused_, kPausedForTerminal)));
  if (terminalEntry_.Enter(PeriodicCommandUnderWay())) EnterTerminal();
}

bool TForm1::PeriodicCommandUnderWay() const { return PollIO->CommandUnderWay() || Serial->CommandUnderWay(); }

void TForm1::PeriodicCommandEnded() {
  if (terminalEntry_.CommandEnded(PeriodicCommandUnderWay())) EnterTerminal();
}

void TForm1::EnterTerminal() {
  if (!link_.commands.ExitProtocolMode(kUsualReplyWait.timeoutMs, kUsualReplyWait.retries))
    ShowFailure(prompter_, FailureOf(Operation::ExitProtocolMode));
  Zavedo->TakeRing();
  PageControl1->tabBar()->setEnabled(true);
  Zavedo->ZavedoRichEdit->setFocus();
}

// Protocol mode is back (or could not be had): the paused work resumes (or
// ends), the tools are offered again.
void TForm1::EndPause(bool protocolMode, bool terminalRepeatStopped) {
  const PeriodicWork work = std::exchange(paused_, PeriodicWork{});
  inTerminal_ = false;
  SetConnectedControls(connected_);
  ResumePeriodicWork(work, protocolMode);
  const std::string text = LeftTerminalText(terminalRepeatStopped, work, protocolMode);
  if (!text.empty()) SetStatus(QString::fromStdString(text));
}

void TForm1::ResumePeriodicWork(PeriodicWork work, bool protocolMode) {
  if (protocolMode || !work.poll)
    PollIO->ResumePolling();
  else
    PollIO->StopPolling();
  if (protocolMode || !work.transmit)
    Serial->ResumeTransmitting();
  else
    Serial->StopTransmitting();
}

void TForm1::LeaveTerminalQuietly() {
  terminalEntry_.Cancel();
  paused_ = {};
  inTerminal_ = false;
  PageControl1->tabBar()->setEnabled(true);
  Zavedo->StopTransmitting();
  if (Zavedo->HasRing()) Zavedo->ReturnRing();
  const QSignalBlocker keep(PageControl1);
  PageControl1->setCurrentIndex(static_cast<int>(MainTab::Serial));
  currentTab_ = MainTab::Serial;
  CloseCheckBox->setChecked(false);
  CloseCheckBox->setVisible(false);
}

}  // namespace qmx

// The main window's Events tab: network events, announcements and error
// codes from the decoder with their time stamps and colours, and the
// terminal's transmit lines. The colours are decided in
// mainwindow/events_lines.h; this class shows them, as they are on a light
// palette and lifted to a readable contrast on a dark one, anew when the
// palette changes.
#pragma once

#include <QString>
#include <QWidget>
#include <span>
#include <string>

#include "mainwindow/events_lines.h"

class QPushButton;
class QTextEdit;

namespace qmx {

class EventsTab : public QWidget {
  Q_OBJECT

 public:
  explicit EventsTab(QWidget* parent = nullptr);

  // The current date in the user's short date format, "  |  ", the time in
  // the long time format (any thread).
  static std::string Timestamp();

  // Lines the view keeps, so that memory stays flat on a busy network (the
  // data log keeps everything). Past them a tenth goes at once, up to the end
  // of an event: every removal at the top lays out all lines again.
  static constexpr int kMaxLines = 5000;
  void SetMaxLines(int lines) { maxLines_ = lines; }

  // Appends the decoder's lines (user-interface thread), all blocks in one
  // edit.
  void AppendEvent(const EventBlock& block);
  void AppendEvents(std::span<const EventBlock> blocks);
  void AppendLine(const QString& line);

  QTextEdit* EventRichEdit;
  QPushButton* ClearEventButton;

 public slots:
  void ClearEventButtonClick();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Append(const std::vector<EventLine>& lines);
  void Recolour();
  void TrimOldest();
  EventLines lines_;
  int maxLines_ = kMaxLines;
};

}  // namespace qmx

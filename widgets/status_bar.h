// The status line at the foot of a dialog: a sunken label, its text
// centred, named "StatusBar1" as every dialog's is.
#pragma once

#include <QString>

class QLabel;
class QWidget;

namespace qmx {

QLabel* MakeStatusBar(QWidget* parent, const QString& text = {});

}  // namespace qmx

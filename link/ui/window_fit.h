// How a window sits on the desktop: wide enough for its caption in the
// title bar, and opened over the window it belongs to.
#pragma once

class QWidget;

namespace qmx {

// The least width at which the window system shows `window`'s caption whole:
// the caption in the title bar's font (taken as the window's font in bold,
// as title bars commonly draw it) and room for the bar's icon and buttons.
int CaptionWidth(const QWidget& window);

// Keeps `window` at least CaptionWidth() wide, also when its layout fixes
// its size: call it once the caption and the layout are set.
void KeepCaptionWhole(QWidget& window);

// Centres `window` over the window of its parent (over the screen when it
// has none), kept inside the screen's free area.
void CentreOverParent(QWidget& window);

}  // namespace qmx

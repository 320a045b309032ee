// The configuration dialog's pages as the settings table places them: each
// row's controls, and the other buttons of its pairs, on the row's page, in
// the group box it names, none of them over another.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QGroupBox>
#include <QTabWidget>

#include "config/config_baselines.h"
#include "config/ui/device_config_pages.h"
#include "tests/fixtures/ui/qt_app.h"

namespace qmx {
namespace {

// The title of the group box a widget stands in, or none.
QString GroupOf(const QWidget* w) {
  for (const QWidget* p = w->parentWidget(); p; p = p->parentWidget())
    if (const auto* box = qobject_cast<const QGroupBox*>(p)) return box->title();
  return {};
}

TEST(ConfigPagesTest, EveryRowStandsOnItsPageInItsBoxAndInAPlaceOfItsOwn) {
  test::QtApp();
  QTabWidget tabs;
  const ConfigPages pages = BuildConfigPages(&tabs);
  for (std::size_t i = 0; i < pages.pages.size(); ++i) tabs.addTab(pages.pages[i], pages.titles[i]);
  tabs.show();
  for (int page = 0; page < tabs.count(); ++page) {
    tabs.setCurrentIndex(page);
    QApplication::processEvents();
    SCOPED_TRACE(tabs.tabText(page).toStdString());
    // Every control of the page's rows with its setting.
    std::vector<std::pair<const QWidget*, const Setting*>> placed;
    for (const Setting* s : DialogSettings()) {
      const auto made = pages.controls.find(s);
      ASSERT_NE(made, pages.controls.end()) << s->key << " has no controls";
      ASSERT_EQ(made->second.size(), ControlNames(*s).size()) << s->key;
      for (QWidget* w : made->second) {
        ASSERT_NE(w, nullptr) << s->key;
        if (!tabs.widget(page)->isAncestorOf(w)) continue;
        EXPECT_EQ(static_cast<int>(s->page) - 1, page) << s->key << " on the wrong page";
        EXPECT_EQ(GroupOf(w), QString(s->group)) << s->key;
        placed.emplace_back(w, s);
        if (auto* other = pages.partners.value(qobject_cast<QAbstractButton*>(w))) placed.emplace_back(other, s);
      }
    }
    for (std::size_t a = 0; a < placed.size(); ++a) {
      const QWidget* w = placed[a].first;
      const QRect at(w->mapTo(tabs.widget(page), QPoint()), w->size());
      EXPECT_TRUE(w->isVisible() && !at.isEmpty()) << w->objectName().toStdString();
      for (std::size_t b = a + 1; b < placed.size(); ++b) {
        const QWidget* v = placed[b].first;
        EXPECT_FALSE(at.intersects(QRect(v->mapTo(tabs.widget(page), QPoint()), v->size())))
            << w->objectName().toStdString() << " and " << v->objectName().toStdString() << " share a place";
      }
    }
  }
}

}  // namespace
}  // namespace qmx

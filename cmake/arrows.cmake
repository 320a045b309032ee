# Which folders each folder may use (include and link), besides itself:
# app -> mainwindow -> {tools, config, widgets} -> link; tools, config -> widgets; sim -> link.
# Read by the build (each library's link line and include path) and by the
# folder_arrows test (each file's #include lines).
set(QMX_FOLDERS link sim config tools widgets mainwindow app)
set(QMX_ARROWS_link "")
set(QMX_ARROWS_sim link)
set(QMX_ARROWS_config widgets link)
set(QMX_ARROWS_tools widgets link)
set(QMX_ARROWS_widgets link)
set(QMX_ARROWS_mainwindow tools config widgets link)
set(QMX_ARROWS_app mainwindow tools config widgets sim link)
# Folders whose files outside ui/ are plain C++ (no Qt at all).
set(QMX_PLAIN_FOLDERS link sim config tools mainwindow)

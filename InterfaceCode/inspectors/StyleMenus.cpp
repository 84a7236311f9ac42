#include "StyleMenus.h"

#include "export/PictureServices.h"

#include <QAction>
#include <QHash>
#include <QMenu>
#include <QPixmap>
#include <cstring>
#include <vector>

QMenu *gAtomStyleMenu = nullptr;
QMenu *gEllipsoidStyleMenu = nullptr;
QMenu *gPolyStyleFullMenu = nullptr;
QMenu *gPolyStylePartialMenu = nullptr;
QMenu *gBondStyleMenu = nullptr;

namespace {

StyleMenuPicker gPicker;

struct MenuTable {
  const QMenu *menu;
  std::span<const StyleIconEntry> table;
};
std::vector<MenuTable> gTables;

// "IC AtomStyleHollowDashed.icns" → "Hollow Dashed": the item text is the
// icon's name without its prefix, its kind and its extension.
QString ItemText(const char *file) {
  QString name = QString::fromLatin1(file);
  if (name.startsWith("IC "))
    name.remove(0, 3);
  if (const qsizetype dot = name.lastIndexOf('.'); dot > 0)
    name.truncate(dot);
  for (const char *kind : {"AtomStyle", "EllipsoidStyle", "PolyStyle", "BondStyle"})
    if (name.startsWith(kind)) {
      name.remove(0, qsizetype(std::strlen(kind)));
      break;
    }
  QString text;
  for (qsizetype i = 0; i < name.size(); i++) {
    if (i > 0 && name[i].isUpper())
      text += ' ';
    text += name[i];
  }
  return text.isEmpty() ? QStringLiteral("None") : text;
}

QMenu *BuildMenu(std::span<const StyleIconEntry> table, int items, uint32_t useDefault, uint32_t makeDefault) {
  auto *menu = new QMenu;
  for (int i = 0; i < items; i++) {
    const StyleIconEntry &entry = table[size_t(i)];
    QAction *action = entry.style < 0 ? menu->addSeparator()
                                      : menu->addAction(StyleMenuIcon(entry.fileName), ItemText(entry.fileName));
    action->setData(i + 1);
    action->setCheckable(entry.style >= 0);
  }
  menu->addSeparator();
  QAction *use = menu->addAction(QObject::tr("Use Default"));
  use->setProperty("command", useDefault);
  use->setProperty("useDefault", true);
  QAction *make = menu->addAction(QObject::tr("Make Default"));
  make->setProperty("command", makeDefault);
  gTables.push_back({menu, table.first(size_t(items))});
  return menu;
}

} // namespace

QImage StyleMenuIconImage(const char *iconFile) {
  QString name = QString::fromLatin1(iconFile);
  if (name.endsWith(".icns"))
    name.chop(5);
  return MyLoadPictureResourceIntoImageRef((name + ".png").toStdString());
}

QIcon StyleMenuIcon(const char *iconFile) {
  static QHash<QString, QIcon> cache;
  const QString key = QString::fromLatin1(iconFile);
  if (auto it = cache.find(key); it != cache.end())
    return *it;
  const QImage image = StyleMenuIconImage(iconFile);
  QIcon icon = image.isNull() ? QIcon() : QIcon(QPixmap::fromImage(image));
  cache.insert(key, icon);
  return icon;
}

void InitStyleMenus() {
  if (gAtomStyleMenu)
    return;
  gAtomStyleMenu = BuildMenu(gAtomStyleIconData, int(std::size(gAtomStyleIconData)), kCmdAtomStyleDefault,
                             kCmdAtomStyleMakeDefault);
  gEllipsoidStyleMenu = BuildMenu(gEllipsoidStyleIconData, int(std::size(gEllipsoidStyleIconData)),
                                  kCmdEllipsoidStyleDefault, kCmdEllipsoidStyleMakeDefault);
  gPolyStyleFullMenu = BuildMenu(gPolyStyleIconData, int(std::size(gPolyStyleIconData)), kCmdPolyStyleDefault,
                                 kCmdPolyStyleMakeDefault);
  gPolyStylePartialMenu =
      BuildMenu(gPolyStyleIconData, kPolyStylePartialItems, kCmdPolyStyleDefault, kCmdPolyStyleMakeDefault);
  gBondStyleMenu = BuildMenu(gBondStyleIconData, int(std::size(gBondStyleIconData)), kCmdBondStyleDefault,
                             kCmdBondStyleMakeDefault);
}

std::span<const StyleIconEntry> StyleMenuTable(const QMenu *menu) {
  for (const MenuTable &t : gTables)
    if (t.menu == menu)
      return t.table;
  return {};
}

QAction *StyleMenuItem(const QMenu *menu, int item) {
  if (!menu)
    return nullptr;
  for (QAction *action : menu->actions())
    if (!action->property("command").isValid() && action->data().toInt() == item && item > 0)
      return action;
  return nullptr;
}

QAction *StyleMenuCommandItem(const QMenu *menu, uint32_t command) {
  if (!menu)
    return nullptr;
  for (QAction *action : menu->actions())
    if (action->property("command").isValid() && action->property("command").toUInt() == command)
      return action;
  return nullptr;
}

StyleMenuChoice PopUpStyleMenu(QMenu *menu, int currentItem, int32_t defaultStyle, QPoint at) {
  StyleMenuChoice choice;
  const std::span<const StyleIconEntry> table = StyleMenuTable(menu);
  if (!menu || table.empty())
    return choice;
  QAction *current = StyleMenuItem(menu, currentItem);
  if (current)
    current->setChecked(true);
  // The use-default item shows what the default is.
  for (QAction *action : menu->actions())
    if (action->property("useDefault").toBool()) {
      const StyleIconEntry *entry = FindStyleIconEntry(table, defaultStyle);
      action->setIcon(entry ? StyleMenuIcon(entry->fileName) : QIcon());
    }
  QAction *chosen = gPicker ? gPicker(menu, at, current) : menu->exec(at, current);
  if (current)
    current->setChecked(false);
  if (!chosen)
    return choice;
  if (chosen->property("command").isValid()) {
    choice.kind = chosen->property("useDefault").toBool() ? StyleMenuChoice::kUseDefault : StyleMenuChoice::kMakeDefault;
    return choice;
  }
  const int item = chosen->data().toInt();
  if (item < 1 || size_t(item) > table.size() || table[size_t(item - 1)].style < 0)
    return choice;
  choice.kind = StyleMenuChoice::kStyle;
  choice.style = table[size_t(item - 1)].style;
  return choice;
}

void SetStyleMenuPicker(StyleMenuPicker picker) { gPicker = std::move(picker); }

#pragma once

// Menus as a screen reader meets them. An open menu is a window of its own, which Qt leaves out
// of the application's accessible children: a screen reader walking the application found no
// menu, only a focus event from somewhere. Installed, every open menu that is not a submenu (a
// submenu is reached through its item, a menu bar's menu through the bar) is a child of the
// application; and a menu opened from the keyboard (the menu key, Shift+F10, Enter on a
// button) starts on its first entry, so that it is read at once rather than after the first
// arrow key, as a menu bar's menus do. An entry that opens a submenu is read as one (expandable,
// expanded while the submenu shows), and is the focus again when its submenu closes.
namespace AccessibleMenus {

// Once, before the application is first read (again later is harmless).
void install();

} // namespace AccessibleMenus

// The program's identity on the desktop: its names and version, its icon, and
// the desktop entry that menus, docks and notifications know it by.
#pragma once

#include <QIcon>
#include <QString>

namespace bl::desktop {

// The name of the installed desktop entry, without ".desktop".
inline constexpr char kDesktopEntryName[] = "org.brightleaf.Brightleaf";

// Sets the names, version, desktop entry and window icon on the application
// object. Call it before any window or settings object exists: the names decide
// where the settings live.
void setApplicationIdentity();

// The application icon in every size the build exported.
QIcon applicationIcon();

}  // namespace bl::desktop

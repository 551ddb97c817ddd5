// The window's commands that reach out to the desktop: the about box, the user guide in the
// browser, and the file types. The window calls them through its services, so its tests
// replace them; these are the real ones.
#pragma once

#include <functional>
#include <string>

class IFileTypeRegistry;
class ISettingsStore;
class QWidget;

namespace desktop {

using Opener = std::function<void(const std::string& address)>;

// Opens a web, "mailto:" or file address with the desktop's program for it.
void OpenAddress(const std::string& address);

// The about box, modal over parent.
void ShowAbout(QWidget* parent, const Opener& open);

// The help command: the guide's page in the user's language, written out first when it is
// missing or outdated, opened in the browser.
void OnHelp(const Opener& open = OpenAddress);

// The running program file, for the desktop entry's Exec line.
std::string ProgramPath();

// RegisterFileTypes and UnregisterFileTypes on the user's desktop (or on the registry
// given), asking with dialog 135 over parent; its Help button opens the guide.
void RegisterFileTypes(QWidget* parent, ISettingsStore& settings, bool askAlways,
                       IFileTypeRegistry* registry = nullptr);
void UnregisterFileTypes(ISettingsStore& settings, IFileTypeRegistry* registry = nullptr);

}  // namespace desktop

#pragma once

#include <QString>

#include <span>

// When a menu entry is enabled.
enum class MenuRule {
    Always,
    Never,
    Idle,  // neither connecting nor running
    Running,
    MessageReady,  // the new-message flag is set, or running with a connection not to a server on this controller
};

struct MenuEntry
{
    const char* popup;
    const char* caption;
    int id;
    char key;  // Ctrl+key accelerator, 0 for none
    MenuRule rule;
    const char* objectName;  // of the entry's QAction
};

// The entries of the main frame's menu, popup by popup, in menu order.
std::span<const MenuEntry> MenuEntries();
const MenuEntry* FindMenuEntry(int id);

// What the enabled state of the entries depends on.
struct MenuContext
{
    bool connecting = false;
    bool running = false;
    bool localServerConnection = false;  // the connection goes through a receiver server on this controller
    bool newMessage = false;
};

bool IsEntryEnabled(MenuRule rule, const MenuContext& context);

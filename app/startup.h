#pragma once

#include <thread>

// The program's identity: name, version, desktop entry and the icon of every window. Called
// once the application object exists, by main() and by anything that starts the program the
// same way.
void setUpApplication();

// Loads the system's font list on a thread of its own while the caller builds the window, which
// waits for it only where it first needs a font. Reading the font configuration is the largest
// single cost of starting; the rest of the window's making goes on meanwhile.
// Create it once the application object exists; it is done by the time it is destroyed.
class FontPreload
{
public:
    FontPreload();
    ~FontPreload();
    FontPreload(const FontPreload &) = delete;
    FontPreload &operator=(const FontPreload &) = delete;

private:
    std::thread m_thread;
};

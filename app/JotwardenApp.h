#pragma once

namespace jw {

// The application scene: the delegate, and the tray icon whose panel shows the settings.
class JotwardenApp
{
public:
    static int main(int argc, char** argv);
};

} // namespace jw

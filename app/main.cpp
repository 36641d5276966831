#include "app/JotwardenApp.h"

#ifdef JW_TEST_BUILD
#include <QHostAddress>
#endif

int main(int argc, char** argv)
{
#ifdef JW_TEST_BUILD
    // The tests' build files against their fake GitHub server on this machine. The program users
    // run has no such setting: its token goes to GitHub over TLS and nowhere else.
    const QUrl standIn(qEnvironmentVariable("JOTWARDEN_GITHUB_API_URL"));
    if (QHostAddress(standIn.host()).isLoopback())
        return jw::JotwardenApp::main(argc, argv, standIn);
#endif
    return jw::JotwardenApp::main(argc, argv);
}

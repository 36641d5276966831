#include "app/JotwardenApp.h"

#include <QApplication>

namespace jw {

int JotwardenApp::main(int argc, char** argv)
{
    QApplication app(argc, argv);
    return app.exec();
}

} // namespace jw

#include "app/JotwardenApp.h"

int main(int argc, char** argv)
{
    return jw::JotwardenApp::main(argc, argv);
}

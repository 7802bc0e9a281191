#include "shell/QuilletApp.h"

int main(int argc, char* argv[])
{
    return QuilletApp::run(argc, argv, [] { return AppServices::Config(); });
}

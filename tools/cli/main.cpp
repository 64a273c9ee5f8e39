#include "Cli.h"

#include <QCoreApplication>
#include <iostream>

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    std::vector<std::string> args(argv + 1, argv + argc);
    return RunCli(args, QCoreApplication::applicationDirPath().toStdString(), std::cout, std::cerr);
}

// The composition root: the real platform services, the workbook engine, the shell.

#include "application.h"
#include "program.h"

int main(int argc, char *argv[])
{
    orbelant::Application app(argc, argv);
    orbelant::Program program(app);
    program.shell().start();
    return app.exec();
}

#include "app/gui/CQopraApp.h"

int main(int argc, char** argv) {
    CQopraApp application;
    return application.Run(argc, argv);
}

#pragma once

#include <stop_token>

class IMainWindowPort;
class PrintSlots;

// What a print request needs of the service that runs it: the main window that prints through its
// preview page (null: none), the service's stop, and the slots that bound staging (null: unbounded).
struct PrintContext {
    IMainWindowPort* mainWindow = nullptr;
    std::stop_token stop;
    PrintSlots* slots = nullptr;
};

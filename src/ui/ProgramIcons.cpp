#include "ui/ProgramIcons.h"

#include <QString>
#include <initializer_list>

// The pictures are compiled into the static GUI library; its resource table must be registered by a
// call the linker keeps.
static void RegisterProgramResources() {
    Q_INIT_RESOURCE(qopra);
}

namespace {

QIcon Sized(const char* name, std::initializer_list<int> sizes = {16, 22, 32, 48}) {
    static const bool registered = (RegisterProgramResources(), true);
    (void)registered;
    QIcon icon;
    for (const int size : sizes) {
        icon.addFile(QString(":/icons/%1-%2.png").arg(name).arg(size), QSize(size, size));
    }
    return icon;
}

} // namespace

namespace ProgramIcons {

QIcon Application() {
    // Large too: task switchers and HiDPI screens ask for big icons.
    return Sized("qopra2", {16, 22, 32, 48, 64, 128, 256});
}

QIcon Tray() {
    return Sized("qopra2-tray");
}

QIcon ArrivalFirst() {
    return Sized("qopra2-tray-arrival-1");
}

QIcon ArrivalSecond() {
    return Sized("qopra2-tray-arrival-2");
}

} // namespace ProgramIcons

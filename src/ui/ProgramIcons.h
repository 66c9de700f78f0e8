#pragma once

#include <QIcon>

// The program's own pictures, at every size they were drawn for.
namespace ProgramIcons {

QIcon Application();
QIcon Tray();
// The two frames of the arrival animation.
QIcon ArrivalFirst();
QIcon ArrivalSecond();

} // namespace ProgramIcons

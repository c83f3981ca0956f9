#pragma once

namespace reflector {

// Makes Qt quiet for this program: stderr carries the program's own lines and
// real errors only, so Qt's debug, info and warning messages (about the
// desktop environment, platforms and fonts) are dropped while critical and
// fatal messages still get through. Process-wide; install before the
// application object is made.
void InstallQuietMessageHandler();

}  // namespace reflector

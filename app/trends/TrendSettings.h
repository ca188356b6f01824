// What the trend window remembers between runs, in the window's settings
// (QSettings: $XDG_CONFIG_HOME/zashchita/zashchita.ini): the names the user
// gave the relays, kept by port and address; the relay polled last, whose
// history is shown at start-up; the folder of the last export.
#pragma once

#include <QString>

#include "history/RelayId.h"

// The name given to the relay at this port and address; empty for none.
QString RelayName(const RelayId& relay);
void SetRelayName(const RelayId& relay, const QString& name);

// The relay polled last, with its name; not known before the first.
RelayId LastRelay();
void SetLastRelay(const RelayId& relay);

// The folder the last export went to; the documents folder before the first.
QString LastExportFolder();
void SetLastExportFolder(const QString& folder);

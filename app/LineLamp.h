// The port lamp for every kind of line. On a serial line it stays bound to
// the session's serial port and follows its connection, as it always has; on
// a network line there is no port to bind to, so it is unbound and lit by
// hand exactly while the line is open, with the endpoint in its tooltip.
#pragma once

class RelaySession;
class TComLed;

void FollowSessionLine(TComLed* lamp, RelaySession* session);

// What a service tells systemd, by its plain protocols (no library needed): readiness and the
// watchdog through the datagram socket named by NOTIFY_SOCKET, and each log line's priority as
// the "<N>" prefix journald reads on a service's stderr.
#pragma once

#include <chrono>
#include <string>

namespace ponto::systemd {

// True when stderr goes to the journal (systemd sets JOURNAL_STREAM for the service).
bool NoJournal();

// Sends `estado` ("READY=1", "WATCHDOG=1", "STATUS=…", "STOPPING=1") to the socket systemd
// named; nothing when the service was not started by systemd with Type=notify. Never throws.
void Notifica(const std::string& estado);

// The watchdog's period when systemd asked for one (WatchdogSec=), else zero.
std::chrono::microseconds IntervaloWatchdog();

}  // namespace ponto::systemd

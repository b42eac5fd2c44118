// Where the machine's state lives. TORVANE_ROOT relocates every location, so tests and
// demos never touch the real machine and two roots never collide.
#pragma once
#include <string>

namespace tv::platform {

// $TORVANE_ROOT, or empty when unset.
std::string root();
// Machine-wide state: $TORVANE_ROOT, else /var/lib/torvane.
std::string machine_dir();
// Per-user state: $TORVANE_ROOT/user, else $XDG_CONFIG_HOME/torvane (~/.config/torvane).
std::string user_dir();
// Registry hives: <machine_dir>/registry (HKLM, HKCR) and <user_dir>/registry (HKCU).
std::string machine_registry_dir();
std::string user_registry_dir();
// The analysis system's root folder (Windows default C:\ANALYSER): <machine_dir>/ANALYSER.
std::string analyser_default_root();
// Card drive map: <machine_dir>/drives.
std::string drives_dir();
// Window sockets: <machine_dir>/run/windows.
std::string windows_socket_dir();
// Event-log file when TORVANE_ROOT is set: <root>/log/eventlog.txt; empty means syslog.
std::string event_log_file();
// Prefix for named kernel objects (shared memory, events), derived from the root so that
// two roots never see each other's objects. Always begins with '/' and holds no other '/':
// "/tv" + 8 lower-hex digits (FNV-1a of the absolute machine_dir()) + "-".
std::string ipc_prefix();
// The kernel-object name for a name as the system gives it ("RAWECG1.MMF", "Patient Events"):
// ipc_prefix() + the name with '/' and '\\' turned into '_'. Empty when the name is empty,
// holds a NUL byte or would exceed NAME_MAX.
std::string ipc_name(const std::string& name);

// Sockets and other run-time rendezvous points: <machine_dir>/run.
std::string run_dir();

// The site's trust store for signed reports, kept by an administrator: $TORVANE_ROOT/trust, else
// /etc/torvane/trust (owned by root and writable by root only).
std::string trust_store_dir();

}  // namespace tv::platform

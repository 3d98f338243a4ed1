#pragma once
// Finding a host that answers: launcher.port and a connection test.

#include <filesystem>
#include <functional>
#include <string>

#include "platform.h"

// The number at the start of a launcher.port file; 0 when the file is
// missing, empty or does not begin with a number.
int read_launcher_port(const std::filesystem::path& file);

// The port named by launcher.port in `folder`, else in its parent, whose
// connection test succeeds; 0 when neither gives one. `named_by`, when
// given, receives the file that named the port.
int probe_launcher_port(const NativeString& folder, std::filesystem::path* named_by = nullptr);

// The same with the connection test supplied, so it can be watched.
int probe_launcher_port(const NativeString& folder, const std::function<bool(int)>& answers,
                        std::filesystem::path* named_by = nullptr);

// Removes a launcher.port that still names `port`, once its host is ended:
// left behind, it would send the next launch to whatever listens there later.
void forget_launcher_port(const std::filesystem::path& file, int port);

// "http://127.0.0.1:<port>/"
std::string page_address(int port);

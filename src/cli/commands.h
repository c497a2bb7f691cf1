#pragma once

#include <string>
#include <vector>

// Each command takes its arguments (after the command word), prints its own errors as one
// line on stderr and returns the process exit code.
int CommandList(const std::vector<std::string>& args);
int CommandRender(const std::vector<std::string>& args);
int CommandDemo(const std::vector<std::string>& args);
int CommandPitch(const std::vector<std::string>& args);
int CommandRetune(const std::vector<std::string>& args);
int CommandRecord(const std::vector<std::string>& args);
int CommandMonitor(const std::vector<std::string>& args);
int CommandLive(const std::vector<std::string>& args);
int CommandSwitch(const std::vector<std::string>& args);
int CommandDevices(const std::vector<std::string>& args);

#pragma once

#include <string>
#include <vector>

#include "cli/audio_file.h"
#include "effects/voice_effect.h"

namespace qm {

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

// Renders one file through one effect (null: none, the voice unchanged); the output file
// exists only on success. The effect gets the input at its own width, or else converted to
// the other widths effects take (16-bit, then float); the output keeps `width` (null: the
// input's) where its type allows.
bool RenderFile(VoiceEffect* effect, const std::string& in, const std::string& out,
                const SampleWidth* width, std::string& error);

}  // namespace qm

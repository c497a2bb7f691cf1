#pragma once

#include <string>
#include <vector>

class VoiceEffect;

// `quillmar info FILE`: the file's format, duration, tags and the voice recipe that made it.
int CommandInfo(const std::vector<std::string>& args);

// The recipe a rendered file records: the effect's name and its parameters' current values.
std::string VoiceRecipeOf(VoiceEffect& effect);

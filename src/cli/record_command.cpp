#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "capture/recording_name.h"
#include "cli/audio_file.h"
#include "cli/cli_args.h"
#include "cli/commands.h"
#include "cli/live_session.h"

namespace qm {

namespace {

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

bool MakeFolder(const std::string& folder, std::string& error) {
    if (::mkdir(folder.c_str(), 0755) == 0 || errno == EEXIST)
        return true;
    error = "cannot create the folder '" + folder + "': " + std::strerror(errno);
    return false;
}

// The window's naming in the user's music folder: $XDG_MUSIC_DIR or ~/Music, then a folder
// named after the product.
bool DefaultRecordingPath(std::string& path, std::string& error) {
    std::string music;
    if (const char* xdg = std::getenv("XDG_MUSIC_DIR"); xdg != nullptr && xdg[0] != '\0') {
        music = xdg;
    } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') {
        music = std::string(home) + "/Music";
    } else {
        error = "neither XDG_MUSIC_DIR nor HOME is set: give the output file";
        return false;
    }
    const std::string folder = music + "/Quillmar Recorder";
    if (!MakeFolder(music, error) || !MakeFolder(folder, error))
        return false;
    const time_t now = time(nullptr);
    struct tm local {};
    localtime_r(&now, &local);
    const RecordingStartTime start{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                                   local.tm_hour,        local.tm_min,     local.tm_sec};
    std::vector<char> text(folder.size() + kRecordingNameChars + 2);
    if (!ComposeRecordingPath(text, (folder + "/").c_str(), start)) {
        error = "cannot name the recording";
        return false;
    }
    path = text.data();
    return true;
}

std::string RawTakePath(const std::string& out) {
    const std::string ext = LowerExtension(out);
    return out.substr(0, out.size() - (ext.empty() ? 0 : ext.size() + 1)) + ".raw.flac";
}

const CommandSpec kRecordSpec = {
    "record",
    "[OUT]",
    0,
    1,
    "Records from the sound server (PulseAudio or PipeWire) through the chosen effect into OUT "
    "(.mp3, .wav or .flac; default: a new AudYYYY_MM_DD_hh-mm-ss.mp3 in $XDG_MUSIC_DIR or "
    "~/Music, folder \"Quillmar Recorder\"), and prints its path. Stops after --seconds, on "
    "Ctrl-C or when the source goes away; the file is always complete.",
    RecordOptions()};

}  // namespace

int CommandRecord(const std::vector<std::string>& args) {
    ParsedArgs parsed;
    if (const int rc = ParseCommandLine(kRecordSpec, args, parsed); rc >= 0)
        return rc;
    LiveRequest r;
    std::string error;
    if (!ReadLiveRequest(parsed, r, error))
        return ReportUsageError("record", error);
    r.monitor = parsed.Has("--monitor");
    if (!parsed.Operands().empty()) {
        r.out = parsed.Operands()[0];
        if (!IsWritableAudioPath(r.out, error))
            return ReportUsageError("record", error);
    } else if (!DefaultRecordingPath(r.out, error)) {
        return ReportFailure("record", error);
    }
    // Refuse a folder that cannot take the file before anything is recorded.
    const std::string folder = FolderOf(r.out);
    if (::access(folder.c_str(), W_OK) != 0)
        return ReportFailure("record",
                             "cannot write into '" + folder + "': " + std::strerror(errno));
    if (parsed.Has("--keep-raw"))
        r.raw = RawTakePath(r.out);
    return RunLiveSession(r);
}

}  // namespace qm

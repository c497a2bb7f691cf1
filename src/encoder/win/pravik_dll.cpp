// COM server of the encoder library: one class factory per class, no self-registration (the
// recorder loads the library from its own folder and asks it directly).
#include <windows.h>

#include <strmif.h>

#include "encoder/win/encoder_ids.h"
#include "encoder/win/mp3_encoder_filter.h"
#include "encoder/win/mp3_stream_stage.h"
#include "streaming/win/class_factory.h"

using namespace qm;

namespace {

ClassFactory<Mp3EncoderFilter> g_encoderFactory;
ClassFactory<Mp3StreamStage> g_streamStageFactory;

const ClassFactoryEntry kFactories[] = {
    {&kMp3EncoderClsid, &g_encoderFactory},
    {&kMp3StreamStageClsid, &g_streamStageFactory},
};

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    return GetClassObject(kFactories, clsid, iid, out);
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    return CanUnloadServer();
}

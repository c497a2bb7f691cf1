#pragma once

#include <windows.h>

#include <dshow.h>
#include <strmif.h>

#include "streaming/win/com_ptr.h"

namespace qm {

// {B8D27088-FF5F-4B7C-98DC-0E91A1696286}: the encoder stage's class in Pravik.dll.
inline constexpr CLSID CLSID_PravikAudioEncoder = {
    0xb8d27088, 0xff5f, 0x4b7c, {0x98, 0xdc, 0x0e, 0x91, 0xa1, 0x69, 0x62, 0x86}};

// The objects of one recording's graph. Every field owns its reference; what a failed build
// created stays here until the recorder tears it down.
struct CaptureGraph {
    ComPtr<IGraphBuilder> graph;
    ComPtr<ICaptureGraphBuilder2> builder;
    ComPtr<IMediaControl> control;
    ComPtr<IBaseFilter> source;
    ComPtr<IBaseFilter> encoder;
    // Frames the encoded stream into the recording file's layout.
    ComPtr<IBaseFilter> fileStage;
    // Dropped once the file name is set; the graph keeps the filter.
    ComPtr<IBaseFilter> fileWriter;
};

// What a recording's graph is built from.
struct CaptureGraphInputs {
    int deviceIndex = 0;
    HMODULE encoderLibrary = nullptr;
    IBaseFilter* effectFilter = nullptr;
    const char* outputPath = nullptr;
    // For the file's tags (UTF-8, may be null): "YYYY-MM-DDThh:mm:ss" and the voice recipe.
    const char* recorded = nullptr;
    const char* voice = nullptr;
};

// Builds and runs the chain "Audio Sourece" -> "Audio Effects" -> "Audio Encoder" -> file
// stage -> "File Writer" (overwriting the output file) into `g`. The result of Run, or the
// first failure: the creation or query result of the graph objects, E_FAIL for a missing
// device, encoder, file stage or file writer or for any link of the chain that does not
// connect, the result of adding a filter.
HRESULT BuildCaptureGraph(CaptureGraph& g, const CaptureGraphInputs& inputs);

// Creates `clsid` in-process as a filter and adds it to `graph` under `name` (ANSI code
// page). 1 with the filter in `*filter`, else 0.
int AddFilterByClsid(IGraphBuilder* graph, REFCLSID clsid, const char* name,
                     ComPtr<IBaseFilter>* filter);

// A new filter of class `clsid` from `module`'s class factory; null when there is no module,
// no DllGetClassObject, no factory or no object.
ComPtr<IBaseFilter> CreateFilterFromModule(HMODULE module, REFCLSID clsid);

// Connects the first free output pin of `upstream` that a free input pin of `downstream`
// accepts directly (no intermediate filter), in the graph `upstream` belongs to. 1 when a pair
// was connected, else 0.
int ConnectFilters(IBaseFilter* upstream, IBaseFilter* downstream);

// The graph `filter` belongs to, as IGraphBuilder. E_POINTER for null arguments; otherwise
// the result of the query (or of QueryFilterInfo when it fails or names no graph, with the
// out graph null).
HRESULT GraphFromFilter(IBaseFilter* filter, ComPtr<IGraphBuilder>* graph);

// Points `fileWriter` at `path` (ANSI code page), in overwrite mode where the writer offers it.
void SetOutputFile(IBaseFilter* fileWriter, const char* path);

}  // namespace qm

#include "capture/win/capture_graph.h"

#include <uuids.h>

#include "capture/win/capture_devices.h"
#include "encoder/win/encoder_ids.h"
#include "encoder/win/mp3_stream_stage.h"

namespace qm {

namespace {

// Frees what QueryPinInfo and QueryFilterInfo hand back with the information.
struct PinInfo {
    PIN_INFO info{};
    ~PinInfo() {
        if (info.pFilter != nullptr) {
            info.pFilter->Release();
        }
    }
};

bool IsFreePin(IPin* pin, PIN_DIRECTION direction, bool* readable) {
    PinInfo info;
    *readable = SUCCEEDED(pin->QueryPinInfo(&info.info));
    if (!*readable || info.info.dir != direction) {
        return false;
    }
    ComPtr<IPin> peer;
    pin->ConnectedTo(peer.Put());
    return !peer;
}

// Connects `output` to the first free input pin of `downstream` that accepts it. S_OK when
// connected, S_FALSE when no pin took it, a failure when the pins cannot be listed.
HRESULT ConnectToFreeInput(IGraphBuilder* graph, IPin* output, IBaseFilter* downstream) {
    ComPtr<IEnumPins> pins;
    if (FAILED(downstream->EnumPins(pins.Put())) || !pins) {
        return E_FAIL;
    }
    ComPtr<IPin> input;
    while (pins->Next(1, input.Put(), nullptr) == S_OK && input) {
        bool readable = false;
        if (IsFreePin(input.Get(), PINDIR_INPUT, &readable) &&
            SUCCEEDED(graph->ConnectDirect(output, input.Get(), nullptr))) {
            return S_OK;
        }
    }
    return S_FALSE;
}

}  // namespace

HRESULT GraphFromFilter(IBaseFilter* filter, ComPtr<IGraphBuilder>* graph) {
    if (filter == nullptr || graph == nullptr) {
        return E_POINTER;
    }
    graph->Reset();
    FILTER_INFO info{};
    HRESULT hr = filter->QueryFilterInfo(&info);
    if (SUCCEEDED(hr) && info.pGraph != nullptr) {
        hr = info.pGraph->QueryInterface(IID_IGraphBuilder, graph->PutVoid());
        info.pGraph->Release();
    }
    return hr;
}

int ConnectFilters(IBaseFilter* upstream, IBaseFilter* downstream) {
    if (upstream == nullptr || downstream == nullptr) {
        return 0;
    }
    ComPtr<IGraphBuilder> graph;
    if (FAILED(GraphFromFilter(upstream, &graph)) || !graph) {
        return 0;
    }
    ComPtr<IEnumPins> pins;
    if (FAILED(upstream->EnumPins(pins.Put())) || !pins) {
        return 0;
    }
    ComPtr<IPin> output;
    while (pins->Next(1, output.Put(), nullptr) == S_OK && output) {
        bool readable = false;
        const bool free = IsFreePin(output.Get(), PINDIR_OUTPUT, &readable);
        if (!readable) {
            return 0;
        }
        if (!free) {
            continue;
        }
        const HRESULT hr = ConnectToFreeInput(graph.Get(), output.Get(), downstream);
        if (hr == S_OK) {
            return 1;
        }
        if (FAILED(hr)) {
            return 0;
        }
    }
    return 0;
}

int AddFilterByClsid(IGraphBuilder* graph, REFCLSID clsid, const char* name,
                     ComPtr<IBaseFilter>* filter) {
    if (graph == nullptr || filter == nullptr) {
        return 0;
    }
    ComPtr<IBaseFilter> created;
    if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                created.PutVoid())) ||
        !created) {
        return 0;
    }
    wchar_t wideName[MAX_PATH] = {};
    if (name != nullptr && MultiByteToWideChar(CP_ACP, 0, name, -1, wideName, MAX_PATH) == 0) {
        wideName[0] = L'\0';
    }
    graph->AddFilter(created.Get(), wideName);
    *filter = std::move(created);
    return 1;
}

ComPtr<IBaseFilter> CreateFilterFromModule(HMODULE module, REFCLSID clsid) {
    if (module == nullptr) {
        return {};
    }
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    // Through a generic function pointer: FARPROC is declared without arguments.
    const auto getClassObject = reinterpret_cast<GetClassObject>(
        reinterpret_cast<void (*)()>(GetProcAddress(module, "DllGetClassObject")));
    if (getClassObject == nullptr) {
        return {};
    }
    ComPtr<IClassFactory> factory;
    if (FAILED(getClassObject(clsid, IID_IClassFactory, factory.PutVoid())) || !factory) {
        return {};
    }
    ComPtr<IBaseFilter> filter;
    if (FAILED(factory->CreateInstance(nullptr, IID_IBaseFilter, filter.PutVoid()))) {
        return {};
    }
    return filter;
}

void SetOutputFile(IBaseFilter* fileWriter, const char* path) {
    if (fileWriter == nullptr || path == nullptr) {
        return;
    }
    wchar_t widePath[MAX_PATH] = {};
    if (MultiByteToWideChar(CP_ACP, 0, path, -1, widePath, MAX_PATH) == 0) {
        return;
    }
    ComPtr<IFileSinkFilter2> sink2;
    if (SUCCEEDED(fileWriter->QueryInterface(IID_IFileSinkFilter2, sink2.PutVoid())) && sink2) {
        sink2->SetFileName(widePath, nullptr);
        sink2->SetMode(AM_FILE_OVERWRITE);
        return;
    }
    ComPtr<IFileSinkFilter> sink;
    if (SUCCEEDED(fileWriter->QueryInterface(IID_IFileSinkFilter, sink.PutVoid())) && sink) {
        sink->SetFileName(widePath, nullptr);
    }
}

HRESULT BuildCaptureGraph(CaptureGraph& g, const CaptureGraphInputs& inputs) {
    HRESULT hr =
        CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER,
                         IID_IGraphBuilder, g.graph.PutVoid());
    if (FAILED(hr)) {
        return hr;
    }
    hr = CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr,
                          CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER, IID_ICaptureGraphBuilder2,
                          g.builder.PutVoid());
    if (FAILED(hr)) {
        return hr;
    }
    hr = g.graph.As(&g.control);
    if (FAILED(hr)) {
        return hr;
    }
    hr = g.builder->SetFiltergraph(g.graph.Get());
    if (FAILED(hr)) {
        return hr;
    }
    g.fileStage.Reset();
    g.fileWriter.Reset();
    g.source.Reset();
    g.encoder.Reset();

    g.source = FindCaptureDevice(inputs.deviceIndex);
    if (!g.source) {
        return E_FAIL;
    }
    hr = g.graph->AddFilter(g.source.Get(), L"Audio Sourece");
    if (FAILED(hr)) {
        return hr;
    }
    g.encoder = CreateFilterFromModule(inputs.encoderLibrary, CLSID_PravikAudioEncoder);
    if (!g.encoder) {
        return E_FAIL;
    }
    hr = g.graph->AddFilter(g.encoder.Get(), L"Audio Encoder");
    if (FAILED(hr)) {
        return hr;
    }
    if (inputs.effectFilter == nullptr) {
        return E_POINTER;
    }
    hr = g.graph->AddFilter(inputs.effectFilter, L"Audio Effects");
    if (FAILED(hr)) {
        return hr;
    }
    if (FAILED(CreateMp3StreamStage(g.fileStage.Put())) || !g.fileStage) {
        return E_FAIL;
    }
    hr = g.graph->AddFilter(g.fileStage.Get(), kMp3StreamStageName);
    if (FAILED(hr)) {
        return hr;
    }
    // The stage titles the file after its name and completes it itself when the graph is
    // stopped without end-of-stream.
    ComPtr<IMp3RecordingTags> tags;
    wchar_t widePath[MAX_PATH] = {};
    if (inputs.outputPath != nullptr &&
        MultiByteToWideChar(CP_ACP, 0, inputs.outputPath, -1, widePath, MAX_PATH) > 0 &&
        SUCCEEDED(g.fileStage->QueryInterface(IID_IMp3RecordingTags, tags.PutVoid())) && tags) {
        tags->SetRecordingTags(widePath, inputs.recorded, inputs.voice);
    }
    if (!AddFilterByClsid(g.graph.Get(), CLSID_FileWriter, "File Writer", &g.fileWriter)) {
        return E_FAIL;
    }
    // A missing link would run a graph that writes an empty or silent recording; better to
    // refuse the start.
    if (!ConnectFilters(g.source.Get(), inputs.effectFilter) ||
        !ConnectFilters(inputs.effectFilter, g.encoder.Get()) ||
        !ConnectFilters(g.encoder.Get(), g.fileStage.Get()) ||
        !ConnectFilters(g.fileStage.Get(), g.fileWriter.Get())) {
        return E_FAIL;
    }
    SetOutputFile(g.fileWriter.Get(), inputs.outputPath);
    g.fileWriter.Reset();
    return g.control->Run();
}

}  // namespace qm

#include "mp3_graph_helpers.h"

#include <uuids.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "encoder/win/encoder_ids.h"

namespace qm {

namespace {

using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);

}  // namespace

HMODULE PravikModule() {
    static HMODULE module = LoadLibraryW(L"Pravik.dll");
    return module;
}

HRESULT CreateFromPravik(const CLSID& clsid, IUnknown* outer, REFIID iid, void** out) {
    // Through void(*)(), the generic function pointer type: GetProcAddress's is not the
    // export's.
    auto getClassObject = reinterpret_cast<GetClassObjectFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(PravikModule(), "DllGetClassObject")));
    if (getClassObject == nullptr) {
        return E_FAIL;
    }
    ComPtr<IClassFactory> factory;
    if (HRESULT hr = getClassObject(clsid, IID_IClassFactory, factory.PutVoid()); FAILED(hr)) {
        return hr;
    }
    return factory->CreateInstance(outer, iid, out);
}

ComPtr<IBaseFilter> CreatePravikEncoder() {
    ComPtr<IBaseFilter> encoder;
    CreateFromPravik(kMp3EncoderClsid, nullptr, IID_IBaseFilter, encoder.PutVoid());
    return encoder;
}

ComPtr<IBaseFilter> CreateFileWriter(const std::string& path) {
    DeleteFileA(path.c_str());
    ComPtr<IBaseFilter> writer;
    ComPtr<IFileSinkFilter> sink;
    if (FAILED(CoCreateInstance(CLSID_FileWriter, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                writer.PutVoid())) ||
        FAILED(writer->QueryInterface(IID_IFileSinkFilter, sink.PutVoid()))) {
        return {};
    }
    const std::wstring wide(path.begin(), path.end());
    if (FAILED(sink->SetFileName(wide.c_str(), nullptr))) {
        return {};
    }
    return writer;
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

TaggedMp3 ReadTaggedMp3(const std::vector<uint8_t>& file) {
    TaggedMp3 result;
    result.id3 = ReadId3Tag(file);
    result.id3Bytes = std::min(Id3TagBytes(file), file.size());
    const auto frames = std::span<const uint8_t>(file).subspan(result.id3Bytes);
    const auto header = ParseMp3FrameHeader(frames);
    if (!header || header->FrameBytes() > frames.size()) {
        return result;
    }
    result.tag = ReadInfoTag(frames);
    result.audio.Feed(frames.subspan(header->FrameBytes()));
    return result;
}

}  // namespace qm

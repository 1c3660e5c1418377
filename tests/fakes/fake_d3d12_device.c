/* The device of the test-only d3d12.dll (fake_d3d12_dll.cpp), written against the C interface
   of mingw-w64's d3d12.h so that the compiler puts each method in its slot of the vtable. It
   answers as a device of feature level 12_1 and shader model 6.6 made by a runtime that knows
   neither feature level 12_2 nor shader models past 6.6: such a runtime refuses a list that
   holds 12_2, and a model it does not know, with E_INVALIDARG. Only IUnknown's methods and
   CheckFeatureSupport are there: a call to any other crashes, and the test sees it. */

#include <initguid.h>
#include <windows.h>
#include <d3d12.h>

#include "fake_d3d12_device.h"

enum {
  kLevel12_1 = 0xc100,
  kLevel12_2 = 0xc200,
  kShaderModel6_6 = 0x66,
};

typedef struct FakeDevice {
  ID3D12Device device;
  LONG references;
} FakeDevice;

static HRESULT STDMETHODCALLTYPE queryInterface(ID3D12Device* self, REFIID riid, void** out) {
  if (IsEqualGUID(riid, &IID_IUnknown) || IsEqualGUID(riid, &IID_ID3D12Object) ||
      IsEqualGUID(riid, &IID_ID3D12Device)) {
    *out = self;
    self->lpVtbl->AddRef(self);
    return S_OK;
  }
  *out = NULL;
  return E_NOINTERFACE;
}

static ULONG STDMETHODCALLTYPE addRef(ID3D12Device* self) {
  return (ULONG)InterlockedIncrement(&((FakeDevice*)self)->references);
}

static ULONG STDMETHODCALLTYPE release(ID3D12Device* self) {
  const LONG left = InterlockedDecrement(&((FakeDevice*)self)->references);
  if (left == 0) HeapFree(GetProcessHeap(), 0, self);
  return (ULONG)left;
}

static HRESULT featureLevels(D3D12_FEATURE_DATA_FEATURE_LEVELS* data) {
  D3D_FEATURE_LEVEL best = (D3D_FEATURE_LEVEL)0;
  UINT i;
  if (data->NumFeatureLevels == 0 || data->pFeatureLevelsRequested == NULL) return E_INVALIDARG;
  for (i = 0; i < data->NumFeatureLevels; ++i) {
    const D3D_FEATURE_LEVEL level = data->pFeatureLevelsRequested[i];
    if ((int)level >= kLevel12_2) return E_INVALIDARG;
    if ((int)level <= kLevel12_1 && level > best) best = level;
  }
  if (best == 0) return DXGI_ERROR_UNSUPPORTED;
  data->MaxSupportedFeatureLevel = best;
  return S_OK;
}

static HRESULT STDMETHODCALLTYPE checkFeatureSupport(ID3D12Device* self, D3D12_FEATURE feature,
                                                     void* data, UINT size) {
  (void)self;
  if (data == NULL) return E_INVALIDARG;
  switch (feature) {
    case D3D12_FEATURE_FEATURE_LEVELS:
      if (size != sizeof(D3D12_FEATURE_DATA_FEATURE_LEVELS)) return E_INVALIDARG;
      return featureLevels((D3D12_FEATURE_DATA_FEATURE_LEVELS*)data);
    case D3D12_FEATURE_SHADER_MODEL: {
      D3D12_FEATURE_DATA_SHADER_MODEL* model = (D3D12_FEATURE_DATA_SHADER_MODEL*)data;
      if (size != sizeof *model || (int)model->HighestShaderModel > kShaderModel6_6) return E_INVALIDARG;
      return S_OK;  /* the model asked for is one this device has */
    }
    case D3D12_FEATURE_D3D12_OPTIONS: {
      D3D12_FEATURE_DATA_D3D12_OPTIONS* options = (D3D12_FEATURE_DATA_D3D12_OPTIONS*)data;
      if (size != sizeof *options) return E_INVALIDARG;
      ZeroMemory(options, sizeof *options);
      options->ResourceBindingTier = D3D12_RESOURCE_BINDING_TIER_3;
      return S_OK;
    }
    case D3D12_FEATURE_D3D12_OPTIONS1: {
      D3D12_FEATURE_DATA_D3D12_OPTIONS1* options = (D3D12_FEATURE_DATA_D3D12_OPTIONS1*)data;
      if (size != sizeof *options) return E_INVALIDARG;
      ZeroMemory(options, sizeof *options);
      options->WaveOps = TRUE;
      options->WaveLaneCountMin = options->WaveLaneCountMax = 32;
      return S_OK;
    }
    case D3D12_FEATURE_D3D12_OPTIONS4: {
      D3D12_FEATURE_DATA_D3D12_OPTIONS4* options = (D3D12_FEATURE_DATA_D3D12_OPTIONS4*)data;
      if (size != sizeof *options) return E_INVALIDARG;
      ZeroMemory(options, sizeof *options);
      options->Native16BitShaderOpsSupported = TRUE;
      return S_OK;
    }
    case D3D12_FEATURE_ARCHITECTURE1: {
      D3D12_FEATURE_DATA_ARCHITECTURE1* architecture = (D3D12_FEATURE_DATA_ARCHITECTURE1*)data;
      if (size != sizeof *architecture || architecture->NodeIndex != 0) return E_INVALIDARG;
      architecture->TileBasedRenderer = FALSE;
      architecture->UMA = FALSE;
      architecture->CacheCoherentUMA = FALSE;
      architecture->IsolatedMMU = TRUE;
      return S_OK;
    }
    case D3D12_FEATURE_ARCHITECTURE: {
      D3D12_FEATURE_DATA_ARCHITECTURE* architecture = (D3D12_FEATURE_DATA_ARCHITECTURE*)data;
      if (size != sizeof *architecture || architecture->NodeIndex != 0) return E_INVALIDARG;
      architecture->TileBasedRenderer = FALSE;
      architecture->UMA = FALSE;
      architecture->CacheCoherentUMA = FALSE;
      return S_OK;
    }
    default:
      return E_INVALIDARG;
  }
}

static const ID3D12DeviceVtbl kDeviceMethods = {
    .QueryInterface = queryInterface,
    .AddRef = addRef,
    .Release = release,
    .CheckFeatureSupport = checkFeatureSupport,
};

HRESULT fakeD3d12Device(REFIID riid, void** out) {
  FakeDevice* device;
  if (out == NULL) return S_FALSE; /* the runtime's answer to "could a device be made" */
  *out = NULL;
  if (!IsEqualGUID(riid, &IID_ID3D12Device)) return E_NOINTERFACE;
  device = (FakeDevice*)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof *device);
  if (device == NULL) return E_OUTOFMEMORY;
  device->device.lpVtbl = (ID3D12DeviceVtbl*)&kDeviceMethods;
  device->references = 1;
  *out = &device->device;
  return S_OK;
}

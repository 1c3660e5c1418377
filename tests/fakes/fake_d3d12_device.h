#pragma once
/* The device of the test-only d3d12.dll, in C (fake_d3d12_device.c). */

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

/* A new device for riid ID3D12Device; S_FALSE without out, as the runtime answers then. */
HRESULT fakeD3d12Device(REFIID riid, void** out);

#ifdef __cplusplus
}
#endif

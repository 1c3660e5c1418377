// A test-only dxcore.dll that lacks DXCoreCreateAdapterFactory.
extern "C" int FakeDxcoreNothing() { return 0; }

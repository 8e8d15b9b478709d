// Placeholder entry; replaced by the plug-in entry functions.
extern "C" __attribute__((visibility("default"))) void* VSTPluginMain(void*) { return nullptr; }

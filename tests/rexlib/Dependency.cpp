// A library the "needsdep" build of the stand-in links against; the tests leave it out so
// that the stand-in is found but cannot be loaded.
#if defined(_WIN32)
#define DEPENDENCY_EXPORT extern "C" __declspec(dllexport)
#else
#define DEPENDENCY_EXPORT extern "C" __attribute__((visibility("default")))
#endif

DEPENDENCY_EXPORT int corvane_rexstub_dependency() {
    return 1;
}

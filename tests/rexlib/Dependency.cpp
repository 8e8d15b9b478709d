// A library the "needsdep" build of the stand-in links against; the tests leave it out so
// that the stand-in is found but cannot be loaded.
extern "C" __attribute__((visibility("default"))) int corvane_rexstub_dependency() {
    return 1;
}

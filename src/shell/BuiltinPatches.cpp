#include "shell/BuiltinPatches.h"

#include <cstring>

namespace corvane {
namespace {

PatchRecord makeInitPatch() {
    PatchRecord p;
    std::memset(&p, 0, sizeof p);
    std::strcpy(p.name, "Init Patch");
    struct SlotValue {
        int slot;
        float value;
    };
    static const SlotValue kValues[] = {
        {1, 0.5f},        {2, 0.5f},        {6, 0.5f},        {7, 0.5f},        {16, 0.5f},
        {19, 0.505f},     {20, 1.0f},       {23, 0.495f},     {24, 1.0f},       {28, 1.0f},
        {31, 0.5f},       {33, 0.6666667f}, {34, 0.5f},       {35, 0.5f},       {42, 0.6666667f},
        {43, 0.5f},       {44, 0.5f},       {51, 0.6666667f}, {52, 0.5f},       {53, 0.5f},
        {58, 0.5f},       {71, 0.65f},      {72, 0.5f},       {73, 0.5f},       {74, 0.365001f},
        {81, 0.505f},     {83, 1.0f},       {86, 0.505f},     {88, 0.5f},       {89, 0.5f},
        {90, 0.515f},     {92, 0.51f},      {93, 0.58f},      {94, 0.505f},     {98, 1.0f},
        {99, 0.5f},       {100, 1.0f},      {102, 0.5f},      {103, 0.5f},      {104, 0.5f},
        {105, 0.5f},      {107, 0.5f},      {108, 0.5f},      {109, 0.5f},      {110, 0.5f},
        {114, 1.0f},      {128, 1.000001f}, {160, 1.000001f}, {192, 3.000001f}, {256, 0.007815f},
        {258, 0.007815f}, {260, 0.007815f}, {262, 0.01f},     {288, 0.5f},      {320, 0.230003f},
        {321, 0.140001f},
    };
    for (const SlotValue& sv : kValues)
        p.slots[sv.slot] = sv.value;
    for (int s = 161; s <= 191; ++s)
        p.slots[s] = 0.5f;
    return p;
}

}  // namespace

const PatchRecord& initPatch() {
    static const PatchRecord kInit = makeInitPatch();
    return kInit;
}

void fillPatchStore(PatchRecord* store, int count) {
    for (int i = 0; i < count; ++i) {
        PatchRecord& r = store[i];
        std::memcpy(&r, &initPatch(), sizeof r);
        for (int k = 0; k < 6; ++k)
            r.slots[323 + k] = static_cast<float>(k);
        std::memset(r.reservedArea, 0, sizeof r.reservedArea);
        r.sampleFile[0] = 0;
    }
}

}  // namespace corvane

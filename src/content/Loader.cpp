// Loading instruments into the engine's sample map under the loading/renderBusy hand-over.
#include "engine/Harrow.h"

namespace corvane {

void Harrow::selectProgram(int program) { currentProgram = program & 127; }
void Harrow::loadFromPath(const char*) {}
void Harrow::setBankFolder(const char*) {}

}  // namespace corvane

// The shared library's only own source: it pulls the exported functions of
// kivra_internal into libkivra.so.
#include "kivra.h"

extern "C" {
// Referencing the exports keeps the linker from dropping their object.
__attribute__((used)) static void* const kivraExportTable[] = {
    reinterpret_cast<void*>(&SetHostCallbacks), reinterpret_cast<void*>(&TsOpen),
    reinterpret_cast<void*>(&TsRead),           reinterpret_cast<void*>(&TsClose),
    reinterpret_cast<void*>(&UpdateVideo),      reinterpret_cast<void*>(&SetPackSize),
};
}

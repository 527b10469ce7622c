// The public header compiles on its own as C++.
#include "kivra.h"

static_assert(KIVRA_MSG_RESIZE == 0x1403, "resize request id");
static_assert(sizeof(TavrelDecRead) == 28 || sizeof(TavrelDecRead) == 32, "seven 32-bit words");

int kivraHeaderCppCheck() {
    TavrelDecRead r{};
    return r.displayWidth;
}

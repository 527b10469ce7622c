/* The public header compiles on its own as C. */
#include "kivra.h"

int kivra_header_c_check(void) {
    TavrelDecRead r = {0, 0x100, 270, 0, 9, 2};
    TavrelDecInit i = {0, 0, 0, 0, 1};
    TavrelDecHost h = {0, 0, 0, 3, 0};
    (void)i;
    (void)h;
    return (int)sizeof(r) + KIVRA_MSG_RESIZE;
}

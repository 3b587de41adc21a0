/* Another program's use of the discovery library: start it, ask once, stop. */
#include <scanlet.h>
#include <stdio.h>

int main(void) {
    if (BSC_Init() != 1) {
        fprintf(stderr, "BSC_Init failed\n");
        return 1;
    }
    DeviceInfo devices[4] = {0};
    int count = 4;
    int rc = BSC_GetDevInfo(devices, &count);
    printf("BSC_Init 1, BSC_GetNum %d, BSC_GetDevInfo %d (%d cameras), ", BSC_GetNum(), rc, count);
    int stopped = BSC_DeInit();
    printf("BSC_DeInit %d\n", stopped);
    return rc == 1 && stopped == 1 ? 0 : 1;
}
